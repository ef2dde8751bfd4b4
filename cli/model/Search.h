// Finding text in messages the way people type it: letter case does not
// matter in any script (Unicode's full case folding), accents optionally
// not either, several terms must all occur, a quoted phrase occurs as a
// whole, and any run of white space matches any other.
#ifndef ZUSMS_CLI_MODEL_SEARCH_H_
#define ZUSMS_CLI_MODEL_SEARCH_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zusms::cli {

class TextQuery {
 public:
  TextQuery() = default;
  // `texts`: what each --contains gave. Each is split into terms at white
  // space, except inside double quotes ("happy new year" is one term).
  // With `fold_accents`, "é" and "e" are one letter. A text of no terms
  // is a Failure.
  TextQuery(const std::vector<std::string>& texts, bool fold_accents);

  // One term, `text` as it stands (a name, say), quotes and all.
  static TextQuery Phrase(std::string_view text, bool fold_accents);

  bool empty() const { return terms_.empty(); }
  // Whether `text` is the one term, and nothing else.
  bool Is(std::u16string_view text) const;
  // Whether every term occurs in `text` (UTF-16, as the records keep it),
  // or, given several texts, every term in one of them.
  bool Matches(std::u16string_view text) const;
  bool MatchesAny(const std::vector<std::u16string_view>& texts) const;

  // The terms as typed, each in double quotes: what the store's search
  // (SearchZuSmsHead) takes to find the same.
  std::u16string Quoted() const;
  bool fold_accents() const { return fold_accents_; }

  // Where the terms occur in `text` (UTF-8), as byte ranges [begin, end),
  // in order and not overlapping: what a terminal shows highlighted.
  std::vector<std::pair<size_t, size_t>> Find(std::string_view text) const;

 private:
  std::vector<std::u32string> terms_;  // folded
  std::vector<std::u16string> typed_;  // as typed, one for each
  bool fold_accents_ = false;
};

// `text` with the ranges set off for a terminal (bold, reverse video).
std::string Highlighted(std::string_view text, const std::vector<std::pair<size_t, size_t>>& at);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_SEARCH_H_
