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
#include <climits>
#include <ctime>
#endif

namespace zusms::engine {

namespace {

// A rollback journal begins with this magic number; SQLite ignores one that
// does not (and one it zeroed when its transaction ended).
const unsigned char kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};

// What the checks below need to know of the file, learnt without waiting.
struct FileFacts {
  unsigned char header[100] = {};
  size_t got = 0;          // bytes of the header read
  uint64_t size = 0;       // the file's size
  std::string real;        // the file a link names: its -wal and -shm lie beside it
  bool logged = false;     // a non-empty -wal file lies beside it
  bool journaled = false;  // a rollback journal lies beside it (see Journaled)
  bool writable = true;    // this process may write the file
  bool has_wal = false;    // a -wal file lies beside it
  bool has_shm = false;    // a -shm file lies beside it
  FileStamp stamp;
};

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

// A rollback journal lies beside the file.
bool Journaled(const std::string& path) {
  HANDLE file = CreateFileW(Wide(path + "-journal").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  unsigned char start[sizeof kJournalMagic];
  DWORD read = 0;
  const bool ok = ReadFile(file, start, sizeof start, &read, nullptr) && read == sizeof start &&
                  std::memcmp(start, kJournalMagic, sizeof start) == 0;
  CloseHandle(file);
  return ok;
}

// Creates the file when it is missing (a new file takes the access rules of
// its folder; %LOCALAPPDATA% is the user's own) and reads its start.
bool Examine(const std::string& path, bool create, FileFacts* facts, std::string*) {
  const std::wstring wide = Wide(path);
  HANDLE file = create ? CreateFileW(wide.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)
                       : INVALID_HANDLE_VALUE;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  facts->real = path;
  // A file marked read-only is read as a read-only store.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  facts->writable =
      attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY);
  WIN32_FILE_ATTRIBUTE_DATA wal{};
  facts->has_wal =
      GetFileAttributesExW(Wide(path + "-wal").c_str(), GetFileExInfoStandard, &wal) != 0;
  facts->logged = facts->has_wal && (wal.nFileSizeLow != 0 || wal.nFileSizeHigh != 0);
  facts->journaled = Journaled(path);
  file = CreateFileW(wide.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return true;  // SQLite says why
  LARGE_INTEGER length{};
  facts->size = GetFileSizeEx(file, &length) ? static_cast<uint64_t>(length.QuadPart) : 0;
  DWORD read = 0;
  if (!ReadFile(file, facts->header, sizeof facts->header, &read, nullptr)) read = 0;
  facts->got = read;
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

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

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
        *error = Reason("cannot set the mode of folder " + path);
        return false;
      }
      SyncParentOf(path);
    } else if (errno != EEXIST) {
      *error = Reason("cannot create folder " + path);
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

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

// Opens the file for reading without ever waiting (a FIFO would wait for a
// writer), creating it first when it is missing. A new file is the owner's
// alone (0600 whatever the umask; SQLite gives its -wal and -shm files the
// same mode); a dangling symbolic link is followed as SQLite follows it, and
// its target created the same way. The new file's entry in the folder is
// synced by SQLite, which syncs the folder when it makes its first journal
// there, before anything is committed. Returns the descriptor, or -1 with
// *error set.
int OpenOrCreate(const std::string& path, bool create, std::string* error) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    *error = std::string("it is ") + KindOf(st.st_mode) + ", not a database file";
    return -1;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && create) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
      *error = Reason("cannot create the file");
      return -1;
    }
    struct stat made {};
    if (fstat(fd, &made) == 0 && S_ISREG(made.st_mode) && made.st_size == 0 &&
        made.st_uid == geteuid() && (made.st_mode & 0777) != 0600) {
      fchmod(fd, 0600);
    }
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

