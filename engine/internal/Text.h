// Text helpers of the engine. Column values never pass through here: SQLite
// converts those itself.
#ifndef ZUSMS_ENGINE_TEXT_H_
#define ZUSMS_ENGINE_TEXT_H_

#include <string>
#include <string_view>

#include "Boundary.h"  // ToUtf8, ToUtf16
#include "MimerDatabase.h"

namespace zusms::engine {

// ASCII lower case; identifiers of the dialect are ASCII.
std::string Lower(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Reads a timestamp column's text, YYYY-MM-DD HH:MM:SS[.fffffffff] (up to nine
// digits of fraction, scaled to billionths), into `out`; false, with `out`
// untouched, when the text does not start so.
bool ParseTimestamp(const char* text, tagTIMESTAMP_STRUCT& out);

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_TEXT_H_
