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
  std::string path;  // as SQLite opens it
  int open_flags = 0;
};

// Finds the file, creates it (mode 0600) when it is missing, and checks it.
// Returns SQLITE_OK with *file filled in, or a SQLite result code with *error
// set to the reason (naming the path).
int PrepareDatabaseFile(DatabaseFile* file, std::string* error);

// True when the file is marked so that nobody may write it (its permissions,
// its read-only attribute, a read-only file system): SQLite then opens it
// read-only, and that is what the file asks for. False when it is writable,
// or when that cannot be told.
bool MarkedReadOnly(const std::string& path);

}  // namespace zusms::engine

#endif  // ZUSMS_ENGINE_DATABASEFILE_H_
