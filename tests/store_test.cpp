// The store's lifecycle and schema: creation, the version, repair of a partly
// created schema, the shared connection, and the C boundary's bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <span>
#include <sstream>
#include <thread>
#include <vector>

#include "RecordFrame.h"
#include "SmsDatabase.h"
#include "TestDb.h"
#include "TestPeer.h"

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
  std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(StoreTest, InitAndUninitWithoutOpenTouchNoFile) {
  SmsDatabase* store = nullptr;
  ASSERT_EQ(InitZuSmsDB(&store, 0), 0);
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(UninitZuSmsDB(store), 0);
  EXPECT_FALSE(std::filesystem::exists(PathOf(file_)));
}

TEST_F(StoreTest, FirstOpenCreatesTheWholeSchemaAndTheNextCreatesNothing) {
  SmsDatabase store(7);
  ASSERT_EQ(store.Open(), 0) << LastError();
  EXPECT_EQ(Tables(),
            "SmsAreaBroadcast\nSmsContent\nSmsFilter\nSmsFolder\nSmsHead\nSmsPhrase\n"
            "SmsReceiverHistory\ntbl_zu_sms_setting\ntbl_zu_sms_ver\ntbl_zu_user\nzu_head_unread\n"
            "zu_mms\nzu_mms_addr\nzu_mms_attr\nzu_mms_part\n");
  EXPECT_EQ(Raw("select ver from tbl_zu_sms_ver"), "20080910\n");
  EXPECT_EQ(Raw("select id from tbl_zu_user"), "7\n");
  EXPECT_EQ(Raw("select name, databank from mimer_tables order by name"),
            "SmsAreaBroadcast|zu_sms_db\nSmsContent|zu_sms_db\nSmsFilter|zu_sms_db\n"
            "SmsFolder|zu_sms_db\nSmsHead|zu_sms_db\nSmsPhrase|zu_sms_db\n"
            "SmsReceiverHistory|zu_sms_db\ntbl_zu_sms_setting|zu_sms_db\ntbl_zu_sms_ver|zu_sms_db\n"
            "zu_head_unread|zu_sms_db\nzu_mms|zu_sms_db\nzu_mms_addr|zu_sms_db\n"
            "zu_mms_attr|zu_sms_db\nzu_mms_part|zu_sms_db\n");
  EXPECT_EQ(Raw("select name from sqlite_schema where type='index' and name='SmsHead_id_user'"),
            "SmsHead_id_user\n");
  const std::string schema = Raw("select sql from sqlite_schema where name='SmsHead'");
  EXPECT_NE(schema.find("\"content\" TEXT CHECK (length(\"content\") <= 671)"), std::string::npos);
  EXPECT_NE(schema.find("FOREIGN KEY (\"userid\") REFERENCES \"tbl_zu_user\" (\"id\") ON DELETE "
                        "CASCADE"),
            std::string::npos);
  EXPECT_EQ(store.Close(), 0);

  // A second open finds the version and creates nothing.
  const std::string before = Raw("select sql from sqlite_schema order by name");
  SmsDatabase again(8);
  ASSERT_EQ(again.Open(), 0);
  EXPECT_EQ(Raw("select sql from sqlite_schema order by name"), before);
  EXPECT_EQ(Raw("select count(*) from tbl_zu_sms_ver"), "1\n");
  EXPECT_EQ(Raw("select id from tbl_zu_user order by id"), "7\n8\n");
}

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

TEST_F(StoreTest, ARecordTableMissingBehindAVersionIsCreatedOnTheNextOpen) {
  {
    SmsDatabase store(1);
    ASSERT_EQ(store.Open(), 0);
    store.Close();
  }
  Raw("drop table SmsPhrase; delete from mimer_tables where name='SmsPhrase'");
  SmsDatabase store(1);
  EXPECT_EQ(store.Open(), 0) << LastError();
  EXPECT_NE(Tables().find("SmsPhrase"), std::string::npos);
  EXPECT_EQ(Raw("select count(*) from tbl_zu_sms_ver"), "1\n");
}

TEST_F(StoreTest, DatabankWithoutVersionRepeatsTheAttemptOnEveryOpen) {
  {
    SmsDatabase store(1);
    ASSERT_EQ(store.Open(), 0);
    store.Close();
  }
  // As if an earlier creation stopped after the databank and sequence.
  Raw("drop table tbl_zu_sms_ver; drop table SmsFilter;"
      "delete from mimer_tables where name in ('tbl_zu_sms_ver', 'SmsFilter')");
  SmsDatabase store(1);
  EXPECT_EQ(store.Open(), 0) << LastError();
  EXPECT_NE(Tables().find("SmsFilter"), std::string::npos);       // the missing table is created
  EXPECT_EQ(Tables().find("tbl_zu_sms_ver"), std::string::npos);  // group 1 stopped at once
  store.Close();
  EXPECT_EQ(store.Open(), 0);
  EXPECT_EQ(Tables().find("tbl_zu_sms_ver"), std::string::npos);
}

