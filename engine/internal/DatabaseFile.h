// The database file itself, before SQLite opens it: where it lies, the
// folders and the file the store creates for it (private to the owner), and
// the checks that refuse a file SQLite would misread.
#ifndef ZUSMS_ENGINE_DATABASEFILE_H_
#define ZUSMS_ENGINE_DATABASEFILE_H_

#include <string>

namespace zusms::engine {

// The database file (UTF-8): $ZUSMS_DB, else zuSms.dbf in $XDG_DATA_HOME/zusms
// or ~/.local/share/zusms, on Windows in %LOCALAPPDATA%\zusms (ZUSMS_DB read
// as wide characters). Creates the default folder (0700) as needed.
std::string DatabasePath(std::string* error);

struct DatabaseFile {
  std::string path;  // as SQLite opens it (a file: URI for an immutable file)
  int open_flags = 0;
  bool read_only = false;
  // The file as read-only beside no -wal or -shm file: SQLite makes both for
  // its reader, and they must not outlive it (see RemoveReaderLogFiles).
  std::string reader_log_base;
};

// Finds the file, creates it (mode 0600) when it is missing, and checks it:
// anything but a regular file is refused, and so is a file cut shorter than
// its header says unless a write-ahead log lies beside it. A file that cannot
// be written opens read-only; in a read-only folder without -wal or -shm
// files, as immutable. Returns SQLITE_OK with *file filled in, or a SQLite
// result code with *error set to the reason (naming the path). Nothing here
// waits: the file is opened without blocking.
int PrepareDatabaseFile(DatabaseFile* file, std::string* error);

// After a read-only connection to `base` (the resolved file path) closed:
// removes the -wal and -shm files SQLite made for it. They belong to the
// reader, and their owner's mode, so the file's owner could not open its own
// store again while they stay. Removed only when this user owns both, the
// -wal is empty, and no process maps the -shm (SQLite's own "in use" lock on
// it is free, and held while both are removed).
void RemoveReaderLogFiles(const std::string& base);

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_DATABASEFILE_H_
