#include "Boundary.h"
#include "Text.h"

namespace zusms::engine {

namespace {
thread_local std::u16string t_last_error;
thread_local bool t_last_error_busy = false;
}  // namespace

void SetLastError(std::u16string_view message, bool busy) {
  t_last_error.assign(message);
  t_last_error_busy = busy;
}
void SetLastErrorUtf8(std::string_view message) { SetLastError(ToUtf16(message)); }
void ClearLastError() { SetLastError({}); }
const std::u16string& LastError() { return t_last_error; }
bool LastErrorBusy() { return t_last_error_busy; }

}  // namespace zusms::engine