TEST_F(StoreTest, MissingUserTableFailsTheOpenNamingTheTableAndIsRepairedLater) {
  SetEnv("ZUSMS_EXTERNAL_USERS", "1");
  SmsDatabase store(3);
  EXPECT_EQ(store.Open(), -1);
  EXPECT_NE(LastError().find("SmsHead"), std::string::npos) << LastError();
  EXPECT_NE(LastError().find("tbl_zu_user"), std::string::npos) << LastError();
  EXPECT_EQ(Raw("select ver from tbl_zu_sms_ver"), "20080910\n");
  EXPECT_EQ(Tables(), "tbl_zu_sms_ver\n");

  // Once an outside program provides the users, the next open completes.
  Raw("create table tbl_zu_user (id integer primary key); insert into tbl_zu_user values (3)");
  store.Close();
  EXPECT_EQ(store.Open(), 0) << LastError();
  for (const char* table : kRecordTables) {
    EXPECT_NE(Tables().find(table), std::string::npos) << table;
  }
}

// Each record table's columns as the file holds them, against its family's
// field tables and statements, so that a column added in one place and
// forgotten in another fails: the row mapper reads every column but UserID
// (and the head's ModifyTime) in table order; the insert names every column
// but the id, its fields first; the update assigns its fields first.
TEST_F(StoreTest, EveryFamilysFieldTablesMatchItsTableInTheFile) {
  SmsDatabase store(1);
  ASSERT_EQ(store.Open(), 0) << LastError();
  const auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  // The names in `list` ("a, b=?, c"), each up to a '=' and without blanks.
  const auto names = [&](const std::string& list) {
    std::vector<std::string> out;
    std::stringstream items(list);
    for (std::string item; std::getline(items, item, ',');) {
      item = item.substr(0, item.find('='));
      std::erase(item, ' ');
      out.push_back(lower(item));
    }
    return out;
  };
  const auto between = [](const std::string& text, const std::string& from, const std::string& to) {
    const size_t start = text.find(from) + from.size();
    return text.substr(start, text.find(to, start) - start);
  };
  const auto columns = [&](std::span<const Field> fields) {
    std::vector<std::string> out;
    for (const Field& f : fields) out.push_back(lower(f.column));
    return out;
  };
  const auto check = [&](const char* table, const auto& family) {
    SCOPED_TRACE(table);
    std::string listed =
        Raw(std::string("select group_concat(name) from pragma_table_info('") + table + "')");
    listed.pop_back();  // the line's end
    std::vector<std::string> in_file = names(listed);
    const std::set<std::string> all(in_file.begin(), in_file.end());
    std::erase_if(in_file, [](const std::string& c) { return c == "userid" || c == "modifytime"; });
    EXPECT_EQ(columns(family.row_fields), in_file);

    const std::vector<std::string> inserted =
        names(between(engine::ToUtf8(family.insert), "(", ")"));
    std::set<std::string> written(inserted.begin(), inserted.end());
    written.insert("id");
    EXPECT_EQ(written, all);
    const std::vector<std::string> insert_fields = columns(family.insert_fields);
    ASSERT_LE(insert_fields.size(), inserted.size());
    EXPECT_TRUE(std::equal(insert_fields.begin(), insert_fields.end(), inserted.begin()));

    const std::vector<std::string> assigned =
        names(between(engine::ToUtf8(family.update), " set ", " where "));
    const std::vector<std::string> update_fields = columns(family.update_fields);
    ASSERT_LE(update_fields.size(), assigned.size());
    EXPECT_TRUE(std::equal(update_fields.begin(), update_fields.end(), assigned.begin()));
    for (const std::string& c : assigned) EXPECT_TRUE(all.contains(c)) << c;
  };
  check("SmsHead", FamilyOf<SmsHead>());
  check("SmsContent", FamilyOf<SmsContent>());
  check("SmsAreaBroadcast", FamilyOf<SmsAreaBroadcast>());
  check("SmsFolder", FamilyOf<SmsFolder>());
  check("SmsFilter", FamilyOf<SmsFilter>());
  check("SmsReceiverHistory", FamilyOf<SmsRecieverHistory>());
  check("SmsPhrase", FamilyOf<SmsPhrase>());
}

