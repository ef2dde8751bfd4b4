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

using HMODULE = void*;
// Loads a dynamic library by file name, found the platform's way (a bare
// name: beside the calling library through its run path, then the system
// folders). Null when it cannot be loaded.
//
// After a library's first successful load the platform keeps one reference
// of its own until the process's last store closes, so that loading and
// releasing it again cost a reference count, not a mapping.
HMODULE LoadLibraryW(const char16_t* name);
// Drops the platform's own references; the store runs it when its last
// share of the connection closes. Waits for nothing but the pin list.
void ReleasePinnedLibraries();
void* GetProcAddress(HMODULE module, const char* name);
bool FreeLibrary(HMODULE module);

}  // namespace zusms::platform

#endif  // ZUSMS_STORE_PLATFORM_H_
