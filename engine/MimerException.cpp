#include "MimerException.h"

#include <sqlite3.h>

#include "Boundary.h"

CMimerException::CMimerException(std::u16string message, int code)
    : message_(std::move(message)), code_(code) {
  zusms::engine::SetLastError(message_, Busy());
}

bool CMimerException::Busy(int code) {
  const int primary = code & 0xFF;
  return code > 0 && (primary == SQLITE_BUSY || primary == SQLITE_LOCKED);
}

CMimerException CMimerException::FromUtf8(const std::string& message, int code) {
  return CMimerException(zusms::engine::ToUtf16(message), code);
}

CMimerException CMimerException::Engine(const std::string& message) {
  return FromUtf8(message, -1);
}

CMimerException CMimerException::Unsupported(const std::string& what) {
  return FromUtf8("unsupported statement: " + what, -1);
}

CMimerException CMimerException::Filter(const std::string& what, const char* column) {
  return FromUtf8("query filter: " + what + " (column " + (column ? column : "?") + ")", -1);
}

CMimerException CMimerException::Sqlite(sqlite3* db, int rc, const std::string& context) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (!context.empty()) message = context + ": " + message;
  return FromUtf8(message, rc);
}
