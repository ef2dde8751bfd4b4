#include "Platform.h"

#include <time.h>

namespace zusms::platform {

void GetSystemTime(SYSTEMTIME* out) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  out->wYear = static_cast<uint16_t>(utc.tm_year + 1900);
  out->wMonth = static_cast<uint16_t>(utc.tm_mon + 1);
  out->wDayOfWeek = static_cast<uint16_t>(utc.tm_wday);
  out->wDay = static_cast<uint16_t>(utc.tm_mday);
  out->wHour = static_cast<uint16_t>(utc.tm_hour);
  out->wMinute = static_cast<uint16_t>(utc.tm_min);
  out->wSecond = static_cast<uint16_t>(utc.tm_sec);
  out->wMilliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
}

}  // namespace zusms::platform
