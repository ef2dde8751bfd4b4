// The database file itself, before SQLite opens it: where it lies, the
// folders and the file the store creates for it (private to the owner), and
// the checks that refuse a file SQLite would misread.
#ifndef ZUSMS_ENGINE_DATABASEFILE_H_
#define ZUSMS_ENGINE_DATABASEFILE_H_

#include <cstdint>
#include <string>

namespace zusms::engine {

// The database file (UTF-8): $ZUSMS_DB, else zuSms.dbf in $XDG_DATA_HOME/zusms
// or ~/.local/share/zusms, on Windows in %LOCALAPPDATA%\zusms (ZUSMS_DB read
// as wide characters). Creates the default folder (0700) as needed.
std::string DatabasePath(std::string* error);

// What a reader that reads a file as unchanging compares before each read
// transaction: the file's identity, size, time of change and the change
// counter in its header, and whether a -wal or -shm file lies beside it.
struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified_ns = 0;
  uint32_t change_counter = 0;
  bool logs = false;
  bool operator==(const FileStamp&) const = default;
};

struct DatabaseFile {
  std::string path;           // as SQLite opens it (a file: URI for a file it cannot write)
  const char* vfs = nullptr;  // SQLite's default unless named
  int open_flags = 0;
  bool read_only = false;
  // Read as unchanging (no -wal or -shm file beside it when it was opened):
  // `stamp` is what the file was, `real` the file a link names.
  bool watched = false;
  std::string real;
  FileStamp stamp;
};

// Checks the file at `path` (DatabasePath), creating it (mode 0600) when it
// is missing and `create`: anything but a regular file is refused, and so is
// a file cut shorter than its header says unless a write-ahead log lies
// beside it. A file this process cannot write is read without creating or removing any
// file (on Linux; see "Stores that cannot be written" in docs/RELIABILITY.md):
// beside its owner's -wal and -shm files it is read through them, without
// writing them; in rollback mode (or beside a journal) as SQLite reads it
// read-only, under its shared locks; beside neither, as unchanging and
// watched. Returns SQLITE_OK
// with *file filled in, or a SQLite result code with *error set to the reason
// (naming the path); SQLITE_BUSY for a read-only file beside only one of the
// two (its owner opening or closing it), which may be tried again. Nothing
// here waits: the file is opened without blocking.
int PrepareDatabaseFile(const std::string& path, bool create, DatabaseFile* file,
                        std::string* error);

// The file's stamp now (on Windows, an empty one). Opens and closes the
// file: only for a connection that holds no lock on it (an unchanging one).
FileStamp StampOf(const std::string& real);

// For a file read as unchanging: a descriptor of it (-1 on Windows), and a
// read lock on it, on the bytes SQLite's own readers lock, taken for each
// read transaction. The owner's last close then leaves its -wal in place
// instead of writing it into the file under that read. Closing the
// descriptor, as any descriptor of the file this process closes, ends the
// lock: StampOf runs only while the lock is not held.
int OpenWatch(const std::string& real);
void HoldWatch(int fd, bool hold);
void CloseWatch(int fd);

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_DATABASEFILE_H_
