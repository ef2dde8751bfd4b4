#include "Folding.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

namespace zusms::search {

namespace {

struct Range {
  char32_t first, last;
};
struct ClassRange {
  char32_t first, last;
  uint8_t ccc;
};
struct Decomposition {
  char32_t c, first, second;  // second 0: a singleton
};
struct Composition {
  char32_t first, second, c;
};
// Characters first, first + stride, ... last map to c + value (length 1),
// or the one character first to kFoldPool[value, value + length).
struct Span {
  char32_t first, last;
  uint8_t stride, length;
  int32_t value;
};

#include "UnicodeTables.inc"

// Hangul syllables compose from jamo by rule.
constexpr char32_t kSBase = 0xAC00, kLBase = 0x1100, kVBase = 0x1161, kTBase = 0x11A7;
constexpr char32_t kLCount = 19, kVCount = 21, kTCount = 28, kNCount = kVCount * kTCount,
                   kSCount = kLCount * kNCount;

// Below these, nothing decomposes, has a combining class or composes with
// what comes before it.
constexpr char32_t kFirstDecomposed = kDecompositions[0].c;
constexpr char32_t kFirstClassed = kClasses[0].first;
constexpr char32_t kFirstSecond = [] {
  char32_t least = kSBase;
  for (const Composition& c : kCompositions) least = std::min(least, c.second);
  return std::min(least, kVBase);
}();

// The entry of a table of sorted ranges that holds c, if any.
template <typename T, size_t N>
const T* RangeOf(const T (&table)[N], char32_t c) {
  const T* at = std::upper_bound(std::begin(table), std::end(table), c,
                                 [](char32_t x, const T& e) { return x < e.first; });
  if (at == std::begin(table) || (--at)->last < c) return nullptr;
  return at;
}

int ClassOf(char32_t c) {
  if (c < kFirstClassed) return 0;
  const ClassRange* range = RangeOf(kClasses, c);
  return range ? range->ccc : 0;
}

bool IsNonspacing(char32_t c) {
  return c >= kNonspacing[0].first && RangeOf(kNonspacing, c) != nullptr;
}

// Appends the full canonical decomposition of c, not yet in canonical order.
void Decompose(char32_t c, std::u32string& out) {
  if (c >= kSBase && c < kSBase + kSCount) {
    const char32_t s = c - kSBase;
    out += kLBase + s / kNCount;
    out += kVBase + s % kNCount / kTCount;
    if (s % kTCount != 0) out += kTBase + s % kTCount;
    return;
  }
  if (c >= kFirstDecomposed) {
    const Decomposition* d =
        std::lower_bound(std::begin(kDecompositions), std::end(kDecompositions), c,
                         [](const Decomposition& e, char32_t x) { return e.c < x; });
    if (d != std::end(kDecompositions) && d->c == c) {
      Decompose(d->first, out);
      if (d->second != 0) Decompose(d->second, out);
      return;
    }
  }
  out += c;
}

// Puts the marks of text[from...] into canonical order: each run of
// characters of nonzero class sorted by class, stably.
void Order(std::u32string& text, size_t from) {
  for (size_t i = from + 1; i < text.size(); ++i) {
    const char32_t c = text[i];
    const int ccc = ClassOf(c);
    if (ccc == 0) continue;
    size_t j = i;
    for (; j > from && ClassOf(text[j - 1]) > ccc; --j) text[j] = text[j - 1];
    text[j] = c;
  }
}

// The primary composite of first and second, or 0.
char32_t Composite(char32_t first, char32_t second) {
  if (second < kFirstSecond) return 0;
  if (first >= kLBase && first < kLBase + kLCount && second >= kVBase &&
      second < kVBase + kVCount) {
    return kSBase + ((first - kLBase) * kVCount + second - kVBase) * kTCount;
  }
  if (first >= kSBase && first < kSBase + kSCount && (first - kSBase) % kTCount == 0 &&
      second > kTBase && second < kTBase + kTCount) {
    return first + (second - kTBase);
  }
  const Composition* at = std::lower_bound(
      std::begin(kCompositions), std::end(kCompositions), Composition{first, second, 0},
      [](const Composition& a, const Composition& b) {
        return a.first != b.first ? a.first < b.first : a.second < b.second;
      });
  return at != std::end(kCompositions) && at->first == first && at->second == second ? at->c : 0;
}

// Composes a text in canonical order, in place.
void Compose(std::u32string& text) {
  size_t starter = std::u32string::npos, out = 0;
  int last = 0;  // the class of the last character kept after the starter
  for (const char32_t c : text) {
    const int ccc = ClassOf(c);
    if (starter != std::u32string::npos && (out == starter + 1 || (last != 0 && last < ccc))) {
      if (const char32_t composite = Composite(text[starter], c)) {
        text[starter] = composite;
        continue;
      }
    }
    if (ccc == 0) starter = out;
    last = ccc;
    text[out++] = c;
  }
  text.resize(out);
}

template <typename F>
void ForEachCharacter(std::u16string_view text, F&& f) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    f(c);
  }
}

}  // namespace

