// Stand-ins for the few operating-system calls the store makes, under the
// names of the calls they replace. A Windows build maps these onto the real
// ones; everything else in the store is portable.
#ifndef ZUSMS_STORE_PLATFORM_H_
#define ZUSMS_STORE_PLATFORM_H_

#include <cstdint>

namespace zusms::platform {

struct SYSTEMTIME {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

// The current time in UTC.
void GetSystemTime(SYSTEMTIME* out);

}  // namespace zusms::platform

#endif  // ZUSMS_STORE_PLATFORM_H_
