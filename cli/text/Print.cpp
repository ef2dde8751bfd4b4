#include "text/Print.h"

#include <sys/ioctl.h>
#include <unicode/uchar.h>
#include <unistd.h>
#include <utf8cpp/utf8.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <map>

#include "text/Text.h"

namespace zusms::cli {

bool ChineseLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return std::string_view(value).starts_with("zh");
  }
  return false;
}

std::string Word(std::string_view english) {
  static const std::map<std::string_view, std::string_view> kChinese = {
      {"ATTR", "\u5c5e\u6027"},
      {"CONTACT", "\u8054\u7cfb\u4eba"},
      {"CORRESPONDENT", "\u8054\u7cfb\u4eba"},
      {"CREATED", "\u521b\u5efa\u65f6\u95f4"},
      {"CREATED (UTC)", "\u521b\u5efa\u65f6\u95f4\uff08UTC\uff09"},
      {"FILE", "\u6587\u4ef6"},
      {"FOLDER", "\u6587\u4ef6\u5939"},
      {"KIND", "\u7c7b\u578b"},
      {"LAST", "\u6700\u8fd1\u4f7f\u7528"},
      {"LATEST", "\u6700\u65b0"},
      {"LOCKED", "\u9501\u5b9a"},
      {"MESSAGES", "\u77ed\u4fe1\u6570"},
      {"MODIFIED", "\u4fee\u6539\u65f6\u95f4"},
      {"MODIFIED (UTC)", "\u4fee\u6539\u65f6\u95f4\uff08UTC\uff09"},
      {"NAME", "\u540d\u79f0"},
      {"NUMBER", "\u53f7\u7801"},
      {"PARTS", "\u5206\u6bb5\u6570"},
      {"PHRASE", "\u77ed\u8bed"},
      {"RECORDS", "\u8bb0\u5f55\u6570"},
      {"ROLE", "\u7528\u9014"},
      {"SETTING", "\u8bbe\u7f6e"},
      {"SIZE", "\u5927\u5c0f"},
      {"STATE", "\u72b6\u6001"},
      {"SUBJECT", "\u4e3b\u9898"},
      {"TEXT", "\u5185\u5bb9"},
      {"TIME", "\u65f6\u95f4"},
      {"TIME (UTC)", "\u65f6\u95f4\uff08UTC\uff09"},
      {"TYPE", "\u7c7b\u578b"},
      {"UNREAD", "\u672a\u8bfb"},
      {"VALUE", "\u503c"},
      {"default", "\u9ed8\u8ba4"},
      {"incomplete", "\u4e0d\u5b8c\u6574"},
      {"locked", "\u5df2\u9501\u5b9a"},
      {"no such folder", "\u65e0\u6b64\u6587\u4ef6\u5939"},
      {"read", "\u5df2\u8bfb"},
      {"me", "\u6211"},
      {"members", "\u6210\u5458"},
      {"received", "\u5df2\u63a5\u6536"},
      {"sent", "\u5df2\u53d1\u9001"},
      {"unread", "\u672a\u8bfb"},
      {"user", "\u7528\u6237"},
  };
  if (!ChineseLocale()) return std::string(english);
  const auto it = kChinese.find(english);
  return std::string(it == kChinese.end() ? english : it->second);
}

void PrintTable(const std::vector<std::string>& english_header,
                const std::vector<std::vector<std::string>>& rows, const Decorate& decorate) {
  std::vector<std::string> header;
  for (const std::string& word : english_header) header.push_back(Word(word));
  // Every cell passes through OneLine here, whatever its source: a number
  // from a backup file can hold escape sequences that would take over the
  // terminal.
  std::vector<std::vector<std::string>> shown;
  shown.reserve(rows.size());
  for (const auto& row : rows) {
    shown.emplace_back();
    for (const std::string& cell : row) shown.back().push_back(OneLine(cell));
  }
  std::vector<int> widths(header.size());
  for (size_t c = 0; c < header.size(); ++c) widths[c] = DisplayWidth(header[c]);
  for (const auto& row : shown) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  auto line = [&](const std::vector<std::string>& cells, bool data) {
    std::string out;
    for (size_t c = 0; c < cells.size(); ++c) {
      out += data && decorate ? decorate(c, cells[c]) : cells[c];
      if (c + 1 < cells.size()) out += std::string(widths[c] - DisplayWidth(cells[c]) + 2, ' ');
    }
    std::cout << out << "\n";
  };
  line(header, false);
  for (const auto& row : shown) line(row, true);
}

void PrintJson(const Json& json) { std::cout << json.dump(2) << "\n"; }

bool Unprintable(char32_t c) {
  const auto ch = static_cast<UChar32>(c);
  switch (u_charType(ch)) {
    case U_CONTROL_CHAR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    default:
      return u_hasBinaryProperty(ch, UCHAR_BIDI_CONTROL);
  }
}

