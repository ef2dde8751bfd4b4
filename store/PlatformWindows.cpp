// The platform layer on Windows: the system's own calls, with wide-character
// paths throughout.
#include <windows.h>

#include <cwchar>
#include <string>

#include "Platform.h"
#include "Text.h"

namespace zusms::platform {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16");

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = engine::ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Utf8(const wchar_t* wide) {
  return engine::ToUtf8(reinterpret_cast<const char16_t*>(wide));
}

}  // namespace

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

bool FreeLibrary(HMODULE module) {
  return module && ::FreeLibrary(static_cast<::HMODULE>(module)) != 0;
}

std::string DatabasePath(std::string* error) {
  if (const wchar_t* env = _wgetenv(L"ZUSMS_DB"); env && *env) return Utf8(env);
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (!local || !*local) {
    *error = "neither ZUSMS_DB nor LOCALAPPDATA is set";
    return {};
  }
  const std::wstring dir = std::wstring(local) + L"\\zusms";
  if (!::CreateDirectoryW(dir.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    *error = "cannot create folder " + Utf8(dir.c_str()) + ": Windows error " +
             std::to_string(::GetLastError());
    return {};
  }
  const DWORD attributes = ::GetFileAttributesW(dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = Utf8(dir.c_str()) + " is not a folder";
    return {};
  }
  return Utf8((dir + L"\\zuSms.dbf").c_str());
}

void CreateFileIfMissing(const std::string& path) {
  // The new file takes the access rules of its folder; %LOCALAPPDATA% is the
  // user's own.
  const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

bool ReadFileStart(const std::string& path, unsigned char* buf, size_t capacity, size_t* got,
                   uint64_t* size) {
  const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER length{};
  *size = ::GetFileSizeEx(file, &length) ? static_cast<uint64_t>(length.QuadPart) : 0;
  DWORD read = 0;
  if (!::ReadFile(file, buf, static_cast<DWORD>(capacity), &read, nullptr)) read = 0;
  *got = read;
  ::CloseHandle(file);
  return true;
}

}  // namespace zusms::platform

// The library's load-time entry point: nothing to do for any reason (the
// connection is opened by the first store that opens, not when the library
// loads), so it reports success.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
