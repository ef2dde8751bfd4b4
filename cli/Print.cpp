#include "Print.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "Text.h"

namespace zusms::cli {

void PrintTable(const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows) {
  std::vector<int> widths(header.size());
  for (size_t c = 0; c < header.size(); ++c) widths[c] = DisplayWidth(header[c]);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string out;
    for (size_t c = 0; c < cells.size(); ++c) {
      out += cells[c];
      if (c + 1 < cells.size()) out += std::string(widths[c] - DisplayWidth(cells[c]) + 2, ' ');
    }
    std::cout << out << "\n";
  };
  line(header);
  for (const auto& row : rows) line(row);
}

void PrintJson(const Json& json) { std::cout << json.dump(2) << "\n"; }

std::string OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (c == '\n' || c == '\r') {
      out += "\u23ce";
    } else if (c < 0x20 || c == 0x7f) {
      out += "\ufffd";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

Progress::Progress(std::string what, size_t total, bool shown)
    : what_(std::move(what)), total_(total), shown_(shown && total > 0) {}

Progress::~Progress() {
  if (shown_ && filled_ >= 0) std::fprintf(stderr, "\r%70s\r", "");
}

void Progress::Set(size_t done) {
  done_ = std::min(done, total_);
  if (!shown_) return;
  const int filled = static_cast<int>(40 * done_ / total_);
  if (filled == filled_) return;
  filled_ = filled;
  std::fprintf(stderr, "\r%s [%s%s] %3d%%", what_.c_str(), std::string(filled, '#').c_str(),
               std::string(40 - filled, ' ').c_str(), static_cast<int>(100 * done_ / total_));
}

}  // namespace zusms::cli
