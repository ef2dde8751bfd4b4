// What the store needs of the engine besides MimerDatabase.h: the calling
// thread's last error text (as GetZuSmsLastError hands it out) and the text
// conversions its messages are written with.
#ifndef ZUSMS_ENGINE_BOUNDARY_H_
#define ZUSMS_ENGINE_BOUNDARY_H_

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace zusms::engine {

// `busy`: the failure is another connection holding the file past the busy
// wait (IsZuSmsLastErrorBusy); the other setters say it is not.
void SetLastError(std::u16string_view message, bool busy = false);
void SetLastErrorUtf8(std::string_view message);
void ClearLastError();
std::u16string LastError();
bool LastErrorBusy();

// A text of at most N UTF-16 units kept in place, cut where a character
// ends. It needs no destructor, which is what thread-local state must be:
// with the mingw-w64 runtime the DLL is built with, a thread-local object
// that has one is destroyed after its storage was freed when the thread
// ends, and the heap is corrupted. Zero-initialised, it is empty.
template <size_t N>
struct FixedText {
  char16_t units[N];
  size_t length;

  void Assign(std::u16string_view text) {
    size_t n = std::min(text.size(), N);
    // Never the first half of a pair without its second.
    if (n < text.size() && n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    std::copy_n(text.data(), n, units);
    length = n;
  }
  std::u16string_view View() const { return {units, length}; }
};

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
