// The operating system's calls that the store makes, behind one header, with
// one small file per platform: PlatformWindows.cpp calls Windows itself
// (GetSystemTime, LoadLibraryW, GetProcAddress, FreeLibrary, wide-character
// paths); PlatformPosix.cpp gives the same calls on Linux. Everything else in
// the store is portable.
#ifndef ZUSMS_STORE_PLATFORM_H_
#define ZUSMS_STORE_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>

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
void* GetProcAddress(HMODULE module, const char* name);
bool FreeLibrary(HMODULE module);

// The database file (UTF-8): $ZUSMS_DB if set (read as wide characters on
// Windows), else zuSms.dbf in %LOCALAPPDATA%\zusms\ on Windows and in
// $XDG_DATA_HOME/zusms/ (or ~/.local/share/zusms/) elsewhere, its folders
// created as needed. Empty, with *error set, when there is none.
std::string DatabasePath(std::string* error);

// Creates the file if it does not exist yet, readable by its owner alone
// (mode 0600; on Windows the folder's own access rules).
void CreateFileIfMissing(const std::string& path);

// Reads up to `capacity` bytes from the start of the file into `buf` and its
// size into *size; *got receives the bytes read. False when it cannot be
// opened.
bool ReadFileStart(const std::string& path, unsigned char* buf, size_t capacity, size_t* got,
                   uint64_t* size);

}  // namespace zusms::platform

#endif  // ZUSMS_STORE_PLATFORM_H_
