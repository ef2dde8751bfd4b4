#include "model/Search.h"

#include <utf8cpp/utf8.h>

#include <algorithm>
#include <unordered_map>

#include "Folding.h"
#include "text/Text.h"

namespace zusms::cli {

namespace {

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

}  // namespace

TextQuery::TextQuery(const std::vector<std::string>& texts, bool fold_accents)
    : fold_accents_(fold_accents) {
  for (const std::string& text : texts) {
    for (std::u16string& typed : search::TypedTerms(Utf16(text))) {
      std::u32string folded = search::FoldedTerm(typed, fold_accents);
      if (folded.empty()) continue;
      terms_.push_back(std::move(folded));
      typed_.push_back(std::move(typed));
    }
  }
  if (terms_.empty()) throw Failure("--contains needs some text to look for");
}

TextQuery TextQuery::Phrase(std::string_view text, bool fold_accents) {
  TextQuery query;
  query.fold_accents_ = fold_accents;
  std::u32string folded = search::FoldedTerm(Utf16(text), fold_accents);
  if (folded.empty()) throw Failure("a name needs some text");
  query.terms_.push_back(std::move(folded));
  return query;
}

bool TextQuery::Is(std::u16string_view text) const {
  const std::u32string folded = search::FoldedTerm(text, fold_accents_);
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

std::u16string TextQuery::Quoted() const {
  std::u16string quoted;
  for (const std::u16string& term : typed_) {
    if (!quoted.empty()) quoted += u' ';
    (quoted += u'"') += term;
    quoted += u'"';
  }
  return quoted;
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