bool Writable(const std::string& path) {
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// A rollback journal lies beside the file.
bool Journaled(const std::string& path) {
  const int fd = ::open((path + "-journal").c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char start[sizeof kJournalMagic];
  const bool ok = ::pread(fd, start, sizeof start, 0) == static_cast<ssize_t>(sizeof start) &&
                  std::memcmp(start, kJournalMagic, sizeof start) == 0;
  ::close(fd);
  return ok;
}

FileStamp Stamp(const struct stat& st, const unsigned char* header, size_t got, bool logs) {
  FileStamp stamp;
  stamp.device = static_cast<uint64_t>(st.st_dev);
  stamp.inode = static_cast<uint64_t>(st.st_ino);
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  if (got >= 28) {
    stamp.change_counter = static_cast<uint32_t>(header[24]) << 24 |
                           static_cast<uint32_t>(header[25]) << 16 |
                           static_cast<uint32_t>(header[26]) << 8 | header[27];
  }
  stamp.logs = logs;
  return stamp;
}

// The reader's VFS: SQLite's default one, except that it never creates a
// -wal or journal file and never deletes a file. A reader that cannot write
// the store must leave nothing its owner then depends on (a -wal or -shm file
// owned by the reader locks the owner out; in a sticky folder the owner
// cannot even remove it). The -shm file is SQLite's shared memory, opened
// outside xOpen: "readonly_shm=1" keeps it from being created.
int ReaderOpen(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* out) {
  auto* root = static_cast<sqlite3_vfs*>(vfs->pAppData);
  if (flags & (SQLITE_OPEN_WAL | SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_SUPER_JOURNAL)) {
    flags &= ~SQLITE_OPEN_CREATE;
  }
  return root->xOpen(root, name, file, flags, out);
}

int ReaderDelete(sqlite3_vfs*, const char*, int) { return SQLITE_READONLY; }

const char* ReaderVfs() {
  static const char* name = [] {
    static sqlite3_vfs reader = *sqlite3_vfs_find(nullptr);
    reader.pAppData = sqlite3_vfs_find(nullptr);
    reader.zName = "zusms-reader";
    reader.xOpen = &ReaderOpen;
    reader.xDelete = &ReaderDelete;
    sqlite3_vfs_register(&reader, 0);
    return reader.zName;
  }();
  return name;
}

// Creates the file when it is missing and learns what the checks need;
// false with *error set when it is no file a database can be in.
bool Examine(const std::string& path, bool create, FileFacts* facts, std::string* error) {
  const int fd = OpenOrCreate(path, create, error);
  if (fd < 0) return false;
  struct stat st {};
  const bool known = fstat(fd, &st) == 0;
  facts->size = known ? static_cast<uint64_t>(st.st_size) : 0;
  const ssize_t n = ::pread(fd, facts->header, sizeof facts->header, 0);
  facts->got = n > 0 ? static_cast<size_t>(n) : 0;
  ::close(fd);
  char resolved[PATH_MAX];
  facts->real = realpath(path.c_str(), resolved) ? std::string(resolved) : path;
  struct stat wal {
  }, shm{};
  facts->has_wal = lstat((facts->real + "-wal").c_str(), &wal) == 0;
  facts->has_shm = lstat((facts->real + "-shm").c_str(), &shm) == 0;
  facts->logged = facts->has_wal && wal.st_size > 0;
  facts->journaled = Journaled(facts->real);
  facts->writable = Writable(facts->real);
  if (known) facts->stamp = Stamp(st, facts->header, facts->got, facts->has_wal || facts->has_shm);
  // A file's time moves in clock ticks: a change within the tick of its last
  // one would keep the time. A note taken in that tick is out of date at
  // once, so that the next read transaction looks again.
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0 ||
      static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec <= facts->stamp.modified_ns) {
    facts->stamp.modified_ns = -1;
  }
  return true;
}

#endif

// A database file whose header says it holds more pages than the file has
// was cut short (a partial copy, a full disk): SQLite would read the missing
// pages as corruption later, one operation at a time. Refused whole here,
// unless a write-ahead log lies beside it: a checkpoint writes page 1 before
// it grows the file, so a checkpoint cut short (a kill, a full disk) leaves a
// short file whose log still holds every page, and SQLite reads it whole.
int CheckHeader(const FileFacts& facts, std::string* error) {
  const unsigned char* header = facts.header;
  if (facts.size == 0) return SQLITE_OK;  // a new, empty database
  // A rollback journal beside the file (left by a cut while SQLite switched a
  // new file to WAL, or wrote through a journal) is rolled back by SQLite
  // before its first read: until then the file's bytes mean nothing.
  if (facts.journaled) return SQLITE_OK;
  if (facts.got < sizeof facts.header) {
    if (facts.logged) return SQLITE_OK;
    *error = "file is not a database";
    return SQLITE_NOTADB;
  }
  if (std::memcmp(header, "SQLite format 3", 16) != 0) {
    *error = "file is not a database";
    return SQLITE_NOTADB;
  }
  if (facts.logged) return SQLITE_OK;
  const uint32_t page_size =
      (header[16] << 8 | header[17]) == 1 ? 65536u : (header[16] << 8 | header[17]);
  auto be32 = [&](int at) {
    return static_cast<uint32_t>(header[at]) << 24 | static_cast<uint32_t>(header[at + 1]) << 16 |
           static_cast<uint32_t>(header[at + 2]) << 8 | header[at + 3];
  };
  const bool size_valid = be32(92) == be32(24);
  const uint64_t needed = static_cast<uint64_t>(be32(28)) * page_size;
  if (size_valid && facts.size < needed) {
    *error = "the database file is truncated: it holds " + std::to_string(facts.size) +
             " bytes of the " + std::to_string(needed) + " its header records";
    return SQLITE_CORRUPT;
  }
  return SQLITE_OK;
}

#if !defined(_WIN32)
// A file: URI for the path, with the characters a URI gives meaning escaped.
std::string Uri(const std::string& path, const char* query) {
  std::string out = "file:";
  static const char* hex = "0123456789ABCDEF";
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '%' || c == '?' || c == '#' || c <= ' ' || c >= 0x7F) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += ch;
    }
  }
  return out + "?" + query;
}
#endif

}  // namespace

