#include "model/Region.h"

#include <unistd.h>

#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "model/Messages.h"
#include "text/Print.h"

namespace zusms::cli {

namespace {

constexpr const char16_t* kRegion = u"region";

constexpr const char* kHowToSet =
    "set it with `zusms config region XX` (XX: a two-letter country code such as CN or DE)";

// Asks on the terminal until the answer is a known region or empty.
std::string AskRegion() {
  for (int tries = 0; tries < 3; ++tries) {
    std::cerr << "zusms: which country do the numbers written without a country code belong to? "
                 "A two-letter code such as CN or DE (empty: none): "
              << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return "";
    answer.erase(0, answer.find_first_not_of(" \t"));
    answer.erase(answer.find_last_not_of(" \t\r") + 1);
    if (answer.empty() || KnownRegion(answer)) return RegionCode(answer);
    std::cerr << "zusms: unknown region \"" << PrintableLines(answer) << "\"\n";
  }
  return "";
}

// Visits each number the user's messages are written with once: one pass
// over the store.
void ForEachNumber(Store& store, const std::function<void(const std::string&)>& visit) {
  std::set<std::u16string> seen;
  store.ForEachHead([&](const SmsHead& h) {
    const std::u16string_view tel = FieldText(h.tel, std::size(h.tel));
    if (seen.emplace(tel).second) visit(Utf8(tel.data(), tel.size()));
  });
}

}  // namespace

std::string StoreRegion(Store& store) {
  char16_t value[ZU_SETTING_VALUE_MAX + 1];
  uint32_t length = 0;
  const int32_t status = GetZuSmsSetting(*store, kRegion, value, std::size(value), &length);
  if (status == 100) return "";
  Check(status, "reading the store's region");
  // Kept by another program as something unknown: as if none were kept.
  return RegionCode(Utf8(value, std::size(value)));
}

void KeepRegion(Store& store, const std::string& region) {
  Check(SetZuSmsSetting(*store, kRegion, Utf16(RegionCode(region)).c_str()),
        "keeping the store's region");
}

PhoneNumbers NumbersOf(Store& store, const std::string& option) {
  return PhoneNumbers(option.empty() ? StoreRegion(store) : option);
}

std::vector<std::string> WrittenForms(Store& store, const NumberMatch& match) {
  std::vector<std::string> forms;
  ForEachNumber(store, [&](const std::string& written) {
    if (match(written)) forms.push_back(written);
  });
  return forms;
}

std::string GuessRegion(Store& store, std::string& why) {
  std::map<std::string, size_t> countries;
  ForEachNumber(store, [&](const std::string& written) {
    const std::string country = CountryOf(written);
    if (!country.empty()) ++countries[country];
  });
  std::string best;
  size_t most = 0;
  for (const auto& [country, n] : countries) {
    if (n > most) best = country, most = n;
  }
  if (!best.empty()) {
    why = "the country most numbers written with a country code belong to";
    return best;
  }
  why = "the locale";
  return LocaleRegion();
}

void SettleRegionAfterImport(Store& store, const std::string& option, bool may_ask) {
  if (!StoreRegion(store).empty()) return;
  if (!option.empty()) {
    KeepRegion(store, option);
    std::cerr << "zusms: the store's region is now " << RegionCode(option)
              << " (--region); numbers written without a country code are read as its\n";
    return;
  }
  std::string why;
  std::string region = GuessRegion(store, why);
  if (!region.empty()) {
    KeepRegion(store, region);
    std::cerr << "zusms: warning: the store's region is now " << region << ", guessed from " << why
              << ": numbers written without a country code are read as " << region
              << "'s; if that is wrong, " << kHowToSet << "\n";
    return;
  }
  if (may_ask && isatty(STDIN_FILENO)) region = AskRegion();
  if (!region.empty()) {
    KeepRegion(store, region);
    std::cerr << "zusms: the store's region is now " << region << "\n";
    return;
  }
  std::cerr << "zusms: warning: the store has no region and none could be guessed: numbers "
               "written without a country code are compared as written; "
            << kHowToSet << "\n";
}

}  // namespace zusms::cli
