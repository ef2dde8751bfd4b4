// No statement the library runs, nor any statement of the file's triggers,
// reads a growing table (message heads, the change log) whole where a search
// would do, whatever statistics the file holds; and an add does the same
// work on a log of 1,000 entries as on one of 100,000.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "RecordTraits.h"
#include "SmsDatabase.h"
#include "TestDb.h"

namespace zusms::testing {
namespace {

class PlanTest : public OpenStoreTest<SmsDatabase> {
 protected:
  // Every operation on message heads, folders and changes, with the texts
  // of the statements they ran.
  std::set<std::string> Workload() {
    StatementLog log;
    SmsHead h = Traits<SmsHead>::Make(0), page[8];  // in folder 1
    uint32_t id = 0, n = 0, ids[8];
    EXPECT_EQ(store_.AddSmsHead(h, id), 0) << LastError();
    EXPECT_EQ(store_.UpdateSmsHead(h), 0) << LastError();
    EXPECT_EQ(store_.GetSmsHead(id, h), 0) << LastError();
    EXPECT_EQ(store_.GetSmsHeadCount(n), 0);
    EXPECT_EQ(store_.GetAllSmsHeadID(ids, 8, n), 0);
    EXPECT_EQ(store_.GetAllSmsHead(page, 8, n), 0);
    stIDUUID uuids[8];
    EXPECT_EQ(store_.GetAllSmsHeadIDUUID(uuids, 8, n), 0);
    _MimerQueryFilterItem items[] = {{ZU_HEAD_FID, ZU_OP_EQ, {.number = 1}},
                                     {ZU_HEAD_CONTENT, ZU_OP_CONTAINS, {.text = u"five"}}};
    _MimerQueryOrderItem newest = {ZU_HEAD_RECVTIME, 2};
    for (auto& item : items) {
      MimerQueryFilter filter = {1, &item, 1, 1, &newest};
      EXPECT_EQ(store_.QuerySmsHead(filter, page, 8, n), 0) << LastError();
      EXPECT_EQ(store_.QuerySmsHeadID(filter, ids, 8, n), 0) << LastError();
      EXPECT_EQ(store_.QuerySmsHeadCount(filter, n), 0) << LastError();
    }
    SmsFolder folder{};
    uint32_t fid = 0;
    EXPECT_EQ(store_.AddSmsFolder(folder, fid), 0) << LastError();
    EXPECT_EQ(store_.UpdateSmsFolder(folder), 0) << LastError();
    SmsHead in_folder = h;
    in_folder.fid = folder.FdId;
    EXPECT_EQ(store_.AddSmsHead(in_folder, id), 0) << LastError();
    EXPECT_EQ(store_.DeleteSmsFolder(fid), 0) << LastError();
    EXPECT_EQ(store_.DeleteSmsHead(h.id), 0) << LastError();
    uint64_t token = 0, next = 0;
    stSmsChange changes[8];
    EXPECT_EQ(store_.GetSmsChangeToken(token), 0);
    EXPECT_EQ(store_.ListSmsHeadChanges(0, changes, 8, n, next), 0);
    EXPECT_EQ(store_.ListSmsFolderChanges(token, changes, 8, n, next), 0);
    EXPECT_EQ(store_.DeleteAllSmsHead(), 0) << LastError();
    return log.texts;
  }

  // Raw, which must succeed.
  std::string Sql(const std::string& sql) {
    std::string out = Raw(sql);
    EXPECT_EQ(out.find("error: "), std::string::npos) << out << " in: " << sql;
    return out;
  }

  // The plan lines of `sql` that read a growing table whole: a scan, or a
  // search through an index without a key (an index walked end to end).
  std::vector<std::string> WholeReads(const std::string& sql) {
    std::set<std::string> names = {"SmsHead", "zu_changes"};
    const std::regex alias(R"re(\b(SmsHead|zu_changes)"?\s+(?:AS\s+)?([A-Za-z_]\w*))re",
                           std::regex::icase);
    for (std::sregex_iterator it(sql.begin(), sql.end(), alias), end; it != end; ++it)
      names.insert((*it)[2]);
    const std::regex whole(R"(^(SCAN (\w+)|SEARCH (\w+) USING (COVERING )?INDEX \w+$))");
    std::vector<std::string> out;
    std::istringstream plan(Sql("EXPLAIN QUERY PLAN " + sql));
    for (std::string line; std::getline(plan, line);) {
      for (int i = 0; i < 3; ++i) line.erase(0, line.find('|') + 1);  // id|parent|notused|detail
      std::smatch m;
      if (std::regex_search(line, m, whole) && names.contains(m[2].matched ? m[2] : m[3]))
        out.push_back(line);
    }
    return out;
  }

