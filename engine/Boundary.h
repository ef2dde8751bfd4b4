// What the store needs of the engine besides MimerDatabase.h: the calling
// thread's last error text (as GetZuSmsLastError hands it out) and the text
// conversions its messages are written with.
#ifndef ZUSMS_ENGINE_BOUNDARY_H_
#define ZUSMS_ENGINE_BOUNDARY_H_

#include <string>
#include <string_view>

namespace zusms::engine {

void SetLastError(std::u16string_view message);
void SetLastErrorUtf8(std::string_view message);
void ClearLastError();
const std::u16string& LastError();

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);
// Malformed sequences become U+FFFD.
std::u16string ToUtf16(std::string_view text);

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_BOUNDARY_H_
