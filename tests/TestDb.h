// A fresh database file per test, and the process's connection closed after.
#ifndef ZUSMS_TESTS_TESTDB_H_
#define ZUSMS_TESTS_TESTDB_H_

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "Boundary.h"
#include "Connection.h"
#include "MimerDatabase.h"
#include "Text.h"

namespace zusms::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zusms-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class DbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.path() + "/zuSms.dbf";
    setenv("ZUSMS_DB", file_.c_str(), 1);
    unsetenv("ZUSMS_EXTERNAL_USERS");
  }
  void TearDown() override {
    auto& c = engine::Connection::Default();
    std::lock_guard lock(c.Mutex());
    while (c.Shares() > 0) c.Release();
    unsetenv("ZUSMS_DB");
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

}  // namespace zusms::testing

#endif  // ZUSMS_TESTS_TESTDB_H_
