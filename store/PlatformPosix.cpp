// The platform layer on Linux: POSIX calls under the names of the Windows
// calls that PlatformWindows.cpp makes.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "Connection.h"
#include "Platform.h"
#include "Text.h"

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

const char16_t kUuidLibraryFile[] = u"libzuuuid.so";

namespace {

std::mutex g_pin_mutex;
std::unordered_map<std::string, void*>* g_pinned = nullptr;

void ReleasePinned() {
  std::lock_guard lock(g_pin_mutex);
  if (!g_pinned) return;
  for (auto& [name, handle] : *g_pinned) dlclose(handle);
  g_pinned->clear();
}

}  // namespace

HMODULE LoadLibraryW(const char16_t* name) {
  if (!name) return nullptr;
  const std::string file = engine::ToUtf8(name);
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  // Registered before the pin lock is taken: the hook runs under the
  // connection's lock and takes the pin lock itself.
  static std::once_flag registered;
  std::call_once(registered, [] { engine::Connection::AtLastClose(&ReleasePinned); });
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

namespace {

// Creates every missing folder of `dir` with mode 0700.
bool MakeDirs(const std::string& dir, std::string* error) {
  std::string path;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    path = dir.substr(0, pos);
    if (path.empty()) continue;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = "cannot create folder " + path + ": " + std::strerror(errno);
      return false;
    }
  }
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = dir + " is not a folder";
    return false;
  }
  return true;
}

}  // namespace

std::string DatabasePath(std::string* error) {
  if (const char* env = std::getenv("ZUSMS_DB"); env && *env) return env;
  std::string dir;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    dir = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    dir = std::string(home) + "/.local/share";
  } else {
    *error = "neither ZUSMS_DB nor HOME is set";
    return {};
  }
  dir += "/zusms";
  if (!MakeDirs(dir, error)) return {};
  return dir + "/zuSms.dbf";
}

void CreateFileIfMissing(const std::string& path) {
  // SQLite gives the -wal and -shm files the same mode.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
}

bool ReadFileStart(const std::string& path, unsigned char* buf, size_t capacity, size_t* got,
                   uint64_t* size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  *size = fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  const ssize_t n = ::read(fd, buf, capacity);
  *got = n > 0 ? static_cast<size_t>(n) : 0;
  ::close(fd);
  return true;
}

}  // namespace zusms::platform
