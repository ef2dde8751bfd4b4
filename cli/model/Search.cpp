#include "model/Search.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/uset.h>
#include <utf8cpp/utf8.h>

#include <algorithm>
#include <unordered_map>

#include "Folding.h"
#include "text/Text.h"

namespace zusms::cli {

namespace {

bool HasDecomposition(char32_t c) {
  UChar buffer[8];
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
  return unorm2_getRawDecomposition(nfd, static_cast<UChar32>(c), buffer, 8, &status) >= 0;
}

// The folding is the library's own (search/Folding.h, compiled into the
// tool), one rule for every search of the store. Accents are folded after
// the plain folding, one character of it at a time (not by decomposing the
// text before its case is folded, as the tool once did): so an index can
// keep the plain folding and derive the accent-folded text from it
// character by character, and whatever matches plainly matches with accents
// folded too. The two ways agree on every single character; they differ
// only where a text holds combining characters that stay (no nonspacing
// mark) out of their canonical order, which the composition now puts right.

// Appends the folded form of the one character `c`, white space aside.
void AppendFolded(char32_t c, bool accents, std::u32string& out) {
  if (!accents || c < 0x80) {
    search::AppendFolded(c, out);
    return;
  }
  std::u32string plain;
  search::AppendFolded(c, plain);
  for (const char32_t x : plain) search::AppendWithoutAccents(x, out);
}

// The folded text of `text`, composed first (a decomposed "é" is "é").
std::u32string Fold(bool accents, std::u16string_view text) {
  std::u32string folded = search::Folded(text);
  return accents ? search::WithoutAccents(folded) : folded;
}

// A term is what it holds besides the white space around it.
std::u32string Trimmed(std::u32string folded) {
  while (!folded.empty() && folded.back() == U' ') folded.pop_back();
  folded.erase(0, std::min(folded.find_first_not_of(U' '), folded.size()));
  return folded;
}

// How a folded term's characters stand in a LIKE pattern that every text
// holding the term matches: SQLite's LIKE ignores case in ASCII only, so a
// character that others fold to (the k of the Kelvin sign, the ss of ß)
// stands as _ when only single characters fold to it, as % when longer
// foldings may have made it, and as itself when nothing else could have.
class LikeTerms {
 public:
  explicit LikeTerms(bool accents) {
    // The characters folding or composition can change: a few thousand.
    UErrorCode status = U_ZERO_ERROR;
    const std::u16string which = u"[[:Changes_When_Casefolded:][:NFD_Quick_Check=No:]]";
    USet* changed = uset_openPattern(reinterpret_cast<const UChar*>(which.c_str()),
                                     static_cast<int32_t>(which.size()), &status);
    if (U_FAILURE(status)) throw Failure("ICU lacks the character properties search needs");
    for (int32_t r = 0; r < uset_getItemCount(changed); ++r) {
      UChar32 first = 0, last = 0;
      status = U_ZERO_ERROR;
      uset_getItem(changed, r, &first, &last, nullptr, 0, &status);
      for (UChar32 c = std::max<UChar32>(first, 0x80); c <= last; ++c) {
        const auto x = static_cast<char32_t>(c);
        std::u32string folded;
        AppendFolded(x, accents, folded);
        for (const char32_t y : folded) {
          if (y != x) sources_[y].push_back(folded);
        }
      }
    }
    uset_close(changed);
  }

  std::u16string Pattern(const std::u32string& term) const {
    std::u16string pattern = u"%";
    bool literal = false;
    for (size_t i = 0; i < term.size(); ++i) {
      const char32_t c = term[i];
      const char16_t stand = Stand(term, i);
      if (stand == 0) {
        AppendUtf16(c, pattern);
        literal = true;
      } else if (stand == u'_' || pattern.back() != u'%') {
        pattern += stand;
      }
    }
    if (pattern.back() != u'%') pattern += u'%';
    return literal ? pattern : u"";
  }

