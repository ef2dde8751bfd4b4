// The store's lifecycle and schema: creation, the version, repair of a partly
// created schema, the shared connection, and the C boundary's bad input.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "RecordFrame.h"
#include "SmsDatabase.h"
#include "TestDb.h"

namespace zusms::testing {
namespace {

constexpr const char* kRecordTables[] = {"SmsHead",           "SmsContent", "SmsAreaBroadcast",
                                         "SmsPhrase",         "SmsFolder",  "SmsFilter",
                                         "SmsReceiverHistory"};

class StoreTest : public DbTest {
 protected:
  // The store's tables, without the engine's catalog and the change log.
  std::string Tables() {
    return Raw(
        "select name from sqlite_schema where type='table' and name not like 'mimer_%' "
        "and name not like 'zu\\_change%' escape '\\' and name <> 'sqlite_sequence' "
        "order by name");
  }
};

// An open that finds everything in place writes nothing, so it does not
// wait for another process's writer: it opens and reads while the writer
// holds the write lock. (Waiting used to outlast the busy timeout beside
// steady writers, and the open failed with "database is locked".)
TEST_F(StoreTest, AnOpenWithNothingToWriteTakesNoWriteLock) {
  {
    SmsDatabase store(1);
    ASSERT_EQ(store.Open(), 0) << LastError();
    ASSERT_EQ(store.Close(), 0);
  }
  const std::string before = Raw("select sql from sqlite_schema order by name");
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE; INSERT INTO tbl_zu_user (id) VALUES (99)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  SmsDatabase again(1);
  EXPECT_EQ(again.Open(), 0) << LastError();
  uint32_t folders = 0;
  EXPECT_EQ(again.GetSmsFolderCount(folders), 0) << LastError();
  EXPECT_EQ(folders, 14u);
  EXPECT_EQ(again.Close(), 0);
  sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(writer);
  EXPECT_EQ(Raw("select sql from sqlite_schema order by name"), before);

  // Something missing still gets made: a dropped index comes back.
  Raw("drop index SmsHead_fid_user_ctime");
  SmsDatabase repaired(1);
  ASSERT_EQ(repaired.Open(), 0) << LastError();
  EXPECT_EQ(Raw("select sql from sqlite_schema order by name"), before);
  // A user's rows go with the user.
  EXPECT_EQ(Raw("delete from tbl_zu_user; select count(*) from SmsFolder"), "0\n");
}

// A batch that cannot have the write lock past the busy wait says so by
// IsZuSmsLastErrorBusy, not only in its text; other failures do not.
TEST_F(StoreTest, ABusyFileIsToldApartFromOtherFailures) {
  SmsDatabase store(1);
  ASSERT_EQ(OpenZuSmsDB(&store), 0) << LastError();
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(BeginZuSmsBatch(&store), -1);
  EXPECT_EQ(IsZuSmsLastErrorBusy(), 1) << LastError();
  EXPECT_EQ(AddZuSmsPhrase(&store, nullptr, nullptr), -1);
  EXPECT_EQ(IsZuSmsLastErrorBusy(), 0);
  sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(writer);
  ASSERT_EQ(BeginZuSmsBatch(&store), 0) << LastError();
  EXPECT_EQ(CommitZuSmsBatch(&store), 0);
  EXPECT_EQ(CloseZuSmsDB(&store), 0);
  EXPECT_EQ(IsZuSmsLastErrorBusy(), 0);
}

// Without the version (a creation that stopped early) a missing record
// table is made again, on every open.
TEST_F(StoreTest, AMissingRecordTableIsCreatedOnEveryOpenWithoutTheVersion) {
  {
    SmsDatabase store(1);
    ASSERT_EQ(store.Open(), 0);
    store.Close();
  }
  SmsDatabase store(1);
  Raw("drop table tbl_zu_sms_ver; drop table SmsFilter;"
      "delete from mimer_tables where name in ('tbl_zu_sms_ver', 'SmsFilter')");
  for (int open = 0; open < 2; ++open) {
    EXPECT_EQ(store.Open(), 0) << LastError();
    EXPECT_NE(Tables().find("SmsFilter"), std::string::npos);
    EXPECT_EQ(Tables().find("tbl_zu_sms_ver"), std::string::npos);  // group 1 stopped at once
    store.Close();
  }
}

TEST_F(StoreTest, MissingUserTableFailsTheOpenNamingTheTableAndIsRepairedLater) {
  SetEnv("ZUSMS_EXTERNAL_USERS", "1");
  SmsDatabase store(3);
  EXPECT_EQ(store.Open(), -1);
  EXPECT_NE(LastError().find("SmsHead"), std::string::npos) << LastError();
  EXPECT_NE(LastError().find("tbl_zu_user"), std::string::npos) << LastError();
  EXPECT_EQ(Tables(), "tbl_zu_sms_ver\n");

  // Once an outside program provides the users, the next open completes.
  Raw("create table tbl_zu_user (id integer primary key); insert into tbl_zu_user values (3)");
  store.Close();
  EXPECT_EQ(store.Open(), 0) << LastError();
  for (const char* table : kRecordTables)
    EXPECT_NE(Tables().find(table), std::string::npos) << table;
  EXPECT_EQ(Raw("select ver from tbl_zu_sms_ver"), "20080910\n");  // not written twice
}

TEST_F(StoreTest, StoresShareOneConnectionCountedPerStore) {
  SmsDatabase a(1), b(2);
  CMimerConnection& conn = CMimerDatabase::GetConn(MimerConnDefault);
  ASSERT_EQ(a.Open(), 0);
  ASSERT_EQ(a.Open(), 0);  // a second open of an open store takes no share
  ASSERT_EQ(b.Open(), 0);
  EXPECT_EQ(a.Close(), 0);
  EXPECT_TRUE(conn.IsOpen());
  EXPECT_TRUE(conn.HasTable("SmsHead"));  // b still works after a closed
  EXPECT_EQ(a.Close(), 0);                // closing a closed store changes nothing
  EXPECT_TRUE(conn.IsOpen());
  {
    SmsDatabase copy(b);  // works on the same user, holds no share of its own
    EXPECT_EQ(copy.UserId(), 2u);
    EXPECT_EQ(copy.Close(), 0);
    EXPECT_TRUE(conn.IsOpen());
  }
  EXPECT_EQ(b.Close(), 0);
  EXPECT_FALSE(conn.IsOpen());

  // ZUSMS_DB is read again when the connection really opens.
  TempDir other;
  const std::string second = other.path() + "/other.dbf";
  SetEnv("ZUSMS_DB", second);
  ASSERT_EQ(a.Open(), 0);
  EXPECT_TRUE(std::filesystem::exists(PathOf(second)));
  a.Close();
}

TEST_F(StoreTest, BatchesCommitTogetherAndRollBackWhole) {
  StoreHandle store;
  ASSERT_EQ(store.opened(), 0) << LastError();
  auto add = [&](SmsDatabase* s) {
    SmsPhrase p{};
    p.content[0] = u'x';
    uint32_t id = 0;
    return AddZuSmsPhrase(s, &p, &id);
  };
  EXPECT_EQ(CommitZuSmsBatch(store), -1);  // no batch to commit
  ASSERT_EQ(BeginZuSmsBatch(store), 0);
  add(store);
  add(store);
  ASSERT_EQ(RollbackZuSmsBatch(store), 0);
  EXPECT_EQ(Raw("select count(*) from SmsPhrase"), "0\n");

  ASSERT_EQ(BeginZuSmsBatch(store), 0);
  ASSERT_EQ(BeginZuSmsBatch(store), 0);
  add(store);
  ASSERT_EQ(CommitZuSmsBatch(store), 0);  // the inner commit commits nothing yet
  add(store);
  EXPECT_EQ(Raw("select count(*) from SmsPhrase"), "0\n");
  // Another thread waits for the batch to end.
  std::atomic<bool> done{false};
  std::thread other([&] {
    add(store);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(done);
  ASSERT_EQ(CommitZuSmsBatch(store), 0);
  other.join();
  EXPECT_EQ(Raw("select count(*) from SmsPhrase"), "3\n");

  // A store of a new user opened inside a batch joins it.
  ASSERT_EQ(BeginZuSmsBatch(store), 0);
  StoreHandle newcomer(9);
  EXPECT_EQ(newcomer.opened(), 0) << LastError();
  add(newcomer);
  ASSERT_EQ(RollbackZuSmsBatch(store), 0);
  EXPECT_EQ(Raw("select count(*) from tbl_zu_user where id = 9"), "0\n");
  EXPECT_EQ(OpenZuSmsDB(newcomer), 0);
  EXPECT_EQ(Raw("select count(*) from SmsFolder where UserID = 9"), "14\n");
}

TEST_F(StoreTest, APathThatCannotBeCreatedFailsWithAReason) {
  // A folder that is a regular file: refused even for root.
  const std::string blocker = dir_.path() + "/plainfile";
  std::ofstream(blocker) << "x";
  SetEnv("ZUSMS_DB", blocker + "/zuSms.dbf");
  {
    StoreHandle store;
    EXPECT_NE(store.opened(), 0);
    EXPECT_NE(LastError().find("plainfile"), std::string::npos) << LastError();
  }

  // The default location is made in zusms/ under XDG_DATA_HOME (Windows:
  // LOCALAPPDATA), the folder 0700 and the file 0600 where modes exist; a
  // path with Chinese characters works (wide characters on Windows).
  UnsetEnv("ZUSMS_DB");
  const std::string data = dir_.path() + "/\u77ed\u4fe1";  // 短信
  std::filesystem::create_directory(PathOf(data));
  SetEnv(kDataHomeVariable, data);
  EXPECT_EQ(StoreHandle().opened(), 0) << LastError();
  ASSERT_TRUE(std::filesystem::exists(PathOf(data + "/zusms/zuSms.dbf")));
  EXPECT_EQ(FileMode(data + "/zusms/zuSms.dbf").value_or(0600u), 0600u);
  EXPECT_EQ(FileMode(data + "/zusms").value_or(0700u), 0700u);
  UnsetEnv(kDataHomeVariable);
}

TEST_F(StoreTest, NullHandlesUnopenedStoresClosedStoresAndLastErrorAtTheBoundary) {
  CMimerCommand cmd(&CMimerDatabase::GetConn(MimerConnDefault));
  EXPECT_THROW(cmd.InitCommand(u"select ver from tbl_zu_sms_ver"), CMimerException);
  EXPECT_NE(LastError().find("not open"), std::string::npos);
  {
    StoreHandle unopened(0, false);
    EXPECT_NE(static_cast<SmsDatabase*>(unopened), nullptr);
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf(file_)));  // no open, no file
  EXPECT_EQ(InitZuSmsDB(nullptr, 1), -1);
  EXPECT_EQ(OpenZuSmsDB(nullptr), -1);
  EXPECT_EQ(CloseZuSmsDB(nullptr), -1);
  EXPECT_EQ(UninitZuSmsDB(nullptr), 0);
  char16_t error[8];
  const int32_t full = GetZuSmsLastError(error, 8);
  EXPECT_EQ(full, static_cast<int32_t>(std::u16string(u"null store handle").size()));
  EXPECT_EQ(std::u16string(error), u"null st");  // cut to capacity - 1
  EXPECT_EQ(GetZuSmsLastError(nullptr, 0), full);

  StoreHandle store;
  EXPECT_EQ(store.opened(), 0);
  EXPECT_EQ(GetZuSmsLastError(error, 8), 0);  // a success clears it
  EXPECT_EQ(error[0], u'\0');
}

}  // namespace
}  // namespace zusms::testing
