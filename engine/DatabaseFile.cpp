#include "DatabaseFile.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace zusms::engine {

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

// A database file whose header says it holds more pages than the file has
// was cut short (a partial copy, a full disk): SQLite would read the missing
// pages as corruption later, one operation at a time. Refused whole here.
int CheckHeader(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SQLITE_OK;  // SQLite says why
  struct stat st {};
  unsigned char header[100];
  const bool read_all = fstat(fd, &st) == 0 && ::read(fd, header, sizeof header) == sizeof header;
  ::close(fd);
  if (st.st_size == 0) return SQLITE_OK;  // a new, empty database
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
  const bool size_valid = be32(92) == be32(24);
  const uint64_t needed = static_cast<uint64_t>(be32(28)) * page_size;
  if (size_valid && static_cast<uint64_t>(st.st_size) < needed) {
    *error = "the database file is truncated: it holds " + std::to_string(st.st_size) +
             " bytes of the " + std::to_string(needed) + " its header records";
    return SQLITE_CORRUPT;
  }
  return SQLITE_OK;
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

int PrepareDatabaseFile(DatabaseFile* file, std::string* error) {
  std::string path = DatabasePath(error);
  if (path.empty()) return SQLITE_CANTOPEN;
  // A new file is the owner's alone; SQLite gives its -wal and -shm files the
  // same mode.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
  if (const int rc = CheckHeader(path, error); rc != SQLITE_OK) {
    *error = "cannot open " + path + ": " + *error;
    return rc;
  }
  file->path = std::move(path);
  file->open_flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  return SQLITE_OK;
}

}  // namespace zusms::engine
