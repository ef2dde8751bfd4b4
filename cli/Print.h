// Everything the tool prints for people: tables, JSON, times, one-line text.
#ifndef ZUSMS_CLI_PRINT_H_
#define ZUSMS_CLI_PRINT_H_

#include <string>
#include <string_view>
#include <vector>

#include "Records.h"

namespace zusms::cli {

// Rows under a header, each column as wide as its widest cell in terminal
// columns, so that Chinese text (two columns a character) aligns.
void PrintTable(const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows);
void PrintJson(const Json& json);
// The text on one line: each line break shows as "⏎", other control
// characters as "�", so that a message never breaks a table row.
std::string OneLine(std::string_view text);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_PRINT_H_