TEST_F(StoreTest, FirstRowsOfAFreshStoreTakeIdsFromOneToUp) {
  SmsDatabase store(1);
  ASSERT_EQ(store.Open(), 0);
  // The default folders are the first rows: ids 1 to 14, in folder order.
  EXPECT_EQ(Raw("select group_concat(id) from (select id from SmsFolder order by FdId)"),
            "1,2,3,4,5,6,7,8,9,10,11,12,13,14\n");
  // Ids run on across tables, whichever table gets the next row.
  CMimerCommand cmd(&CMimerDatabase::GetConn(MimerConnDefault));
  cmd.InitCommand(u"insert into SmsPhrase( content, impBool, UserID) VALUES (?, ?, ?)");
  cmd.AppendParameter(u"hello");
  cmd.AppendParameter(int16_t{0});
  cmd.AppendParameter(uint32_t{1});
  cmd.ExecuteNoQuery();
  cmd.InitCommand(
      u"insert into SmsFilter( folderid, ftype, fattr, tel, name, UserID) VALUES (?, "
      u"?, ?, ?, ?, ?)");
  cmd.AppendParameter(int32_t{1});
  cmd.AppendParameter(int16_t{1});
  cmd.AppendParameter(int16_t{1});
  cmd.AppendParameter(u"1");
  cmd.AppendParameter(u"n");
  cmd.AppendParameter(uint32_t{1});
  cmd.ExecuteNoQuery();
  uint32_t id = 0;
  cmd.InitCommand(u"execute statement sms_id_seq_cur");
  cmd.AppendOutParameter(id);
  cmd.ExecuteNoQuery();
  cmd.UninitCommand();
  EXPECT_EQ(id, 16u);
  EXPECT_EQ(Raw("select id from SmsPhrase union all select id from SmsFilter"), "15\n16\n");
}

TEST_F(StoreTest, DropTablesDropsTheDatabank) {
  SmsDatabase store(1);
  ASSERT_EQ(store.Open(), 0);
  EXPECT_EQ(SmsDatabaseTestPeer::DropTables(store), 0);
  EXPECT_EQ(Tables(), "tbl_zu_user\n");
  EXPECT_EQ(SmsDatabaseTestPeer::DropTables(store), 0);  // an engine error also gives 0
}

TEST_F(StoreTest, CurrentSystemTimeIsUtcWithoutFraction) {
  using namespace std::chrono;
  SmsDatabase store(1);
  const sys_seconds before = floor<seconds>(system_clock::now());
  tagTIMESTAMP_STRUCT t = SmsDatabaseTestPeer::Now(store);
  const year_month_day today{floor<days>(before)};
  EXPECT_EQ(t.fraction, 0u);
  EXPECT_EQ(t.year, static_cast<int>(today.year()));
  EXPECT_EQ(t.month, static_cast<unsigned>(today.month()));
  const sys_seconds back = sys_days{year{t.year} / t.month / t.day} + hours{t.hour} +
                           minutes{t.minute} + seconds{t.second};
  EXPECT_LE(abs(back - before), seconds{2});
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
  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, 1);
  ASSERT_EQ(OpenZuSmsDB(store), 0);
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
  SmsDatabase* newcomer = nullptr;
  InitZuSmsDB(&newcomer, 9);
  EXPECT_EQ(OpenZuSmsDB(newcomer), 0) << LastError();
  add(newcomer);
  ASSERT_EQ(RollbackZuSmsBatch(store), 0);
  EXPECT_EQ(Raw("select count(*) from tbl_zu_user where id = 9"), "0\n");
  EXPECT_EQ(OpenZuSmsDB(newcomer), 0);
  EXPECT_EQ(Raw("select count(*) from SmsFolder where UserID = 9"), "14\n");
  CloseZuSmsDB(newcomer);
  UninitZuSmsDB(newcomer);
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
}

TEST_F(StoreTest, CommandsOnAClosedStoreFail) {
  CMimerCommand cmd(&CMimerDatabase::GetConn(MimerConnDefault));
  EXPECT_THROW(cmd.InitCommand(u"select ver from tbl_zu_sms_ver"), CMimerException);
  EXPECT_NE(LastError().find("not open"), std::string::npos);
}

TEST_F(StoreTest, AFileThatIsNotADatabaseFailsToOpenAndStaysAsItWas) {
  std::string garbage(8192, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 7 + 3);
  {
    std::ofstream out(file_, std::ios::binary);
    out << garbage;
  }
  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, 1);
  const int32_t status = OpenZuSmsDB(store);
  EXPECT_EQ(status, 26);  // SQLITE_NOTADB
  char16_t error[256];
  const int32_t length = GetZuSmsLastError(error, 256);
  EXPECT_GT(length, 0);
  EXPECT_NE(engine::ToUtf8(error).find("not a database"), std::string::npos)
      << engine::ToUtf8(error);
  EXPECT_EQ(ReadFile(file_), garbage);
  EXPECT_FALSE(CMimerDatabase::GetConn(MimerConnDefault).IsOpen());
  UninitZuSmsDB(store);
}

