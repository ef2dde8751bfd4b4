#include "Numbers.h"

#include <algorithm>
#include <iterator>

namespace zusms::search {
namespace {

struct Region {
  const char* code;
  int calling;
  const char* trunk;
  const char* abroad;  // "" where the country has no one prefix
};

constexpr Region kRegions[] = {
#include "Regions.inc"
};

const Region* Find(std::string_view region) {
  if (region.size() != 2) return nullptr;
  char code[3] = {0, 0, 0};
  for (size_t i = 0; i < 2; ++i) {
    const char c = region[i];
    code[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  const auto* end = std::end(kRegions);
  const auto* r = std::lower_bound(std::begin(kRegions), end, std::string_view(code),
                                   [](const Region& a, std::string_view b) { return a.code < b; });
  return r != end && r->code == std::string_view(code) ? r : nullptr;
}

bool Separator(char16_t c) {
  return c == u' ' || c == u'-' || c == u'.' || c == u'/' || c == u'(' || c == u')' || c == u'\t' ||
         c == 0xA0;
}

bool StartsWith(std::u16string_view text, const char* prefix) {
  const std::string_view p(prefix);
  if (p.empty() || text.size() < p.size()) return false;
  for (size_t i = 0; i < p.size(); ++i) {
    if (text[i] != static_cast<char16_t>(p[i])) return false;
  }
  return true;
}

}  // namespace

bool KnownRegion(std::string_view region) { return Find(region) != nullptr; }

std::u16string PersonKey(std::u16string_view tel, std::string_view region) {
  std::u16string plain;
  for (const char16_t c : tel) {
    if (!Separator(c)) plain += c;
  }
  const bool plus = !plain.empty() && plain[0] == u'+';
  const std::u16string_view digits = std::u16string_view(plain).substr(plus ? 1 : 0);
  const bool number = !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char16_t c) {
    return c >= u'0' && c <= u'9';
  });
  if (!number) return plain;
  if (plus) return plain;
  const Region* r = Find(region);
  if (!r) return plain;
  if (StartsWith(digits, r->abroad)) {
    const std::u16string_view rest = digits.substr(std::string_view(r->abroad).size());
    if (!rest.empty()) return u"+" + std::u16string(rest);
  }
  std::u16string_view national = digits;
  if (StartsWith(national, r->trunk)) national.remove_prefix(std::string_view(r->trunk).size());
  if (national.size() < kShortestNational) return plain;
  std::u16string key = u"+";
  for (const char c : std::to_string(r->calling)) key += static_cast<char16_t>(c);
  return key += national;
}

}  // namespace zusms::search
