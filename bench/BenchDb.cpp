#include "BenchDb.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace zusms::bench {

const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zusms-bench-XXXXXX";
    std::string made = mkdtemp(pattern.data());
    std::atexit([] { std::filesystem::remove_all(ScratchDir()); });
    return made;
  }();
  return dir;
}

std::string FreshPath(const std::string& stem) {
  static int counter = 0;
  return ScratchDir() + "/" + stem + std::to_string(++counter) + ".dbf";
}

void RawExec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "raw sqlite: %s: %s\n", sql, error);
    std::abort();
  }
}

sqlite3* RawOpen(const std::string& path, const char* synchronous) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db,
                  SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  sqlite3_busy_timeout(db, 5000);
  RawExec(db, (std::string("PRAGMA journal_mode=WAL; PRAGMA synchronous=") + synchronous +
               "; PRAGMA foreign_keys=ON;")
                  .c_str());
  return db;
}

}  // namespace zusms::bench