TEST_F(StoreTest, AMissingTableIsReportedWithItsOwnReason) {
  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, 1);
  ASSERT_EQ(OpenZuSmsDB(store), 0);
  CloseZuSmsDB(store);
  // SmsFilter is gone, and its foreign key's index cannot be made again.
  Raw("drop table SmsFilter; create table SmsFilter_fk_userid (x)");
  EXPECT_EQ(OpenZuSmsDB(store), -1);
  const std::string error = LastError();
  EXPECT_NE(error.find("table SmsFilter could not be created"), std::string::npos) << error;
  EXPECT_NE(error.find("SmsFilter_fk"), std::string::npos) << error;
  EXPECT_EQ(error.find("SmsReceiverHistory"), std::string::npos) << error;
  UninitZuSmsDB(store);
}

TEST_F(StoreTest, APathThatCannotBeCreatedFailsWithAReason) {
  // A folder that is a regular file: refused even for root.
  const std::string blocker = dir_.path() + "/plainfile";
  std::ofstream(blocker) << "x";
  SetEnv("ZUSMS_DB", blocker + "/zuSms.dbf");
  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, 1);
  EXPECT_NE(OpenZuSmsDB(store), 0);
  char16_t error[512];
  GetZuSmsLastError(error, 512);
  EXPECT_NE(engine::ToUtf8(error).find("plainfile"), std::string::npos) << engine::ToUtf8(error);
  UninitZuSmsDB(store);

  // The default location is made in zusms/ under XDG_DATA_HOME (Windows:
  // LOCALAPPDATA), the folder 0700 and the file 0600 where modes exist.
  UnsetEnv("ZUSMS_DB");
  std::filesystem::create_directory(PathOf(dir_.path() + "/data"));
  SetEnv(kDataHomeVariable, dir_.path() + "/data");
  InitZuSmsDB(&store, 1);
  EXPECT_EQ(OpenZuSmsDB(store), 0) << LastError();
  ASSERT_TRUE(std::filesystem::exists(PathOf(dir_.path() + "/data/zusms/zuSms.dbf")));
  if (const auto mode = FileMode(dir_.path() + "/data/zusms/zuSms.dbf")) {
    EXPECT_EQ(*mode, 0600u);
  }
  if (const auto mode = FileMode(dir_.path() + "/data/zusms")) {
    EXPECT_EQ(*mode, 0700u);
  }
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
  UnsetEnv(kDataHomeVariable);
}

TEST_F(StoreTest, APathWithChineseCharactersWorks) {
  // Wide characters all the way to the file on Windows, UTF-8 elsewhere.
  const std::string folder = dir_.path() + "/\u77ed\u4fe1";  // 短信
  std::filesystem::create_directory(PathOf(folder));
  SetEnv("ZUSMS_DB", folder + "/\u6d88\u606f.dbf");
  SmsDatabase store(1);
  ASSERT_EQ(store.Open(), 0) << LastError();
  SmsPhrase phrase{};
  phrase.content[0] = u'\u597d';
  uint32_t id = 0;
  EXPECT_EQ(store.AddSmsPhrase(phrase, id), 0);
  store.Close();
  EXPECT_TRUE(std::filesystem::exists(PathOf(folder + "/\u6d88\u606f.dbf")));
  ASSERT_EQ(store.Open(), 0) << LastError();
  uint32_t n = 0;
  EXPECT_EQ(store.GetSmsPhraseCount(n), 0);
  EXPECT_EQ(n, 1u);
  store.Close();
}

TEST_F(StoreTest, NullHandlesAndLastErrorAtTheBoundary) {
  EXPECT_EQ(InitZuSmsDB(nullptr, 1), -1);
  EXPECT_EQ(OpenZuSmsDB(nullptr), -1);
  EXPECT_EQ(CloseZuSmsDB(nullptr), -1);
  EXPECT_EQ(UninitZuSmsDB(nullptr), 0);
  char16_t error[8];
  const int32_t full = GetZuSmsLastError(error, 8);
  EXPECT_EQ(full, static_cast<int32_t>(std::u16string(u"null store handle").size()));
  EXPECT_EQ(std::u16string(error), u"null st");  // cut to capacity - 1
  EXPECT_EQ(GetZuSmsLastError(nullptr, 0), full);

  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, 1);
  EXPECT_EQ(OpenZuSmsDB(store), 0);
  EXPECT_EQ(GetZuSmsLastError(error, 8), 0);  // a success clears it
  EXPECT_EQ(error[0], u'\0');
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
}

}  // namespace
}  // namespace zusms::testing
