// Writes search/UnicodeTables.inc, the character tables of search/Folding.cpp,
// from the ICU it is built with. Run once per Unicode version, from the
// repository's top folder:
//
//   g++ -std=c++20 -O2 scripts/unicode_tables.cpp -licuuc -o /tmp/unicode_tables &&
//     /tmp/unicode_tables > search/UnicodeTables.inc
//
// The library and the tool then need no ICU. tests/folding_test.cpp checks
// the tables against the ICU of the build, character by character.
#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/uversion.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using Chars = std::u32string;

const UNormalizer2* Form(bool composed) {
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* form =
      composed ? unorm2_getNFCInstance(&status) : unorm2_getNFDInstance(&status);
  if (U_FAILURE(status)) std::abort();
  return form;
}

std::u16string Utf16(const Chars& chars) {
  std::u16string out;
  for (const char32_t c : chars) {
    if (c > 0xFFFF) {
      out += static_cast<char16_t>(0xD7C0 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

Chars Utf32(const std::u16string& text) {
  Chars out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    out += c;
  }
  return out;
}

Chars Normalized(bool composed, const Chars& chars) {
  const std::u16string in = Utf16(chars);
  char16_t out[64];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n =
      unorm2_normalize(Form(composed), reinterpret_cast<const UChar*>(in.data()),
                       static_cast<int32_t>(in.size()), reinterpret_cast<UChar*>(out), 64, &status);
  if (U_FAILURE(status)) std::abort();
  return Utf32(std::u16string(out, static_cast<size_t>(n)));
}

// The plain folding: full case folding of the character's composed form.
Chars Folded(char32_t c) {
  const std::u16string in = Utf16(Normalized(true, Chars(1, c)));
  char16_t out[64];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n =
      u_strFoldCase(reinterpret_cast<UChar*>(out), 64, reinterpret_cast<const UChar*>(in.data()),
                    static_cast<int32_t>(in.size()), U_FOLD_CASE_DEFAULT, &status);
  if (U_FAILURE(status)) std::abort();
  return Utf32(std::u16string(out, static_cast<size_t>(n)));
}

bool Hangul(char32_t c) { return c >= 0xAC00 && c < 0xAC00 + 11172; }
bool Surrogate(char32_t c) { return c >= 0xD800 && c < 0xE000; }

// Writes the characters that `map` changes as spans {first, last, stride,
// length, value} sorted by first: length 1 maps first, first + stride, ...
// up to last, each c to c + value; a longer length maps the one character
// first to `length` characters of the pool from `value` on.
void WriteMap(const char* name, Chars (*map)(char32_t)) {
  std::map<char32_t, Chars> changed;
  for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
    if (Surrogate(c) || Hangul(c)) continue;
    Chars to = map(c);
    if (to != Chars(1, c)) changed.emplace(c, std::move(to));
  }
  Chars pool;
  std::printf("constexpr Span k%sSpans[] = {\n", name);
  int count = 0;
  for (auto at = changed.begin(); at != changed.end();) {
    const char32_t first = at->first;
    const Chars& to = at->second;
    char32_t last = first;
    long stride = 1, value = 0;
    auto next = std::next(at);
    if (to.size() == 1) {
      value = static_cast<long>(to[0]) - static_cast<long>(first);
      if (next != changed.end() && next->second.size() == 1 &&
          static_cast<long>(next->second[0]) - static_cast<long>(next->first) == value &&
          next->first - first <= 2) {
        stride = next->first - first;
        while (next != changed.end() && next->second.size() == 1 && next->first == last + stride &&
               static_cast<long>(next->second[0]) - static_cast<long>(next->first) == value) {
          last = next->first;
          ++next;
        }
      }
    } else {
      value = static_cast<long>(pool.size());
      pool += to;
    }
    std::printf("{0x%X,0x%X,%ld,%zu,%ld},", static_cast<unsigned>(first),
                static_cast<unsigned>(last), stride, to.size(), value);
    if (++count % 6 == 0) std::printf("\n");
    at = next;
  }
  std::printf("};\nconstexpr char32_t k%sPool[] = {", name);
  for (size_t i = 0; i < pool.size(); ++i) {
    std::printf("%s0x%X,", i % 12 == 0 ? "\n" : "", static_cast<unsigned>(pool[i]));
  }
  std::printf("0};\n\n");
}

}  // namespace

int main() {
  UVersionInfo version;
  u_getUnicodeVersion(version);
  char unicode[U_MAX_VERSION_STRING_LENGTH];
  u_versionToString(version, unicode);
  std::printf(
      "// Character tables of search/Folding.cpp, made by scripts/unicode_tables.cpp\n"
      "// (which says how) from ICU %s. Do not edit.\n\n"
      "constexpr char kUnicodeVersion[] = \"%s\";\n\n",
      U_ICU_VERSION, unicode);

  const UNormalizer2* nfc = Form(true);
  std::vector<std::pair<char32_t, char32_t>> spaces, marks;
  std::vector<std::pair<char32_t, Chars>> decompositions;
  std::map<std::pair<char32_t, char32_t>, char32_t> compositions;
  std::vector<std::pair<std::pair<char32_t, char32_t>, int>> classes;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const auto u = static_cast<UChar32>(c);
    if (u_hasBinaryProperty(u, UCHAR_WHITE_SPACE)) {
      if (!spaces.empty() && spaces.back().second + 1 == c) {
        spaces.back().second = c;
      } else {
        spaces.emplace_back(c, c);
      }
    }
    if (u_charType(u) == U_NON_SPACING_MARK) {
      if (!marks.empty() && marks.back().second + 1 == c) {
        marks.back().second = c;
      } else {
        marks.emplace_back(c, c);
      }
    }
    const int ccc = u_getCombiningClass(u);
    if (ccc != 0) {
      if (!classes.empty() && classes.back().first.second + 1 == c &&
          classes.back().second == ccc) {
        classes.back().first.second = c;
      } else {
        classes.push_back({{c, c}, ccc});
      }
    }
    if (Hangul(c)) continue;
    char16_t raw[8];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = unorm2_getRawDecomposition(nfc, u, reinterpret_cast<UChar*>(raw), 8, &status);
    if (n < 0) continue;
    const Chars parts = Utf32(std::u16string(raw, static_cast<size_t>(n)));
    if (parts.size() > 2 || U_FAILURE(status)) std::abort();
    decompositions.emplace_back(c, parts);
    if (parts.size() == 2 && !u_hasBinaryProperty(u, UCHAR_FULL_COMPOSITION_EXCLUSION)) {
      if (unorm2_composePair(nfc, static_cast<UChar32>(parts[0]), static_cast<UChar32>(parts[1])) !=
          u) {
        std::abort();
      }
      compositions[{parts[0], parts[1]}] = c;
    }
  }

  std::printf("// White_Space, as ranges {first, last}.\nconstexpr Range kWhiteSpace[] = {");
  for (const auto& [first, last] : spaces) {
    std::printf("{0x%X,0x%X},", static_cast<unsigned>(first), static_cast<unsigned>(last));
  }
  std::printf("};\n\n// Canonical combining classes other than 0: {first, last, class}.\n");
  std::printf("constexpr ClassRange kClasses[] = {");
  int count = 0;
  for (const auto& [range, ccc] : classes) {
    std::printf("%s{0x%X,0x%X,%d},", count++ % 8 == 0 ? "\n" : "",
                static_cast<unsigned>(range.first), static_cast<unsigned>(range.second), ccc);
  }
  std::printf(
      "};\n\n// Canonical decompositions, one level (Hangul syllables aside):\n"
      "// {character, first, second or 0}.\nconstexpr Decomposition kDecompositions[] = {");
  count = 0;
  for (const auto& [c, parts] : decompositions) {
    std::printf("%s{0x%X,0x%X,0x%X},", count++ % 8 == 0 ? "\n" : "", static_cast<unsigned>(c),
                static_cast<unsigned>(parts[0]),
                static_cast<unsigned>(parts.size() > 1 ? parts[1] : 0));
  }
  std::printf(
      "};\n\n// Canonical compositions (the pairs of the decompositions less the\n"
      "// exclusions): {first, second, composite}, sorted by the pair.\n"
      "constexpr Composition kCompositions[] = {");
  count = 0;
  for (const auto& [pair, c] : compositions) {
    std::printf("%s{0x%X,0x%X,0x%X},", count++ % 8 == 0 ? "\n" : "",
                static_cast<unsigned>(pair.first), static_cast<unsigned>(pair.second),
                static_cast<unsigned>(c));
  }
  std::printf("};\n\n// Plain folding: full case folding of each character's NFC form.\n");
  WriteMap("Fold", Folded);
  std::printf("// Nonspacing marks (Mn), which accent folding drops: {first, last}.\n");
  std::printf("constexpr Range kNonspacing[] = {");
  count = 0;
  for (const auto& [first, last] : marks) {
    std::printf("%s{0x%X,0x%X},", count++ % 8 == 0 ? "\n" : "", static_cast<unsigned>(first),
                static_cast<unsigned>(last));
  }
  std::printf("};\n");
  return 0;
}
