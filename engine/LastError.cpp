#include "Boundary.h"
#include "Text.h"

namespace zusms::engine {

namespace {
thread_local std::u16string t_last_error;
}

void SetLastError(std::u16string_view message) { t_last_error.assign(message); }
void SetLastErrorUtf8(std::string_view message) { t_last_error = ToUtf16(message); }
void ClearLastError() { t_last_error.clear(); }
const std::u16string& LastError() { return t_last_error; }

}  // namespace zusms::engine
