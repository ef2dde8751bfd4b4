// The platform layer on Linux: POSIX calls under the names of the Windows
// calls that PlatformWindows.cpp makes.
#include <dlfcn.h>
#include <time.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "Boundary.h"
#include "Platform.h"

namespace zusms::platform {

const char16_t kUuidLibraryFile[] = u"libzuuuid.so";

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

namespace {

std::mutex g_pin_mutex;
std::unordered_map<std::string, void*>* g_pinned = nullptr;

}  // namespace

void ReleasePinnedLibraries() {
  std::lock_guard lock(g_pin_mutex);
  if (!g_pinned) return;
  for (auto& [name, handle] : *g_pinned) dlclose(handle);
  g_pinned->clear();
}

HMODULE LoadLibraryW(const char16_t* name) {
  if (!name) return nullptr;
  const std::string file = engine::ToUtf8(name);
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  std::lock_guard lock(g_pin_mutex);
  if (!g_pinned) g_pinned = new std::unordered_map<std::string, void*>();
  if (g_pinned->find(file) == g_pinned->end()) {
    if (void* pin = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) g_pinned->emplace(file, pin);
  }
  return handle;
}

void* GetProcAddress(HMODULE module, const char* name) {
  return module && name ? dlsym(module, name) : nullptr;
}

bool FreeLibrary(HMODULE module) { return module && dlclose(module) == 0; }

}  // namespace zusms::platform
