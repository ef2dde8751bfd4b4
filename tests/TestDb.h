// A fresh database file per test, and the process's connection closed after.
#ifndef ZUSMS_TESTS_TESTDB_H_
#define ZUSMS_TESTS_TESTDB_H_

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "Boundary.h"
#include "Connection.h"
#include "MimerDatabase.h"
#include "TestPlatform.h"
#include "Text.h"
#include "ZuSmsDB.h"

namespace zusms::testing {

// A path as UTF-8, on every platform.
inline std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}
inline std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A whole file's bytes ("" when it cannot be read).
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A new, empty folder of its own under the system's temporary folder.
class TempDir {
 public:
  TempDir() {
    std::random_device random;
    std::filesystem::path dir;
    do {
      dir = std::filesystem::temp_directory_path() / ("zusms-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(dir));
    path_ = Utf8(dir);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(PathOf(path_), ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;  // UTF-8
};

// The store of `user` from InitZuSmsDB, opened unless `open` is false;
// closed and freed with the handle.
class StoreHandle {
 public:
  explicit StoreHandle(uint32_t user = 1, bool open = true) {
    InitZuSmsDB(&db_, user);
    if (open) opened_ = OpenZuSmsDB(db_);
  }
  ~StoreHandle() {
    CloseZuSmsDB(db_);
    UninitZuSmsDB(db_);
  }
  StoreHandle(const StoreHandle&) = delete;
  StoreHandle& operator=(const StoreHandle&) = delete;
  operator SmsDatabase*() const { return db_; }
  SmsDatabase* operator->() const { return db_; }
  int32_t opened() const { return opened_; }  // OpenZuSmsDB's status

 private:
  SmsDatabase* db_ = nullptr;
  int32_t opened_ = -1;
};

class DbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.path() + "/zuSms.dbf";
    SetEnv("ZUSMS_DB", file_);
    UnsetEnv("ZUSMS_EXTERNAL_USERS");
  }
  void TearDown() override {
    Release();
    UnsetEnv("ZUSMS_DB");
  }
  // Closes the process's connection, whatever stores still hold a share.
  static void Release() {
    auto& c = engine::Connection::Default();
    std::lock_guard lock(c.Mutex());
    while (c.Shares() > 0) c.Release();
  }

  // Runs SQL on the file through a connection of its own.
  std::string Raw(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(file_.c_str(), &db);
    std::string out;
    char* error = nullptr;
    sqlite3_exec(
        db, ("PRAGMA foreign_keys=ON;" + sql).c_str(),
        [](void* o, int n, char** values, char**) {
          auto* s = static_cast<std::string*>(o);
          for (int i = 0; i < n; ++i)
            *s += std::string(i ? "|" : "") + (values[i] ? values[i] : "NULL");
          *s += "\n";
          return 0;
        },
        &out, &error);
    if (error) {
      out += std::string("error: ") + error;
      sqlite3_free(error);
    }
    sqlite3_close(db);
    return out;
  }

  static std::string LastError() { return engine::ToUtf8(engine::LastError()); }

  TempDir dir_;
  std::string file_;
};

// While it lives, SQLite refuses to prepare any statement on the process's
// connection that does `action` to `name` (SQLITE_FUNCTION "count": calls
// count(); SQLITE_READ "ModifyTime": reads that column); statements already
// prepared are prepared again, and refused too: a fault that only the
// engine's own statements see.
class Deny {
 public:
  Deny(int action, std::string name) : action_(action), name_(std::move(name)) { Set(this); }
  ~Deny() { Set(nullptr); }
  Deny(const Deny&) = delete;
  Deny& operator=(const Deny&) = delete;

 private:
  static int Check(void* self, int action, const char*, const char* name, const char*,
                   const char*) {
    const auto& d = *static_cast<const Deny*>(self);
    return action == d.action_ && name && d.name_ == name ? SQLITE_DENY : SQLITE_OK;
  }
  static void Set(Deny* deny) {
    auto& c = engine::Connection::Default();
    std::lock_guard lock(c.Mutex());
    if (c.IsOpen()) sqlite3_set_authorizer(c.Db(), deny ? &Check : nullptr, deny);
  }
  int action_;
  std::string name_;
};

// A test with the store of user 1 open on its fresh file.
template <typename Store>
class OpenStoreTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    ASSERT_EQ(store_.Open(), 0) << LastError();
  }
  void TearDown() override {
    store_.Close();
    DbTest::TearDown();
  }
  Store store_{1};
};

// While it lives, the texts (with their markers) of the statements that the
// process's connection runs.
class StatementLog {
 public:
  StatementLog() { Set(this); }
  ~StatementLog() { Set(nullptr); }
  StatementLog(const StatementLog&) = delete;
  StatementLog& operator=(const StatementLog&) = delete;
  std::set<std::string> texts;

 private:
  static void Set(StatementLog* log) {
    auto& c = engine::Connection::Default();
    std::lock_guard lock(c.Mutex());
    sqlite3_trace_v2(c.Db(), log ? SQLITE_TRACE_STMT : 0, log ? &Add : nullptr, log);
  }
  static int Add(unsigned, void* log, void* stmt, void* text) {
    if (std::string_view(static_cast<const char*>(text)).starts_with("--")) return 0;
    static_cast<StatementLog*>(log)->texts.insert(sqlite3_sql(static_cast<sqlite3_stmt*>(stmt)));
    return 0;
  }
};

}  // namespace zusms::testing

#endif  // ZUSMS_TESTS_TESTDB_H_