std::string_view UnicodeVersion() { return kUnicodeVersion; }

std::u16string Composed(std::u16string_view text) {
  if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x300; })) {
    return std::u16string(text);
  }
  std::u32string chars;
  chars.reserve(text.size());
  ForEachCharacter(text, [&](char32_t c) { Decompose(c, chars); });
  Order(chars, 0);
  Compose(chars);
  std::u16string out;
  out.reserve(chars.size());
  for (const char32_t c : chars) {
    if (c > 0xFFFF) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

bool IsWhiteSpace(char32_t c) {
  if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
  return RangeOf(kWhiteSpace, c) != nullptr;
}

void AppendFolded(char32_t c, std::u32string& out) {
  if (c < 0x80) {
    out += c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
    return;
  }
  const Span* span = RangeOf(kFoldSpans, c);
  if (span == nullptr) {
    out += c;
  } else if (span->length == 1) {
    out += (c - span->first) % span->stride == 0
               ? static_cast<char32_t>(static_cast<int32_t>(c) + span->value)
               : c;
  } else {
    out.append(kFoldPool + span->value, span->length);
  }
}

std::u32string Folded(std::u16string_view text) {
  const std::u16string composed = Composed(text);
  std::u32string out;
  out.reserve(composed.size());
  bool space = false;
  ForEachCharacter(composed, [&](char32_t c) {
    const bool white = IsWhiteSpace(c);
    if (!white) {
      AppendFolded(c, out);
    } else if (!space) {
      out += U' ';
    }
    space = white;
  });
  return out;
}

void AppendWithoutAccents(char32_t c, std::u32string& out) {
  if (c < 0x80) {
    out += c;
    return;
  }
  const size_t from = out.size();
  Decompose(c, out);
  Order(out, from);
  out.erase(
      std::remove_if(out.begin() + static_cast<std::ptrdiff_t>(from), out.end(), IsNonspacing),
      out.end());
}

std::u32string WithoutAccents(std::u32string_view folded) {
  std::u32string out;
  out.reserve(folded.size());
  for (const char32_t c : folded) AppendWithoutAccents(c, out);
  return out;
}

std::vector<std::u16string> TypedTerms(std::u16string_view text) {
  std::vector<std::u16string> terms(1);
  bool quoted = false;
  for (const char16_t c : text) {
    if (c == u'"' || (!quoted && IsWhiteSpace(c))) {
      if (c == u'"') quoted = !quoted;
      if (!terms.back().empty()) terms.emplace_back();
    } else {
      terms.back() += c;
    }
  }
  if (terms.back().empty()) terms.pop_back();
  return terms;
}

std::u32string FoldedTerm(std::u16string_view term, bool accents) {
  std::u32string folded = Folded(term);
  if (accents) folded = WithoutAccents(folded);
  const size_t first = folded.find_first_not_of(U' ');
  if (first == std::u32string::npos) return U"";
  return folded.substr(first, folded.find_last_not_of(U' ') - first + 1);
}

}  // namespace zusms::search