std::string DatabasePath(std::string* error) { return FindDatabasePath(error); }

int PrepareDatabaseFile(const std::string& path, bool create, DatabaseFile* file,
                        std::string* error) {
  FileFacts facts;
  if (!Examine(path, create, &facts, error)) {
    *error = "cannot open " + path + ": " + *error;
    return SQLITE_CANTOPEN;
  }
  if (const int rc = CheckHeader(facts, error); rc != SQLITE_OK) {
    *error = "cannot open " + path + ": " + *error;
    return rc;
  }
  file->path = path;
  file->read_only = false;
  file->open_flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (facts.writable) return SQLITE_OK;
  // A store that cannot be written (a backup copy, a store of another user,
  // a read-only mount) is read.
  file->read_only = true;
  file->open_flags = SQLITE_OPEN_READONLY;
#if !defined(_WIN32)
  file->real = facts.real;
  file->stamp = facts.stamp;
  file->vfs = ReaderVfs();
  file->open_flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
  if (facts.has_wal && facts.has_shm) {
    // Its owner's log: read through the owner's shared memory without
    // writing it, so that the owner's commits and checkpoints and this
    // reader's snapshots keep out of each other's way.
    file->path = Uri(facts.real, "readonly_shm=1");
    return SQLITE_OK;
  }
  if (facts.has_wal || facts.has_shm) {
    *error = "cannot open " + path + " read-only: a " + (facts.has_wal ? "-wal" : "-shm") +
             " file lies beside it without its " + (facts.has_wal ? "-shm" : "-wal") +
             " file, which this user cannot make (its owner may be opening or closing the store;"
             " opening it once as its owner makes both)";
    return SQLITE_BUSY;
  }
  // A file in rollback mode (written by another program; its header's
  // versions are 1, WAL's are 2), or one with a journal beside it: its
  // owner writes the file itself. Read as any SQLite reader reads it, under
  // SQLite's shared lock on the file for each read transaction, which the
  // owner's commit waits for and which waits for the owner's commit; a
  // journal left by a writer that died is refused, not read past. Should
  // the owner switch the file to WAL, its -shm is read, never made.
  if (facts.journaled || (facts.got >= 20 && (facts.header[18] == 1 || facts.header[19] == 1))) {
    file->path = Uri(facts.real, "mode=ro&readonly_shm=1");
    return SQLITE_OK;
  }
  // No log: the file holds every commit, and its owner writes it only
  // through a -wal. Read as unchanging (no locks, no -shm file); the
  // connection compares the stamp before each read transaction and opens
  // the file again once its owner changed it.
  file->path = Uri(facts.real, "immutable=1");
  file->watched = true;
#endif
  return SQLITE_OK;
}

#if defined(_WIN32)
FileStamp StampOf(const std::string&) { return {}; }
int OpenWatch(const std::string&) { return -1; }
void HoldWatch(int, bool) {}
void CloseWatch(int) {}
#else
int OpenWatch(const std::string& real) {
  return ::open(real.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

void CloseWatch(int fd) {
  if (fd >= 0) ::close(fd);
}

void HoldWatch(int fd, bool hold) {
  if (fd < 0) return;
  // SQLite's unix VFS: readers hold a read lock on these 510 bytes, and a
  // process that would write the file whole (a checkpoint at the last close,
  // a commit in rollback mode) needs a write lock on all of them.
  constexpr off_t kSharedFirst = 0x40000000 + 2;
  constexpr off_t kSharedSize = 510;
  struct flock lock {};
  lock.l_type = hold ? F_RDLCK : F_UNLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kSharedFirst;
  lock.l_len = kSharedSize;
  // Without waiting: a writer of a rollback-mode file holding it makes the
  // read go ahead unheld, as before.
  fcntl(fd, F_SETLK, &lock);
}
FileStamp StampOf(const std::string& real) {
  FileStamp stamp;
  const int fd = ::open(real.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return stamp;
  struct stat st {};
  unsigned char header[28] = {};
  const ssize_t got = ::pread(fd, header, sizeof header, 0);
  const bool known = fstat(fd, &st) == 0;
  ::close(fd);
  if (!known) return stamp;
  struct stat log {};
  const bool logs =
      lstat((real + "-wal").c_str(), &log) == 0 || lstat((real + "-shm").c_str(), &log) == 0;
  return Stamp(st, header, got > 0 ? static_cast<size_t>(got) : 0, logs);
}
#endif

}  // namespace zusms::engine
