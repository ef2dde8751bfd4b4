#include <type_traits>

#include "Boundary.h"
#include "Text.h"

namespace zusms::engine {

namespace {
// Long enough for any statement text the store sends, quoted in a message.
thread_local FixedText<4096> t_last_error;
thread_local bool t_last_error_busy;
static_assert(std::is_trivially_destructible_v<decltype(t_last_error)>);
}  // namespace

void SetLastError(std::u16string_view message, bool busy) {
  t_last_error.Assign(message);
  t_last_error_busy = busy;
}
void SetLastErrorUtf8(std::string_view message) { SetLastError(ToUtf16(message)); }
void ClearLastError() { SetLastError({}); }
std::u16string LastError() { return std::u16string(t_last_error.View()); }
bool LastErrorBusy() { return t_last_error_busy; }

}  // namespace zusms::engine
