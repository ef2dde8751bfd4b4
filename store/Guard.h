// Turns every exception into a status, so that none ever crosses the library's
// boundary. The message is kept as the thread's last error.
#ifndef ZUSMS_STORE_GUARD_H_
#define ZUSMS_STORE_GUARD_H_

#include <cstdint>
#include <exception>
#include <new>

#include "Boundary.h"
#include "MimerDatabase.h"

namespace zusms {

template <typename Fn>
int32_t Guard(Fn&& fn) noexcept {
  try {
    return fn();
  } catch (const CMimerException&) {
    return -1;  // its message is already the last error
  } catch (const std::bad_alloc&) {
    engine::SetLastError(u"out of memory");
  } catch (const std::exception& e) {
    engine::SetLastErrorUtf8(e.what());
  } catch (...) {
    engine::SetLastError(u"unexpected failure");
  }
  return -1;
}

}  // namespace zusms

#endif  // ZUSMS_STORE_GUARD_H_
