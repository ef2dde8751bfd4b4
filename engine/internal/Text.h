// Text helpers of the engine. Column values never pass through here: SQLite
// converts those itself.
#ifndef ZUSMS_ENGINE_TEXT_H_
#define ZUSMS_ENGINE_TEXT_H_

#include <string>
#include <string_view>

#include "Boundary.h"  // ToUtf8, ToUtf16

namespace zusms::engine {

// ASCII lower case; identifiers of the dialect are ASCII.
std::string Lower(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_TEXT_H_
