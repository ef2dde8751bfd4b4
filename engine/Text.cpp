#include "Text.h"

#include <utf8.h>

#include <cstdint>
#include <cstdio>

namespace zusms::engine {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

bool IsLead(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsTrail(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  // utfcpp raises on a surrogate without its partner: each becomes U+FFFD
  // first.
  std::u16string paired(text);
  for (size_t i = 0; i < paired.size(); ++i) {
    if (IsLead(paired[i]) && i + 1 < paired.size() && IsTrail(paired[i + 1])) {
      ++i;
    } else if (IsLead(paired[i]) || IsTrail(paired[i])) {
      paired[i] = kReplacement;
    }
  }
  return utf8::utf16to8(paired);
}

std::u16string ToUtf16(std::string_view text) {
  if (utf8::is_valid(text)) return utf8::utf8to16(text);
  return utf8::utf8to16(utf8::replace_invalid(text));
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool ParseTimestamp(const char* text, tagTIMESTAMP_STRUCT& out) {
  int year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;
  int used = 0;
  if (!text || std::sscanf(text, "%4d-%2u-%2u %2u:%2u:%2u%n", &year, &month, &day, &hour, &minute,
                           &second, &used) < 6) {
    return false;
  }
  if (text[used] == '.') {
    unsigned scale = 100000000;
    for (const char* p = text + used + 1; *p >= '0' && *p <= '9' && scale > 0; ++p) {
      fraction += static_cast<unsigned>(*p - '0') * scale;
      scale /= 10;
    }
  }
  out = tagTIMESTAMP_STRUCT{};
  out.year = static_cast<int16_t>(year);
  out.month = static_cast<uint16_t>(month);
  out.day = static_cast<uint16_t>(day);
  out.hour = static_cast<uint16_t>(hour);
  out.minute = static_cast<uint16_t>(minute);
  out.second = static_cast<uint16_t>(second);
  out.fraction = fraction;
  return true;
}

}  // namespace zusms::engine
