// What the store needs of the engine besides MimerDatabase.h: the calling
// thread's last error text (as GetZuSmsLastError hands it out) and the text
// conversions its messages are written with.
#ifndef ZUSMS_ENGINE_BOUNDARY_H_
#define ZUSMS_ENGINE_BOUNDARY_H_

#include <string>
#include <string_view>

namespace zusms::engine {

// `busy`: the failure is another connection holding the file past the busy
// wait (IsZuSmsLastErrorBusy); the other setters say it is not.
void SetLastError(std::u16string_view message, bool busy = false);
void SetLastErrorUtf8(std::string_view message);
void ClearLastError();
const std::u16string& LastError();
bool LastErrorBusy();

// Puts the calling thread's last error back as it was when this was made:
// for work whose failures are none of the caller's business.
class KeptLastError {
 public:
  KeptLastError() : message_(LastError()), busy_(LastErrorBusy()) {}
  ~KeptLastError() { SetLastError(message_, busy_); }
  KeptLastError(const KeptLastError&) = delete;
  KeptLastError& operator=(const KeptLastError&) = delete;

 private:
  std::u16string message_;
  bool busy_;
};

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);
// Every ill-formed sequence becomes U+FFFD: overlong forms, encoded
// surrogates, code points above U+10FFFF, stray or missing continuation
// bytes, a sequence cut by the end of the text.
std::u16string ToUtf16(std::string_view text);

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_BOUNDARY_H_
