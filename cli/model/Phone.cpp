#include "model/Phone.h"

#include <phonenumbers/phonenumberutil.h>
#include <phonenumbers/shortnumberinfo.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string_view>

namespace zusms::cli {

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;
using i18n::phonenumbers::ShortNumberInfo;

const ShortNumberInfo& ShortNumbers() {
  static const ShortNumberInfo info;  // reads its metadata once
  return info;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// "zh_CN.UTF-8" -> "CN"; "" for "C", "POSIX" and names without a country.
std::string RegionOfLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    const std::string_view locale(value);
    const size_t underscore = locale.find('_');
    if (underscore == std::string_view::npos || locale.size() < underscore + 3) return "";
    return std::string(locale.substr(underscore + 1, 2));
  }
  return "";
}

}  // namespace

std::string RegionCode(const std::string& region) {
  return KnownRegion(region) ? Upper(region) : "";
}

std::string LocaleRegion() { return RegionCode(RegionOfLocale()); }

namespace {

// The direction controls a number may hold (marks, embeddings, overrides,
// isolates), in UTF-8.
constexpr std::string_view kControls[] = {"\u061C", "\u200E", "\u200F", "\u202A",
                                          "\u202B", "\u202C", "\u202D", "\u202E",
                                          "\u2066", "\u2067", "\u2068", "\u2069"};

bool HasControl(const std::string& text) {
  return std::any_of(std::begin(kControls), std::end(kControls),
                     [&](std::string_view c) { return text.find(c) != std::string::npos; });
}

std::string WithoutControls(std::string text) {
  for (const std::string_view control : kControls) {
    for (size_t at; (at = text.find(control)) != std::string::npos;) text.erase(at, control.size());
  }
  return text;
}

// Reads a number written with its country: under the unknown region "ZZ"
// no other is read.
bool ParsedWithCountry(const std::string& written, PhoneNumber& number) {
  return PhoneNumberUtil::GetInstance()->Parse(written, "ZZ", &number) ==
         PhoneNumberUtil::NO_PARSING_ERROR;
}

}  // namespace

std::string CountryOf(const std::string& written) {
  const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
  PhoneNumber number;
  if (!ParsedWithCountry(written, number)) return "";
  std::string region;
  util.GetRegionCodeForNumber(number, &region);
  if (region.empty() || region == "ZZ" || region == "001") {
    util.GetRegionCodeForCountryCode(number.country_code(), &region);
  }
  return region == "ZZ" || region == "001" ? "" : region;
}

std::string NationalDigits(const std::string& written) {
  PhoneNumber number;
  if (!ParsedWithCountry(WithoutControls(written), number)) return "";
  std::string national;
  PhoneNumberUtil::GetInstance()->GetNationalSignificantNumber(number, &national);
  return national;
}

bool NumberMatch::operator()(const std::string& written) const {
  const auto [at, first] = seen_.try_emplace(written, false);
  if (first) at->second = numbers_.Key(written) == key_;
  return at->second;
}

bool KnownRegion(const std::string& region) {
  std::set<std::string> known;
  PhoneNumberUtil::GetInstance()->GetSupportedRegions(&known);
  return known.count(Upper(region)) > 0;
}

PhoneNumbers::PhoneNumbers(std::string region)
    : region_(Upper(region.empty() ? RegionOfLocale() : std::move(region))) {
  if (!KnownRegion(region_)) region_.clear();
}

std::string PhoneNumbers::Key(const std::string& written) const {
  std::string plain;
  for (char c : written) {
    if (c != ' ' && c != '-' && c != '(' && c != ')' && c != '.') plain += c;
  }
  // A number holding a direction control is not read (libphonenumber would
  // drop one at its start): it stays as written, so that where it is shown
  // its controls show ("[U+061C]") and it is never taken for the plain one.
  if (HasControl(plain)) return plain;
  const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
  // Without a region only numbers written with their country are read.
  const std::string region = region_.empty() ? "ZZ" : region_;
  PhoneNumber number;
  if (util.ParseAndKeepRawInput(written, region, &number) != PhoneNumberUtil::NO_PARSING_ERROR) {
    return plain;
  }
  if (util.IsPossibleNumberWithReason(number) != PhoneNumberUtil::IS_POSSIBLE) return plain;
  if (number.country_code_source() == PhoneNumber::FROM_DEFAULT_COUNTRY &&
      ShortNumbers().IsPossibleShortNumberForRegion(number, region) &&
      !util.IsValidNumber(number)) {
    return plain;
  }
  std::string e164;
  util.Format(number, PhoneNumberUtil::E164, &e164);
  return e164;
}

}  // namespace zusms::cli