namespace {

// The marks that only tell the direction of the characters around them
// (Arabic letter, left-to-right, right-to-left mark): part of the texts that
// hold them, and unlike embeddings, overrides and isolates they move no
// strongly directed letter, so a text shown with them reads as written.
bool IsDirectionMark(char32_t c) { return c == 0x061C || c == 0x200E || c == 0x200F; }

std::string Shown(std::string_view text, bool keep_line_breaks, bool show_controls) {
  std::string valid;
  if (!utf8::is_valid(text.begin(), text.end())) {
    utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid));
    text = valid;
  }
  std::string out;
  out.reserve(text.size());
  for (auto it = text.begin(); it != text.end();) {
    const auto start = it;
    const char32_t c = utf8::next(it, text.end());
    if (c == '\r' && it != text.end() && *it == '\n') continue;
    const bool line_break = c == '\n' || c == '\r' || c == 0x85 || c == 0x2028 || c == 0x2029;
    if (line_break) {
      out += keep_line_breaks ? "\n" : "\u23ce";
    } else if (c == '\t' && keep_line_breaks) {
      out += '\t';
    } else if (show_controls && u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_BIDI_CONTROL)) {
      out += ControlShown(c);
    } else if (Unprintable(c) && !(keep_line_breaks && IsDirectionMark(c))) {
      out += "\ufffd";
    } else {
      out.append(start, it);
    }
  }
  return out;
}

}  // namespace

std::string Printable(std::string_view text, bool keep_line_breaks) {
  return Shown(text, keep_line_breaks, false);
}

std::string OneLine(std::string_view text) { return Printable(text, false); }

std::string ControlShown(char32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, "[U+%04X]", static_cast<unsigned>(c));
  return text;
}

std::string CodeLine(std::string_view text) { return Shown(text, false, true); }

std::string NameAndNumber(std::string_view name, std::string_view number) {
  return name.empty() ? CodeLine(number) : OneLine(name) + " (" + CodeLine(number) + ")";
}

std::string PrintableLines(std::string_view text) {
  std::string out;
  for (size_t at = 0;;) {
    const size_t end = text.find('\n', at);
    out += OneLine(text.substr(at, end == std::string_view::npos ? end : end - at));
    if (end == std::string_view::npos) return out;
    out += '\n';
    at = end + 1;
  }
}

Progress::Progress(std::string what, size_t total, bool shown)
    : what_(std::move(what)), total_(total), shown_(shown && total > 0) {}

namespace {
// The terminal's width on standard error (80 when it says none).
size_t Columns() {
  winsize size{};
  return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}
bool progress_wanted = false;
}  // namespace

Progress::~Progress() {
  const int clear = static_cast<int>(std::min(width_, Columns() - 1));
  if (Drawn()) std::fprintf(stderr, "\r%*s\r", clear, "");
}

int64_t Progress::Seconds() const {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_)
      .count();
}

void Progress::Set(size_t done) {
  done_ = std::min(done, total_);
  if (!shown_) return;
  // Drawn again when a hundredth more is done or a second has passed: the
  // callers report every message or block.
  const int64_t seconds = Seconds();
  const size_t percent = 100 * done_ / total_;
  if (percent == percent_ && seconds == seconds_) return;
  percent_ = percent;
  seconds_ = seconds;
  std::string times;
  if (seconds > 0) times += ", " + Duration(seconds);
  if (seconds > 0 && done_ > 0 && done_ < total_) {
    const auto left =
        static_cast<int64_t>(static_cast<double>(seconds) * static_cast<double>(total_ - done_) /
                             static_cast<double>(done_));
    times += ", about " + Duration(std::max<int64_t>(left, 1)) + " left";
  }
  // The bar takes what the terminal's width leaves, 40 columns at most: a
  // line that wrapped could not be drawn over.
  const size_t columns = Columns();
  const size_t rest = what_.size() + times.size() + 8;  // " [", "] 100%"
  const int width = static_cast<int>(std::min<size_t>(columns > rest ? columns - 1 - rest : 0, 40));
  const int filled = static_cast<int>(static_cast<size_t>(width) * done_ / total_);
  std::string line = what_ + " [" + std::string(filled, '#') + std::string(width - filled, ' ') +
                     "] " + std::to_string(percent) + "%" + times;
  if (line.size() > columns - 1) line.resize(columns - 1);  // a narrow terminal: cut
  // Spaces over what a longer line before left, within the terminal.
  const size_t end = std::min(std::max(width_, line.size()), columns - 1);
  const size_t pad = end > line.size() ? end - line.size() : 0;
  width_ = std::max(width_, line.size());
  std::fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
}

void SetProgressWanted(bool wanted) { progress_wanted = wanted; }
bool ProgressWanted() { return progress_wanted; }

std::string Duration(int64_t seconds) {
  if (seconds < 60) return std::to_string(seconds) + " s";
  if (seconds < 3600) {
    return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
  }
  return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) + " min";
}

}  // namespace zusms::cli
