#include "DatabaseFile.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

// The operating system's file calls, for the file-open code below only. On
// Windows every path is wide, from ZUSMS_DB read with _wgetenv to the file.
#if defined(_WIN32)
#include <windows.h>

#include "Text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace zusms::engine {

namespace {

#if defined(_WIN32)

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Utf8(const std::wstring& wide) {
  return ToUtf8(std::u16string(wide.begin(), wide.end()));
}

// $ZUSMS_DB, else %LOCALAPPDATA%\zusms\zuSms.dbf (the folder made as needed).
std::string FindDatabasePath(std::string* error) {
  if (const wchar_t* env = _wgetenv(L"ZUSMS_DB"); env && *env) return Utf8(env);
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (!local || !*local) {
    *error = "neither ZUSMS_DB nor LOCALAPPDATA is set";
    return {};
  }
  const std::wstring dir = std::wstring(local) + L"\\zusms";
  if (!CreateDirectoryW(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    *error =
        "cannot create folder " + Utf8(dir) + ": Windows error " + std::to_string(GetLastError());
    return {};
  }
  const DWORD attributes = GetFileAttributesW(dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = Utf8(dir) + " is not a folder";
    return {};
  }
  return Utf8(dir + L"\\zuSms.dbf");
}

// A new file takes the access rules of its folder; %LOCALAPPDATA% is the
// user's own.
void CreateIfMissing(const std::string& path) {
  const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// The first bytes of the file and its size; false when it cannot be opened.
bool ReadStart(const std::string& path, unsigned char* buf, size_t capacity, size_t* got,
               uint64_t* size) {
  const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER length{};
  *size = GetFileSizeEx(file, &length) ? static_cast<uint64_t>(length.QuadPart) : 0;
  DWORD read = 0;
  if (!ReadFile(file, buf, static_cast<DWORD>(capacity), &read, nullptr)) read = 0;
  *got = read;
  CloseHandle(file);
  return true;
}

#else

// Makes the entry of a folder just made last through a power cut: syncs the
// folder that holds it. That folder is opened as SQLite opens one to sync it
// after making a journal (the default VFS's "openDirectory" system call), so
// that whatever watches SQLite's folder syncs sees these too.
void SyncParentOf(const std::string& path) {
  using OpenDirectory = int (*)(const char*, int*);
  sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
  auto open_directory =
      vfs && vfs->iVersion >= 3
          ? reinterpret_cast<OpenDirectory>(vfs->xGetSystemCall(vfs, "openDirectory"))
          : nullptr;
  int fd = -1;
  if (!open_directory) {
    fd = ::open(path.substr(0, path.rfind('/')).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } else if (open_directory(path.c_str(), &fd) != SQLITE_OK) {
    fd = -1;
  }
  if (fd < 0) return;
  ::fsync(fd);  // as for SQLite's own folder syncs, a file system without them is no failure
  ::close(fd);
}

// Creates every missing folder of `dir` with mode 0700.
bool MakeDirs(const std::string& dir, std::string* error) {
  std::string path;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    path = dir.substr(0, pos);
    if (path.empty()) continue;
    if (mkdir(path.c_str(), 0700) == 0) {
      SyncParentOf(path);
    } else if (errno != EEXIST) {
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

// $ZUSMS_DB, else zuSms.dbf in $XDG_DATA_HOME/zusms or ~/.local/share/zusms.
std::string FindDatabasePath(std::string* error) {
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

// A new file is the owner's alone; SQLite gives its -wal and -shm files the
// same mode. Its entry in the folder is synced by SQLite, which syncs the
// folder when it makes its first journal there, before anything is committed.
void CreateIfMissing(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
}

// The first bytes of the file and its size; false when it cannot be opened.
bool ReadStart(const std::string& path, unsigned char* buf, size_t capacity, size_t* got,
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

#endif

// A database file whose header says it holds more pages than the file has
// was cut short (a partial copy, a full disk): SQLite would read the missing
// pages as corruption later, one operation at a time. Refused whole here.
int CheckHeader(const std::string& path, std::string* error) {
  unsigned char header[100];
  size_t got = 0;
  uint64_t file_size = 0;
  if (!ReadStart(path, header, sizeof header, &got, &file_size))
    return SQLITE_OK;  // SQLite says why
  const bool read_all = got == sizeof header;
  if (file_size == 0) return SQLITE_OK;  // a new, empty database
  if (!read_all || std::memcmp(header, "SQLite format 3", 16) != 0) {
    *error = "file is not a database";
    return SQLITE_NOTADB;
  }
  const uint32_t page_size =
      (header[16] << 8 | header[17]) == 1 ? 65536u : (header[16] << 8 | header[17]);
  auto be32 = [&](int at) {
    return static_cast<uint32_t>(header[at]) << 24 | static_cast<uint32_t>(header[at + 1]) << 16 |
           static_cast<uint32_t>(header[at + 2]) << 8 | header[at + 3];
  };
  // A WAL file beside the database may hold pages that a checkpoint has not
  // copied back yet (a checkpoint held back by a reader copies page 1 before
  // the last pages): the file is then shorter than its header says, and
  // SQLite reads the rest from the WAL.
  unsigned char wal_start[1];
  size_t wal_got = 0;
  uint64_t wal_size = 0;
  const bool wal_pages =
      ReadStart(path + "-wal", wal_start, sizeof wal_start, &wal_got, &wal_size) && wal_size > 0;
  const bool size_valid = be32(92) == be32(24) && !wal_pages;
  const uint64_t needed = static_cast<uint64_t>(be32(28)) * page_size;
  if (size_valid && file_size < needed) {
    *error = "the database file is truncated: it holds " + std::to_string(file_size) +
             " bytes of the " + std::to_string(needed) + " its header records";
    return SQLITE_CORRUPT;
  }
  return SQLITE_OK;
}

}  // namespace

#if defined(_WIN32)
bool MarkedReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}
#else
bool MarkedReadOnly(const std::string& path) {
  return ::access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS);
}
#endif

std::string DatabasePath(std::string* error) { return FindDatabasePath(error); }

int PrepareDatabaseFile(DatabaseFile* file, std::string* error) {
  std::string path = DatabasePath(error);
  if (path.empty()) return SQLITE_CANTOPEN;
  CreateIfMissing(path);
  if (const int rc = CheckHeader(path, error); rc != SQLITE_OK) {
    *error = "cannot open " + path + ": " + *error;
    return rc;
  }
  file->path = std::move(path);
  file->open_flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  return SQLITE_OK;
}

}  // namespace zusms::engine
