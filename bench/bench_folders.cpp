// The first open of a fresh file (schema plus the fourteen default folders),
// and the synchronisation listings at each size, each next to raw SQLite
// doing the same.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "BenchDb.h"
#include "ScaleData.h"
#include "SmsDatabase.h"

namespace zusms::bench {
namespace {

void BM_FirstOpen_Zusms(benchmark::State& state) {
  for (auto _ : state) {
    const std::string path = FreshPath("fresh");
    setenv("ZUSMS_DB", path.c_str(), 1);
    SmsDatabase store(1);
    if (store.Open() != 0) state.SkipWithError("open failed");
    store.Close();
  }
}

// The same tables, the user and the fourteen folders, one statement at a
// time as the store runs them.
void BM_FirstOpen_Raw(benchmark::State& state) {
  static const char* kSchema[] = {
      "CREATE TABLE tbl_zu_user (id INTEGER PRIMARY KEY)",
      "INSERT INTO tbl_zu_user VALUES (1)",
      "CREATE TABLE seq (name TEXT PRIMARY KEY, next INTEGER)",
      "INSERT INTO seq VALUES ('sms_id_seq', 1)",
      "CREATE TABLE tbl_zu_sms_ver (ver TEXT)",
      "INSERT INTO tbl_zu_sms_ver VALUES ('20080910')",
      "CREATE TABLE SmsHead (id INTEGER PRIMARY KEY, \"index\" INTEGER, type INTEGER, fid "
      "INTEGER, batid INTEGER, createtime TEXT, tel TEXT, name TEXT, recvtime TEXT, content TEXT, "
      "privmode INTEGER, ccid INTEGER, lockflag INTEGER, oldfid INTEGER, impt INTEGER, longsms "
      "INTEGER, operid TEXT, uuid BLOB, UserID INTEGER REFERENCES tbl_zu_user(id) ON DELETE "
      "CASCADE, ModifyTime TEXT)",
      "CREATE INDEX SmsHead_id_user ON SmsHead (id, UserID)",
      "CREATE INDEX SmsHead_fid_user_ctime ON SmsHead (fid, UserID, createtime)",
      "CREATE INDEX SmsHead_fid_user_rtime ON SmsHead (fid, UserID, recvtime)",
      "CREATE TABLE SmsContent (id INTEGER PRIMARY KEY, BatId INTEGER, type INTEGER, savepos "
      "INTEGER, rivmode INTEGER, location INTEGER, name TEXT, tel TEXT, UserID INTEGER REFERENCES "
      "tbl_zu_user(id) ON DELETE CASCADE)",
      "CREATE TABLE SmsAreaBroadcast (id INTEGER PRIMARY KEY, status INTEGER, sn INTEGER, msgid "
      "INTEGER, pageindex INTEGER, dctype INTEGER, recvtime TEXT, datalen INTEGER, data TEXT, "
      "UserID INTEGER REFERENCES tbl_zu_user(id) ON DELETE CASCADE)",
      "CREATE TABLE SmsPhrase (id INTEGER PRIMARY KEY, content TEXT, impBool INTEGER, UserID "
      "INTEGER REFERENCES tbl_zu_user(id) ON DELETE CASCADE)",
      "CREATE TABLE SmsFolder (id INTEGER PRIMARY KEY, FdId INTEGER, fname TEXT, system INTEGER, "
      "password INTEGER, privmode INTEGER, UserID INTEGER REFERENCES tbl_zu_user(id) ON DELETE "
      "CASCADE)",
      "CREATE TABLE SmsFilter (id INTEGER PRIMARY KEY, folderid INTEGER, ftype INTEGER, fattr "
      "INTEGER, tel TEXT, name TEXT, UserID INTEGER REFERENCES tbl_zu_user(id) ON DELETE CASCADE)",
      "CREATE TABLE SmsReceiverHistory (id INTEGER PRIMARY KEY, tel TEXT, name TEXT, privmode "
      "INTEGER, lastdate TEXT, UserID INTEGER REFERENCES tbl_zu_user(id) ON DELETE CASCADE)",
  };
  for (auto _ : state) {
    sqlite3* db = RawOpen(FreshPath("freshraw"), "FULL");
    for (const char* sql : kSchema) RawExec(db, sql);
    for (int n = 1; n <= 14; ++n) {
      char sql[200];
      std::snprintf(sql, sizeof sql,
                    "INSERT INTO SmsFolder (id, FdId, fname, system, password, privmode, UserID) "
                    "VALUES (%d, %d, 'folder', 1, 0, 0, 1)",
                    n, n);
      RawExec(db, sql);
    }
    sqlite3_close_v2(db);
  }
}

// A synchronisation listing of all of user 1's messages through the store.
template <typename Element>
void ListZusms(benchmark::State& state,
               int32_t (SmsDatabase::*list)(Element*, uint32_t, uint32_t&)) {
  setenv("ZUSMS_DB", Scale(state.range(0)).path.c_str(), 1);
  SmsDatabase store(1);
  store.Open();
  std::vector<Element> elements(static_cast<size_t>(state.range(0)));
  uint32_t n = 0;
  for (auto _ : state) {
    (store.*list)(elements.data(), static_cast<uint32_t>(elements.size()), n);
  }
  if (n != elements.size()) state.SkipWithError("wrong count");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
  store.Close();
}

// The same elements from a raw prepared scan; `fill` copies one row.
template <typename Element, typename Fill>
void ListRaw(benchmark::State& state, const char* sql, Fill&& fill) {
  sqlite3* db = RawOpen(Scale(state.range(0)).path, "FULL");
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
  std::vector<Element> elements(static_cast<size_t>(state.range(0)));
  size_t n = 0;
  for (auto _ : state) {
    n = 0;
    sqlite3_bind_int(s, 1, 1);
    while (n < elements.size() && sqlite3_step(s) == SQLITE_ROW) fill(s, elements[n++]);
    sqlite3_reset(s);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
  sqlite3_finalize(s);
  sqlite3_close_v2(db);
}

void BM_ListModifyTimes_Zusms(benchmark::State& state) {
  ListZusms(state, &SmsDatabase::GetAllSmsHeadIDModifyTime);
}

void BM_ListModifyTimes_Raw(benchmark::State& state) {
  ListRaw<stIDModifyTime>(state, "SELECT id, ModifyTime FROM SmsHead WHERE UserID = ?",
                          [](sqlite3_stmt* s, stIDModifyTime& e) {
                            e.id = static_cast<uint32_t>(sqlite3_column_int(s, 0));
                            int y, mo, d, h, mi, se;
                            std::sscanf(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                                        "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &se);
                            e.modifyTime = {static_cast<int16_t>(y),  static_cast<int16_t>(mo),
                                            static_cast<int16_t>(d),  static_cast<int16_t>(h),
                                            static_cast<int16_t>(mi), static_cast<int16_t>(se)};
                          });
}

void BM_ListUuids_Zusms(benchmark::State& state) {
  ListZusms(state, &SmsDatabase::GetAllSmsHeadIDUUID);
}

void BM_ListUuids_Raw(benchmark::State& state) {
  ListRaw<stIDUUID>(state, "SELECT id, uuid FROM SmsHead WHERE UserID = ?",
                    [](sqlite3_stmt* s, stIDUUID& e) {
                      e.id = static_cast<uint32_t>(sqlite3_column_int(s, 0));
                      std::memcpy(e.uuid, sqlite3_column_blob(s, 1), 16);
                    });
}

BENCHMARK(BM_FirstOpen_Zusms)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstOpen_Raw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListModifyTimes_Zusms)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListModifyTimes_Raw)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListUuids_Zusms)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListUuids_Raw)->Apply(Sizes)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zusms::bench
