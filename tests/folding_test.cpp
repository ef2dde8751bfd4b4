// The search's folding (search/Folding.h, from tables made once) against the
// ICU of the build: every character of the tables' Unicode version, and the
// composed form of tricky random texts and of the real messages of the
// benchmarks' corpus.
#include "Folding.h"

#include <gtest/gtest.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <cstring>
#include <fstream>
#include <random>
#include <vector>

namespace zusms::search {
namespace {

std::u16string Utf16(const std::u32string& chars) {
  std::u16string out;
  for (const char32_t c : chars) {
    if (c > 0xFFFF) out += static_cast<char16_t>(0xD7C0 + (c >> 10));
    out += static_cast<char16_t>(c > 0xFFFF ? 0xDC00 + (c & 0x3FF) : c);
  }
  return out;
}

std::u32string Utf32(const std::u16string& text) {
  std::u32string out;
  for (int32_t i = 0; i < static_cast<int32_t>(text.size());) {
    UChar32 c;
    U16_NEXT(text.data(), i, static_cast<int32_t>(text.size()), c);
    out += static_cast<char32_t>(c);
  }
  return out;
}

// ICU's forms, the reference.
std::u16string Icu(bool composed, const std::u16string& text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* form = composed ? icu::Normalizer2::getNFCInstance(status)
                                          : icu::Normalizer2::getNFDInstance(status);
  const icu::UnicodeString out =
      form->normalize(icu::UnicodeString(text.data(), static_cast<int32_t>(text.size())), status);
  EXPECT_TRUE(U_SUCCESS(status));
  return std::u16string(out.getBuffer(), static_cast<size_t>(out.length()));
}
std::u16string IcuFolded(const std::u16string& text) {
  const std::u16string composed = Icu(true, text);
  icu::UnicodeString out(composed.data(), static_cast<int32_t>(composed.size()));
  out.foldCase();
  return std::u16string(out.getBuffer(), static_cast<size_t>(out.length()));
}

// Each rule appends what one character becomes, ours and ICU's.
struct Rule {
  const char* name;
  void (*ours)(char32_t, std::u32string&);
  void (*icu)(char32_t, std::u32string&);
};
const Rule kRules[] = {
    {"plain", AppendFolded,
     [](char32_t c, std::u32string& out) { out += Utf32(IcuFolded(Utf16({c}))); }},
    {"accents", AppendWithoutAccents,
     [](char32_t c, std::u32string& out) {
       for (const char32_t x : Utf32(Icu(false, Utf16({c}))))
         if (u_charType(static_cast<UChar32>(x)) != U_NON_SPACING_MARK) out += x;
     }},
    {"white space", [](char32_t c, std::u32string& out) { out.append(IsWhiteSpace(c), U' '); },
     [](char32_t c, std::u32string& out) {
       out.append(u_isUWhiteSpace(static_cast<UChar32>(c)), U' ');
     }},
};

TEST(FoldingTest, EveryCharacterOfTheTablesVersionAsIcuHasIt) {
  UVersionInfo tables, age;
  u_versionFromString(tables, std::string(UnicodeVersion()).c_str());
  for (const Rule& rule : kRules) {
    std::vector<char32_t> wrong;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
      u_charAge(static_cast<UChar32>(c), age);
      if ((c >= 0xD800 && c < 0xE000) || std::memcmp(age, tables, sizeof age) > 0) continue;
      std::u32string ours, icu;
      rule.ours(c, ours);
      rule.icu(c, icu);
      if (ours != icu && wrong.size() < 10) wrong.push_back(c);
    }
    EXPECT_EQ(wrong, std::vector<char32_t>()) << rule.name;
  }
}

// What composition can trip over: marks of every class in any order, Hangul
// jamo and syllables, composition exclusions, singletons, composites that
// compose on, astral characters and unpaired surrogates.
const std::u32string kTricky =
    U"aeiouyAEOUsSnNcC\u0131\u03b1\u03b5\u03b7\u03b9\u03c9\u0391\u03a9\u0438\u0415"
    U"\u0300\u0301\u0302\u0303\u0307\u0308\u030a\u030c\u031b\u0323\u0327\u0328\u0334\u0342"
    U"\u0345\u0313\u0314\u05b0\u05bc\u093c\u0f71\u0f72\u0f74\u0f80\u302e\u3099\U0001d165"
    U"\U0001d16d\U000110ba\u0b47\u0b3e\u0b57\u0dd9\u0dcf\u0ddf\u0cc6\u0cd5\u0cd6\u1025\u102e"
    U"\U00011099\U000110a5\U00011131\U00011127\U000114b9\U000114bd\u0627\u0653\u0654\u0915"
    U"\u05d0\u304b\u1100\u1112\u1161\u1175\u11a7\u11a8\u11c2\uac00\uac01\ud7a3\ub098\u0958"
    U"\ufb1d\ufb2a\u212b\u2126\u212a\u0340\u0341\u0343\u0344\u0374\u037e\u0387\u1f71\uf900"
    U"\U0002f800\U0001d15e\U0001d160\u0f73\u0f75\u0f81\u2adc\u00c5\u00e9\u1e69\u1ea5\u01d5"
    U"\u1e0b\u1e63\u01ec\u1fb3\u1f80\u1fb4\u0622\u1e9b\u0130\u00df\u1e9e\u2000 \t"
    U"\U0001f600\U00010400\U0001d400\U00020000\xd800\xdbff\xdc00\xdfff";

TEST(FoldingTest, ComposesAsIcuDoes) {
  std::vector<std::u16string> texts;
  std::mt19937 rng(26);
  for (int i = 0; i < 5000; ++i) {
    std::u32string text;
    for (auto n = rng() % 9; n-- > 0;) text += kTricky[rng() % kTricky.size()];
    texts.push_back(Utf16(text));
  }
  std::ifstream corpus(ZUSMS_CORPUS);
  ASSERT_TRUE(corpus) << ZUSMS_CORPUS;
  for (std::string line; std::getline(corpus, line);) {
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(line);
    texts.emplace_back(text.getBuffer(), static_cast<size_t>(text.length()));
    texts.push_back(Icu(false, texts.back()));
  }
  for (const std::u16string& text : texts) {
    const std::u16string composed = Icu(true, text);
    ASSERT_EQ(Composed(text), composed) << testing::PrintToString(text);
    // The whole text folded: ICU's folding of the composed text with white
    // space runs made one space.
    std::u32string folded;
    for (const char32_t c : Utf32(IcuFolded(text))) {
      const bool white = u_isUWhiteSpace(static_cast<UChar32>(c));
      if (!white || folded.empty() || folded.back() != U' ') folded += white ? U' ' : c;
    }
    ASSERT_EQ(Folded(text), folded) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace zusms::search
