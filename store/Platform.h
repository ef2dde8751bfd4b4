// The operating system's calls that the store makes, behind one header, with
// one small file per platform: PlatformWindows.cpp calls Windows itself
// (GetSystemTime, LoadLibraryW, GetProcAddress, FreeLibrary, and the DLL's
// entry point); PlatformPosix.cpp gives the same calls on Linux. Everything
// else in the store is portable; the database file's own opening is the
// engine's (engine/DatabaseFile.cpp).
#ifndef ZUSMS_STORE_PLATFORM_H_
#define ZUSMS_STORE_PLATFORM_H_

#include <cstdint>

namespace zusms::platform {

// Windows' SYSTEMTIME, field for field.
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
// The UUID library's bare file name: libzuuuid.so, zuuuid.dll.
extern const char16_t kUuidLibraryFile[];
// Loads a dynamic library by bare file name, found the platform's way:
// Windows searches the program's own folder first (the DLL ships beside the
// .exe); Linux finds it beside libzusmsdb.so through its run path, then in
// the system folders. Null when it cannot be loaded.
//
// After a library's first successful load the platform keeps it loaded, so
// that loading and releasing it again cost a reference count, not a mapping.
HMODULE LoadLibraryW(const char16_t* name);
// Drops the platform's own references (Linux; a Windows pin lasts as long as
// the process); the store runs it when its last share of the connection
// closes. Waits for nothing but the pin list.
void ReleasePinnedLibraries();
void* GetProcAddress(HMODULE module, const char* name);
bool FreeLibrary(HMODULE module);

}  // namespace zusms::platform

#endif  // ZUSMS_STORE_PLATFORM_H_
