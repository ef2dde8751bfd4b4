// The calling thread's last error text, as GetZuSmsLastError hands it out.
#ifndef ZUSMS_ENGINE_LASTERROR_H_
#define ZUSMS_ENGINE_LASTERROR_H_

#include <string>
#include <string_view>

namespace zusms::engine {

void SetLastError(std::u16string_view message);
void SetLastErrorUtf8(std::string_view message);
void ClearLastError();
const std::u16string& LastError();

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_LASTERROR_H_
