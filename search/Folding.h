// The folding of text for searches: what a text becomes before terms are
// looked for in it, so that letter case does not matter in any script
// (Unicode's full case folding), a composed "é" is a decomposed one, any run
// of white space is one space and, optionally, accents do not matter
// either. The character tables (UnicodeTables.inc) are made from ICU once,
// by scripts/unicode_tables.cpp; nothing here needs ICU at run time.
#ifndef ZUSMS_SEARCH_FOLDING_H_
#define ZUSMS_SEARCH_FOLDING_H_

#include <string>
#include <string_view>
#include <vector>

namespace zusms::search {

// The Unicode version of the tables ("15.0"): a folded text kept somewhere
// is good for as long as this stays the same.
std::string_view UnicodeVersion();

// Composed (NFC) form of UTF-16 text; unpaired surrogates kept as they are.
std::u16string Composed(std::u16string_view text);

// The folded form of text as searches compare it ("plain"): the text
// composed (NFC), then each character replaced by its full case folding (of
// its NFC form), and every run of white space (ASCII \t..\r, space, and
// Unicode White_Space) made one space. Unpaired surrogates stay.
std::u32string Folded(std::u16string_view text);

// Per character, the same: appends the plain folding of `c` (no white space
// handling). For every character of a composed text it is what Folded gives.
void AppendFolded(char32_t c, std::u32string& out);

bool IsWhiteSpace(char32_t c);

// Accent folding, applied to an already folded text one character at a
// time: each character's canonical decomposition without its nonspacing
// marks (Mn). A text with accents folded is WithoutAccents(Folded(text)):
// because it maps the plain folding character by character, a term that
// occurs in a folded text occurs in it with accents folded too.
void AppendWithoutAccents(char32_t c, std::u32string& out);
std::u32string WithoutAccents(std::u32string_view folded);

// The terms typed in `text`: split at white space, except inside double
// quotes ("happy new year" is one term); the quotes are no part of a term,
// and empty pieces are left out.
std::vector<std::u16string> TypedTerms(std::u16string_view text);

// A typed term as searches compare it: folded (and without accents when
// `accents`), without the white space around it; empty when it holds
// nothing else.
std::u32string FoldedTerm(std::u16string_view term, bool accents);

}  // namespace zusms::search

#endif  // ZUSMS_SEARCH_FOLDING_H_
