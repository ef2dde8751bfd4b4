// Opens the store of user 1 at the default location and shows what the
// database file holds: the schema version and every table with its rows.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ZuSmsDB.h"

namespace {

std::string Utf8(const char16_t* text) {
  std::string out;
  for (; *text; ++text) {
    char16_t c = *text;
    if (c < 0x80)
      out += static_cast<char>(c);
    else
      out += '?';
  }
  return out;
}

std::string DatabaseFile() {
  if (const char* env = std::getenv("ZUSMS_DB"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    return std::string(xdg) + "/zusms/zuSms.dbf";
  }
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/share/zusms/zuSms.dbf";
}

}  // namespace

int main() {
  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, 1);
  const int32_t rc = OpenZuSmsDB(store);
  if (rc != 0) {
    char16_t error[512];
    GetZuSmsLastError(error, 512);
    std::fprintf(stderr, "zusms: cannot open the store (status %d): %s\n", rc, Utf8(error).c_str());
    UninitZuSmsDB(store);
    return 1;
  }
  const std::string path = DatabaseFile();
  std::printf("store of user 1 opened: %s\n", path.c_str());

  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT ver FROM tbl_zu_sms_ver", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      std::printf("schema version: %s\n", sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    sqlite3_prepare_v2(db,
                       "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE "
                       "'mimer_%' ORDER BY name",
                       -1, &stmt, nullptr);
    std::printf("tables:\n");
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      sqlite3_stmt* count = nullptr;
      std::string sql = "SELECT count(*) FROM \"" + name + "\"";
      long long rows = -1;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &count, nullptr) == SQLITE_OK &&
          sqlite3_step(count) == SQLITE_ROW) {
        rows = sqlite3_column_int64(count, 0);
      }
      sqlite3_finalize(count);
      std::printf("  %-20s %lld rows\n", name.c_str(), rows);
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
  return 0;
}
