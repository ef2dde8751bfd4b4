#include <type_traits>

#include "Boundary.h"
#include "Text.h"

namespace zusms::engine {

namespace {
// Long enough for any statement text the store sends, quoted in a message.
thread_local FixedText<4096> t_last_error;
static_assert(std::is_trivially_destructible_v<decltype(t_last_error)>);
}  // namespace

void SetLastError(std::u16string_view message) { t_last_error.Assign(message); }
void SetLastErrorUtf8(std::string_view message) { t_last_error.Assign(ToUtf16(message)); }
void ClearLastError() { t_last_error.length = 0; }
std::u16string LastError() { return std::u16string(t_last_error.View()); }

}  // namespace zusms::engine
