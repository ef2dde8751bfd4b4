#include "DatabaseFile.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace zusms::engine {

namespace {

std::string Reason(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Creates every missing folder of `dir`. A folder made here gets mode 0700
// whatever the umask; folders that exist (a linked home) are left alone.
bool MakeDirs(const std::string& dir, std::string* error) {
  std::string path;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    path = dir.substr(0, pos);
    if (path.empty()) continue;
    if (mkdir(path.c_str(), 0700) == 0) {
      if (chmod(path.c_str(), 0700) != 0) {
        *error = Reason(("cannot set the mode of folder " + path).c_str());
        return false;
      }
    } else if (errno != EEXIST) {
      *error = Reason(("cannot create folder " + path).c_str());
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

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

// Opens the file for reading without ever waiting (a FIFO would wait for a
// writer), creating it first when it is missing. A new file is the owner's
// alone (0600 whatever the umask); a dangling symbolic link is followed as
// SQLite follows it, and its target created the same way. Returns the
// descriptor, or -1 with *error set.
int OpenOrCreate(const std::string& path, std::string* error) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    *error = std::string("it is ") + KindOf(st.st_mode) + ", not a database file";
    return -1;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    const int created =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (created < 0) {
      *error = Reason("cannot create the file");
      return -1;
    }
    struct stat made {};
    if (fstat(created, &made) == 0 && S_ISREG(made.st_mode) && made.st_size == 0 &&
        made.st_uid == geteuid() && (made.st_mode & 0777) != 0600) {
      fchmod(created, 0600);
    }
    fd = created;
  }
  if (fd < 0) {
    *error = Reason("cannot open the file");
    return -1;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = std::string("it is ") + KindOf(st.st_mode) + ", not a database file";
    ::close(fd);
    return -1;
  }
  return fd;
}

bool NonEmpty(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// A database file whose header says it holds more pages than the file has
// was cut short (a partial copy, a full disk): SQLite would read the missing
// pages as corruption later, one operation at a time. Refused whole here,
// unless a write-ahead log lies beside it: a checkpoint writes page 1 before
// it grows the file, so a checkpoint cut short (a kill, a full disk) leaves a
// short file whose log still holds every page, and SQLite reads it whole.
int CheckHeader(int fd, const std::string& path, std::string* error) {
  struct stat st {};
  unsigned char header[100];
  const bool read_all = fstat(fd, &st) == 0 && ::pread(fd, header, sizeof header, 0) ==
                                                   static_cast<ssize_t>(sizeof header);
  if (st.st_size == 0) return SQLITE_OK;  // a new, empty database
  const bool logged = NonEmpty(path + "-wal");
  if (!read_all) {
    if (logged) return SQLITE_OK;
    *error = "file is not a database";
    return SQLITE_NOTADB;
  }
  if (std::memcmp(header, "SQLite format 3", 16) != 0) {
    *error = "file is not a database";
    return SQLITE_NOTADB;
  }
  if (logged) return SQLITE_OK;
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

bool Writable(const std::string& path) {
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A file: URI for the path, with the characters a URI gives meaning escaped.
std::string Uri(const std::string& path, const char* query) {
  std::string out = "file:";
  static const char* hex = "0123456789ABCDEF";
  for (unsigned char c : path) {
    if (c == '%' || c == '?' || c == '#' || c <= ' ' || c >= 0x7F) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "?" + query;
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
  const std::string path = DatabasePath(error);
  if (path.empty()) return SQLITE_CANTOPEN;
  const int fd = OpenOrCreate(path, error);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + *error;
    return SQLITE_CANTOPEN;
  }
  // Where SQLite puts the -wal and -shm files: beside the file a link names.
  char resolved[PATH_MAX];
  const std::string real = realpath(path.c_str(), resolved) ? std::string(resolved) : path;
  const int rc = CheckHeader(fd, real, error);
  ::close(fd);
  if (rc != SQLITE_OK) {
    *error = "cannot open " + path + ": " + *error;
    return rc;
  }

  file->path = path;
  file->read_only = false;
  file->open_flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (Writable(real)) return SQLITE_OK;
  // A store that cannot be written (a backup copy, a mounted image) is read.
  file->read_only = true;
  file->open_flags = SQLITE_OPEN_READONLY;
  if (Writable(Folder(real))) return SQLITE_OK;  // SQLite can make its -shm there
  if (Exists(real + "-wal") || Exists(real + "-shm")) {
    *error = "cannot open " + path +
             ": the file and its folder are read-only, and the -wal or -shm file beside it "
             "may hold changes that cannot be read without writing";
    return SQLITE_READONLY;
  }
  // Nobody can write in a read-only folder without a log: SQLite may read
  // the file as unchanging, without locks or a -shm file.
  file->path = Uri(real, "immutable=1");
  file->open_flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
  return SQLITE_OK;
}

}  // namespace zusms::engine
