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

// Reads a timestamp column's text into `out`: the store's own form,
// YYYY-MM-DD HH:MM:SS[.fffffffff] (up to nine digits of fraction, scaled to
// billionths), or any other form SQLite's date functions read (another
// program may have written `2024-01-02T03:04:05`, a date alone, an offset
// or a Julian day), taken as SQLite takes it, to the millisecond. False,
// with `out` untouched, when SQLite cannot read it either.
bool ParseTimestamp(const char* text, tagTIMESTAMP_STRUCT& out);

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_TEXT_H_
