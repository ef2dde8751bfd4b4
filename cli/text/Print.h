// Everything the tool prints for people: tables, JSON, times, one-line text.
#ifndef ZUSMS_CLI_TEXT_PRINT_H_
#define ZUSMS_CLI_TEXT_PRINT_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace zusms::cli {

using Json = nlohmann::ordered_json;

// Whether the user's language, the first of LC_ALL, LC_MESSAGES and LANG
// that is set, is Chinese ("zh...").
bool ChineseLocale();
// A word of the tool's tables ("FOLDER", "sent") in the user's language:
// Chinese for a Chinese locale, else as given (also for a word without a
// translation).
std::string Word(std::string_view english);

// Rows under a header, every cell through OneLine, each column as wide as its widest cell in
// terminal columns, so that Chinese text (two columns a character) aligns. The header's words are
// shown through Word.
// `decorate`, when given, sets off parts of a data cell (column, text
// shown) for a terminal after the widths are taken.
using Decorate = std::function<std::string(size_t, const std::string&)>;
void PrintTable(const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows, const Decorate& decorate = {});
void PrintJson(const Json& json);
// Whether the character would act on a terminal instead of showing, by
// ICU's properties: control characters (C0, DEL, C1), the line and
// paragraph separators, and the bidirectional controls (the Arabic letter
// mark U+061C, the marks U+200E and U+200F, the embeddings, overrides and
// isolates U+202A-U+202E and U+2066-U+2069).
bool Unprintable(char32_t c);
// The text made harmless to print: each line break (CR LF, CR, LF, U+0085,
// U+2028, U+2029) shows as "⏎", or as a plain line break when
// `keep_line_breaks` (which keeps tabs too); every other unprintable
// character and malformed UTF-8 as "�". A text printed whole (with its
// line breaks: a message's text) keeps its direction marks (U+061C, U+200E,
// U+200F): they are part of it and move no letter; on one line (a table's
// cell, a name) they show as "�" too. Everything the tool prints for people
// passes through here.
std::string Printable(std::string_view text, bool keep_line_breaks);
// The text on one line, so that a message never breaks a table row.
std::string OneLine(std::string_view text);
// A direction control as a number or a file name shows it, by its code
// point: "[U+061C]", so that a mark in a number is seen and acts on nothing.
std::string ControlShown(char32_t c);
// A number or a file name on one line (OneLine), its direction controls
// as ControlShown gives them.
std::string CodeLine(std::string_view text);
// A person on one line: "Ann Lee (+15550001)", the number alone for no name.
std::string NameAndNumber(std::string_view name, std::string_view number);
// An error or a warning: its own lines (split at "\n") kept, each through
// OneLine, so that no text of a file or the store in it acts on the
// terminal.
std::string PrintableLines(std::string_view text);

// A progress bar on standard error, shown only when `shown` (the caller
// asks for it on a terminal, not with --json), with the time it has taken
// and, once a step is done, about how long is left; cleared when
// destroyed.
class Progress {
 public:
  Progress(std::string what, size_t total, bool shown);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Step() { Set(done_ + 1); }
  void Set(size_t done);
  // Whether the bar was drawn at all, and the whole seconds since it began.
  bool Drawn() const { return width_ > 0; }
  int64_t Seconds() const;

 private:
  std::string what_;
  size_t total_, done_ = 0;
  size_t percent_ = SIZE_MAX;
  int64_t seconds_ = -1;
  size_t width_ = 0;
  bool shown_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Whether progress may be shown: standard error is a terminal and the
// output is not JSON (set once by main).
void SetProgressWanted(bool wanted);
bool ProgressWanted();

// A time span for people: "42 s", "3 min 5 s", "1 h 2 min".
std::string Duration(int64_t seconds);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_TEXT_PRINT_H_