  // The statements of every trigger body, and its WHEN clause as a SELECT,
  // NEW and OLD replaced by values.
  std::vector<std::string> TriggerStatements() {
    std::vector<std::string> out;
    const std::regex row(R"re(\b(NEW|OLD)\.("[^"]+"|\w+))re");
    std::istringstream triggers(Sql("SELECT sql FROM sqlite_schema WHERE type = 'trigger'"));
    for (std::string sql; std::getline(triggers, sql);) {
      const size_t begin = sql.find(" BEGIN ") + 7;
      if (const size_t when = sql.find(" WHEN "); when < begin) {
        out.push_back(
            std::regex_replace("SELECT " + sql.substr(when + 6, begin - 7 - when - 6), row, "7"));
      }
      const std::string body =
          std::regex_replace(sql.substr(begin, sql.rfind("END") - begin), row, "7");
      for (size_t at = 0, end; (end = body.find("; ", at)) != std::string::npos; at = end + 2)
        out.push_back(body.substr(at, end - at));
    }
    return out;
  }

  // Heads of two users and tombstones, added in the file through SQL.
  void Grow(int heads) {
    std::string columns =
        Sql("SELECT group_concat('\"' || name || '\"') FROM pragma_table_info('SmsHead') "
            "WHERE name NOT IN ('id', 'uuid', 'UserID')");
    columns.pop_back();
    Sql("PRAGMA recursive_triggers=ON; INSERT OR IGNORE INTO tbl_zu_user VALUES (2); "
        "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " +
        std::to_string(heads) + ") INSERT INTO SmsHead (" + columns + ", uuid, UserID) SELECT " +
        columns +
        ", randomblob(16), 1 + i % 2 FROM k, (SELECT * FROM SmsHead LIMIT 1); "
        "DELETE FROM SmsHead WHERE id % 10 = 0");
  }
};

// Statistics a file can hold: none, taken while the store was tiny, sampled
// when the library closed it, and a full analysis of a larger store.
TEST_F(PlanTest, NoStatementReadsAGrowingTableWholeUnderAnyStatistics) {
  std::set<std::string> statements = Workload();
  // Statistics of a tiny store: one message, analysed whole.
  TempDir tiny_dir;
  const std::string tiny = tiny_dir.path() + "/tiny.dbf";
  store_.Close();
  SetEnv("ZUSMS_DB", tiny);
  SmsDatabase one(1);
  ASSERT_EQ(one.Open(), 0) << LastError();
  SmsHead h = Traits<SmsHead>::Make(0);
  uint32_t id = 0;
  ASSERT_EQ(one.AddSmsHead(h, id), 0);
  stIDUUID listed[1];
  ASSERT_EQ(one.GetAllSmsHeadIDUUID(listed, 1, id), 0);  // so that the heads are analysed
  one.Close();
  SetEnv("ZUSMS_DB", file_);
  Grow(3000);
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"none", [&] { Sql("DROP TABLE IF EXISTS sqlite_stat1"); }},
      {"tiny store",
       [&] {
         Sql("ANALYZE sqlite_schema; DELETE FROM sqlite_stat1; ATTACH '" + tiny +
             "' AS other; INSERT INTO sqlite_stat1 SELECT * FROM other.sqlite_stat1");
       }},
      {"sampled at close",
       [&] {
         Sql("DROP TABLE IF EXISTS sqlite_stat1");
         ASSERT_EQ(store_.Open(), 0) << LastError();
         for (const auto& s : Workload()) statements.insert(s);
         store_.Close();
       }},
      {"full analysis", [&] { Sql("ANALYZE"); }},
  };
  for (const auto& [name, take] : cases) {
    take();
    std::vector<std::string> all(statements.begin(), statements.end());
    for (const auto& s : TriggerStatements()) all.push_back(s);
    ASSERT_GT(all.size(), statements.size()) << "no trigger read";
    const std::regex control("^(PRAGMA|BEGIN|COMMIT|ROLLBACK|SAVEPOINT|RELEASE)");
    for (const auto& sql : all) {
      if (std::regex_search(sql, control)) continue;
      EXPECT_EQ(WholeReads(sql), std::vector<std::string>()) << name << ": " << sql;
    }
  }
  ASSERT_EQ(store_.Open(), 0) << LastError();
}

