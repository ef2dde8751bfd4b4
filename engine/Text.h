// UTF-8 and UTF-16 conversion for statement texts and messages. Column values
// never pass through here: SQLite converts those itself.
#ifndef ZUSMS_ENGINE_TEXT_H_
#define ZUSMS_ENGINE_TEXT_H_

#include <string>
#include <string_view>

namespace zusms::engine {

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);
// Malformed sequences become U+FFFD.
std::u16string ToUtf16(std::string_view text);
// ASCII lower case; identifiers of the dialect are ASCII.
std::string Lower(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_TEXT_H_