 private:
  static void AppendUtf16(char32_t c, std::u16string& out) {
    if (c > 0xFFFF) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  // 0: the character itself; else '_' or '%'.
  char16_t Stand(const std::u32string& term, size_t i) const {
    const char32_t c = term[i];
    if (c == '%' || c == '_' || c == ' ') return u'%';
    if (c >= 0x80 && (HasDecomposition(c) || u_getCombiningClass(static_cast<UChar32>(c)) != 0)) {
      return u'%';  // composition in the text may have made it
    }
    const auto from = sources_.find(c);
    if (from == sources_.end()) return 0;
    char16_t stand = 0;
    for (const std::u32string& folded : from->second) {
      if (folded.size() == 1) {
        stand = u'_';
        continue;
      }
      // A longer folding made term[i] only when the term around it is
      // consistent with that folding.
      for (size_t j = 0; j < folded.size(); ++j) {
        if (folded[j] != c) continue;
        bool fits = true;
        for (size_t k = 0; k < folded.size() && fits; ++k) {
          const auto at =
              static_cast<int64_t>(i) - static_cast<int64_t>(j) + static_cast<int64_t>(k);
          if (at >= 0 && at < static_cast<int64_t>(term.size())) fits = term[at] == folded[k];
        }
        if (fits) return u'%';
      }
    }
    return stand;
  }

  std::unordered_map<char32_t, std::vector<std::u32string>> sources_;
};

}  // namespace

TextQuery::TextQuery(const std::vector<std::string>& texts, bool fold_accents)
    : fold_accents_(fold_accents) {
  for (const std::string& text : texts) {
    const std::u16string whole = Utf16(text);
    std::u16string term;
    bool quoted = false;
    auto take = [&] {
      std::u32string folded = Trimmed(Fold(fold_accents, term));
      if (!folded.empty()) terms_.push_back(std::move(folded));
      term.clear();
    };
    for (const char16_t c : whole) {
      if (c == u'"') {
        take();
        quoted = !quoted;
      } else if (!quoted && search::IsWhiteSpace(c)) {
        take();
      } else {
        term += c;
      }
    }
    take();
  }
  if (terms_.empty()) throw Failure("--contains needs some text to look for");
}

TextQuery TextQuery::Phrase(std::string_view text, bool fold_accents) {
  TextQuery query;
  query.fold_accents_ = fold_accents;
  std::u32string folded = Trimmed(Fold(fold_accents, Utf16(text)));
  if (folded.empty()) throw Failure("a name needs some text");
  query.terms_.push_back(std::move(folded));
  return query;
}

bool TextQuery::Is(std::u16string_view text) const {
  const std::u32string folded = Trimmed(Fold(fold_accents_, text));
  return terms_.size() == 1 && folded == terms_.front();
}

bool TextQuery::Matches(std::u16string_view text) const { return MatchesAny({text}); }

bool TextQuery::MatchesAny(const std::vector<std::u16string_view>& texts) const {
  std::vector<std::u32string> folded;
  for (const std::u16string_view text : texts) folded.push_back(Fold(fold_accents_, text));
  return std::all_of(terms_.begin(), terms_.end(), [&](const std::u32string& term) {
    return std::any_of(folded.begin(), folded.end(), [&](const std::u32string& text) {
      return text.find(term) != std::u32string::npos;
    });
  });
}

std::vector<std::u16string> TextQuery::LikePatterns() const {
  static const LikeTerms plain(false), without_accents(true);
  const LikeTerms& like = fold_accents_ ? without_accents : plain;
  std::vector<std::u16string> patterns;
  for (const std::u32string& term : terms_) {
    std::u16string pattern = like.Pattern(term);
    if (!pattern.empty()) patterns.push_back(std::move(pattern));
  }
  return patterns;
}

std::vector<std::pair<size_t, size_t>> TextQuery::Find(std::string_view text) const {
  std::vector<std::pair<size_t, size_t>> found;
  if (!utf8::is_valid(text.begin(), text.end())) return found;
  // Folded one character at a time, so that a place in the folded text
  // leads back to a place in the text.
  std::u32string folded;
  std::vector<size_t> from, to;  // the bytes each folded character comes from
  bool space = false;
  for (auto at = text.begin(); at != text.end();) {
    const size_t begin = static_cast<size_t>(at - text.begin());
    const char32_t c = utf8::unchecked::next(at);
    const size_t before = folded.size();
    const bool white = search::IsWhiteSpace(c);
    if (!white) {
      AppendFolded(c, fold_accents_, folded);
    } else if (!space) {
      folded += U' ';
    }
    space = white;
    from.resize(folded.size(), begin);
    to.resize(folded.size(), static_cast<size_t>(at - text.begin()));
    if (folded.size() == before && !to.empty()) to.back() = static_cast<size_t>(at - text.begin());
  }
  for (const std::u32string& term : terms_) {
    for (size_t at = folded.find(term); at != std::u32string::npos;
         at = folded.find(term, at + 1)) {
      found.emplace_back(from[at], to[at + term.size() - 1]);
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<std::pair<size_t, size_t>> merged;
  for (const auto& r : found) {
    if (!merged.empty() && r.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, r.second);
    } else {
      merged.push_back(r);
    }
  }
  return merged;
}

std::string Highlighted(std::string_view text, const std::vector<std::pair<size_t, size_t>>& at) {
  std::string out;
  size_t done = 0;
  for (const auto& [begin, end] : at) {
    out.append(text.substr(done, begin - done));
    out += "\x1b[1;7m";
    out.append(text.substr(begin, end - begin));
    out += "\x1b[0m";
    done = end;
  }
  out.append(text.substr(done));
  return out;
}

}  // namespace zusms::cli
