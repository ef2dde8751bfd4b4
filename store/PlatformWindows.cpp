// The platform layer on Windows: the system's own calls.
#include <windows.h>

#include "Platform.h"

namespace zusms::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16");

void GetSystemTime(SYSTEMTIME* out) {
  ::SYSTEMTIME now{};
  ::GetSystemTime(&now);
  out->wYear = now.wYear;
  out->wMonth = now.wMonth;
  out->wDayOfWeek = now.wDayOfWeek;
  out->wDay = now.wDay;
  out->wHour = now.wHour;
  out->wMinute = now.wMinute;
  out->wSecond = now.wSecond;
  out->wMilliseconds = now.wMilliseconds;
}

const char16_t kUuidLibraryFile[] = u"zuuuid.dll";

HMODULE LoadLibraryW(const char16_t* name) {
  if (!name) return nullptr;
  // A bare name is searched for in the program's folder, the system folders
  // and, by default, the current folder: a DLL of the same name planted
  // there would be loaded when the program's folder lacks one. An empty DLL
  // directory drops the current folder from the search (for the process).
  // A program that set a DLL directory of its own has dropped it already,
  // and keeps its setting.
  wchar_t set_by_program[1];
  if (::GetDllDirectoryW(1, set_by_program) == 0) ::SetDllDirectoryW(L"");
  ::HMODULE module = ::LoadLibraryW(reinterpret_cast<const wchar_t*>(name));
  if (!module) return nullptr;
  // Pinned: it stays mapped until the process ends, whatever FreeLibrary does.
  ::HMODULE pinned = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, reinterpret_cast<const wchar_t*>(name),
                       &pinned);
  return module;
}

void* GetProcAddress(HMODULE module, const char* name) {
  if (!module || !name) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<::HMODULE>(module), name));
}

// Nothing to drop: a pinned module stays until the process ends.
void ReleasePinnedLibraries() {}

bool FreeLibrary(HMODULE module) {
  return module && ::FreeLibrary(static_cast<::HMODULE>(module)) != 0;
}

}  // namespace zusms::platform

// The library's load-time entry point: nothing to do for any reason (the
// connection is opened by the first store that opens, not when the library
// loads), so it reports success.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
