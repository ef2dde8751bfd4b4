// The one exception of the database access layer.
#ifndef ZUSMS_ENGINE_MIMEREXCEPTION_H_
#define ZUSMS_ENGINE_MIMEREXCEPTION_H_

#include <string>

#include "ZuSmsDB.h"

struct sqlite3;

// Raised by every failing operation of this layer. Constructing one also
// records its message as the calling thread's last error (busy when Busy()).
class ZUSMS_API CMimerException {
 public:
  CMimerException(std::u16string message, int code);
  static CMimerException FromUtf8(const std::string& message, int code);

  // The layer's own failures (code -1), named by what went wrong.
  static CMimerException Engine(const std::string& message);
  // A statement outside the dialect the engine speaks.
  static CMimerException Unsupported(const std::string& what);
  // A query filter item that cannot be honoured.
  static CMimerException Filter(const std::string& what, const char* column);
  // A failure SQLite reported on `db` (null: described by `rc` alone),
  // prefixed with `context` when it is not empty.
  static CMimerException Sqlite(sqlite3* db, int rc, const std::string& context = {});

  const std::u16string& Message() const { return message_; }
  // The SQLite result code behind the failure, or -1 for the layer's own.
  int Code() const { return code_; }
  // True when `code` says the file was busy: another connection held a lock
  // past the busy wait (SQLITE_BUSY or SQLITE_LOCKED, extended or not).
  static bool Busy(int code);
  bool Busy() const { return Busy(code_); }

 private:
  std::u16string message_;
  int code_;
};

#endif  // ZUSMS_ENGINE_MIMEREXCEPTION_H_