// The sum of the virtual machine's steps of every statement of the
// connection during one add (the insert's count includes its triggers).
uint64_t StepsOfAnAdd(SmsDatabase& store) {
  auto& c = engine::Connection::Default();
  auto steps = [&] {
    std::lock_guard lock(c.Mutex());
    uint64_t sum = 0;
    for (sqlite3_stmt* s = sqlite3_next_stmt(c.Db(), nullptr); s; s = sqlite3_next_stmt(c.Db(), s))
      sum += static_cast<uint64_t>(sqlite3_stmt_status(s, SQLITE_STMTSTATUS_VM_STEP, 0));
    return sum;
  };
  SmsHead h = Traits<SmsHead>::Make(0);
  uint32_t id = 0;
  EXPECT_EQ(store.AddSmsHead(h, id), 0);  // every statement prepared
  const uint64_t before = steps();
  EXPECT_EQ(store.AddSmsHead(h, id), 0);
  return steps() - before;
}

TEST_F(PlanTest, AnAddDoesTheSameWorkOnALogOfAHundredThousandEntriesUnderStaleStatistics) {
  StepsOfAnAdd(store_);
  store_.Close();
  Sql("ANALYZE; CREATE TABLE stale AS SELECT * FROM sqlite_stat1");
  uint64_t steps[2];
  int entries = 1;
  for (int grown : {1000, 100000}) {
    // Entries of another user's records, added without their triggers' work;
    // then the statistics of the tiny store again.
    Sql("WITH RECURSIVE k(i) AS (SELECT " + std::to_string(entries) +
        " UNION ALL SELECT i + 1 FROM k WHERE i < " + std::to_string(grown) +
        ") INSERT INTO zu_changes (UserID, family, id, kind) SELECT 2, 1, 1000000 + i, 1 FROM k; "
        "DELETE FROM sqlite_stat1; INSERT INTO sqlite_stat1 SELECT * FROM stale");
    entries = grown + 1;
    ASSERT_EQ(store_.Open(), 0) << LastError();
    steps[grown == 1000 ? 0 : 1] = StepsOfAnAdd(store_);
    store_.Close();
  }
  EXPECT_LE(steps[1], steps[0] + 20) << steps[0] << " steps at 1,000 entries";
  ASSERT_EQ(store_.Open(), 0) << LastError();
}

// The statistics the close keeps must satisfy PRAGMA optimize: an index it
// found empty made it analyse the change log at every close, a write with
// its syncs for every open of an unchanged store.
TEST_F(PlanTest, OpeningAndClosingAnUnchangedStoreWritesNothing) {
  SmsHead h = Traits<SmsHead>::Make(0);
  uint32_t id = 0;
  ASSERT_EQ(store_.AddSmsHead(h, id), 0) << LastError();
  Grow(3000);
  // A log without tombstones: its index of them is empty.
  Sql("DELETE FROM zu_changes WHERE deleted IS NOT NULL");
  store_.Close();
  const auto open_list_close = [&] {
    ASSERT_EQ(store_.Open(), 0) << LastError();
    stIDUUID listed[8];
    uint32_t n = 0;
    ASSERT_EQ(store_.GetAllSmsHeadIDUUID(listed, 8, n), 0) << LastError();
    store_.Close();
  };
  open_list_close();  // the first close analyses what the queries used
  // data_version changes when another connection wrote: this one stays open.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &db), SQLITE_OK);
  const auto version = [&] {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &stmt, nullptr);
    sqlite3_step(stmt);
    const int64_t v = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return v;
  };
  const int64_t before = version();
  for (int i = 0; i < 3; ++i) open_list_close();
  EXPECT_EQ(version(), before) << "the store wrote at its close";
  sqlite3_close(db);
  ASSERT_EQ(store_.Open(), 0) << LastError();
}

}  // namespace
}  // namespace zusms::testing
