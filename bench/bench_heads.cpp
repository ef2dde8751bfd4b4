// Message head operations next to the plainest raw SQLite that does the same
// work, on a table holding 100,000 heads of the measured user among 4 users,
// at both durability settings.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "BenchDb.h"
#include "SmsDatabase.h"

namespace zusms::bench {
namespace {

constexpr int kUserHeads = 100000;
constexpr int kOtherHeads = 30000;  // 10,000 for each of the other users
constexpr int kFirstFreeId = 1000 + kUserHeads + kOtherHeads;

const char* Sync(const benchmark::State& state) { return state.range(0) ? "FULL" : "NORMAL"; }

void Fill(SmsHead& h, int i) {
  std::memset(&h, 0, sizeof h);
  h.index = static_cast<int16_t>(i);
  h.fid = i % 14 + 1;
  const std::u16string tel = u"+8613800" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10));
  std::copy(tel.begin(), tel.end(), h.tel);
  const std::u16string text = u"Meet at the station at five, bring the tickets please \u8c22\u8c22";
  std::copy(text.begin(), text.end(), h.content);
  std::copy_n(u"20240101120000", 14, h.createtime);
  h.uuid[0] = 1;
  h.uuid[8] = 0x80;
}

// A file with the schema and the rows, made once per durability setting.
const std::string& Populated(const char* sync) {
  static std::map<std::string, std::string> files;
  auto it = files.find(sync);
  if (it != files.end()) return it->second;
  std::string path = FreshPath("heads");
  setenv("ZUSMS_DB", path.c_str(), 1);
  for (uint32_t user = 1; user <= 4; ++user) {
    SmsDatabase store(user);
    store.Open();
    store.Close();
  }
  sqlite3* db = RawOpen(path, "NORMAL");
  RawExec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO SmsHead (id, \"index\", type, fid, batid, createtime, tel, name, "
                     "recvtime, content, privmode, ccid, lockflag, oldfid, impt, longsms, operid, "
                     "uuid, UserID, ModifyTime) VALUES (?, ?, 0, ?, 0, printf('2024%010d', ?), "
                     "'+8613800000', 'Li Lei', '20240101120000', ?, 0, 0, 0, 0, 0, 0, 'op', "
                     "randomblob(16), ?, '2024-01-01 12:00:00')",
                     -1, &insert, nullptr);
  // One message in ten mentions the station; the others do not.
  const std::string station = "Meet at the station at five, bring the tickets please";
  const std::string other = "Dinner is at seven, do not forget the umbrella";
  for (int i = 0; i < kUserHeads + kOtherHeads; ++i) {
    sqlite3_bind_int(insert, 1, 1000 + i);
    sqlite3_bind_int(insert, 2, i % 30000);
    sqlite3_bind_int(insert, 3, i % 14 + 1);
    sqlite3_bind_int(insert, 4, (i * 7919) % 1000003);
    sqlite3_bind_text(insert, 5, (i % 10 ? other : station).c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(insert, 6, i < kUserHeads ? 1 : 2 + i % 3);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  RawExec(db, "COMMIT");
  sqlite3_close_v2(db);
  return files.emplace(sync, path).first->second;
}

}  // namespace

const std::string& PopulatedHeads() { return Populated("FULL"); }

namespace {

// The store of user 1 open on the populated file at the given setting.
class OpenStore {
 public:
  explicit OpenStore(const char* sync) : store_(1) {
    setenv("ZUSMS_DB", Populated(sync).c_str(), 1);
    setenv("ZUSMS_SYNC", sync, 1);
    store_.Open();
  }
  ~OpenStore() {
    store_.Close();
    unsetenv("ZUSMS_SYNC");
  }
  SmsDatabase& operator*() { return store_; }

 private:
  SmsDatabase store_;
};

void BM_AddHead_Zusms(benchmark::State& state) {
  OpenStore store(Sync(state));
  SmsHead h;
  Fill(h, 1);
  uint32_t id = 0;
  for (auto _ : state) {
    if ((*store).AddSmsHead(h, id) != 0) state.SkipWithError("add failed");
  }
  // Leave the table as it was for the cases after this one.
  sqlite3* db = RawOpen(Populated(Sync(state)), "NORMAL");
  RawExec(db, ("DELETE FROM SmsHead WHERE id >= " + std::to_string(kFirstFreeId)).c_str());
  sqlite3_close_v2(db);
}

// The plainest equivalent: one transaction that draws the id from a sequence
// table, inserts the row with it and reads the id back.
void BM_AddHead_Raw(benchmark::State& state) {
  sqlite3* db = RawOpen(Populated(Sync(state)), Sync(state));
  sqlite3_stmt *begin, *draw, *insert, *commit;
  sqlite3_prepare_v2(db, "BEGIN IMMEDIATE", -1, &begin, nullptr);
  sqlite3_prepare_v2(db,
                     "UPDATE mimer_sequences SET next = next + 1 WHERE name = 'sms_id_seq' "
                     "RETURNING next - 1",
                     -1, &draw, nullptr);
  sqlite3_prepare_v2(db,
                     "INSERT INTO SmsHead (id, \"index\", type, fid, batid, createtime, tel, name, "
                     "recvtime, content, privmode, ccid, lockflag, oldfid, impt, longsms, operid, "
                     "uuid, UserID, ModifyTime) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                     "?, ?, ?, ?, ?, ?)",
                     -1, &insert, nullptr);
  sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr);
  SmsHead h;
  Fill(h, 1);
  int64_t id = 0;
  for (auto _ : state) {
    sqlite3_step(begin);
    sqlite3_reset(begin);
    sqlite3_step(draw);
    id = sqlite3_column_int64(draw, 0);
    sqlite3_reset(draw);
    int k = 1;
    sqlite3_bind_int64(insert, k++, id);
    sqlite3_bind_int(insert, k++, h.index);
    sqlite3_bind_int(insert, k++, h.type);
    sqlite3_bind_int(insert, k++, h.fid);
    sqlite3_bind_int(insert, k++, h.batid);
    sqlite3_bind_text16(insert, k++, h.createtime, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text16(insert, k++, h.tel, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text16(insert, k++, h.name, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text16(insert, k++, h.recvtime, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text16(insert, k++, h.content, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, k++, h.privmode);
    sqlite3_bind_int(insert, k++, h.ccid);
    sqlite3_bind_int(insert, k++, h.lockflag);
    sqlite3_bind_int(insert, k++, h.oldfid);
    sqlite3_bind_int(insert, k++, h.impt);
    sqlite3_bind_int(insert, k++, h.longsms);
    sqlite3_bind_text16(insert, k++, h.operid, -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, k++, h.uuid, 16, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, k++, 1);
    sqlite3_bind_text(insert, k++, "2024-01-01 12:00:00", -1, SQLITE_STATIC);
    if (sqlite3_step(insert) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
    sqlite3_reset(insert);
    sqlite3_step(commit);
    sqlite3_reset(commit);
    benchmark::DoNotOptimize(id);
  }
  for (auto* s : {begin, draw, insert, commit}) sqlite3_finalize(s);
  RawExec(db, ("DELETE FROM SmsHead WHERE id >= " + std::to_string(kFirstFreeId)).c_str());
  sqlite3_close_v2(db);
}

void BM_GetHead_Zusms(benchmark::State& state) {
  OpenStore store(Sync(state));
  SmsHead h;
  uint32_t i = 0;
  for (auto _ : state) {
    if ((*store).GetSmsHead(1000 + (i++ * 7919) % kUserHeads, h) != 0) {
      state.SkipWithError("get failed");
    }
  }
}

// Reads every column of one row into a record, as a hand-written mapper would.
void ReadRow(sqlite3_stmt* s, SmsHead& h) {
  auto text = [&](int col, char16_t* dest, size_t cap) {
    const auto* p = static_cast<const char16_t*>(sqlite3_column_text16(s, col));
    size_t n = static_cast<size_t>(sqlite3_column_bytes16(s, col)) / 2;
    if (n > cap - 1) n = cap - 1;
    std::memcpy(dest, p, n * 2);
    dest[n] = 0;
  };
  h.id = sqlite3_column_int(s, 0);
  h.index = static_cast<int16_t>(sqlite3_column_int(s, 1));
  h.type = static_cast<int16_t>(sqlite3_column_int(s, 2));
  h.fid = sqlite3_column_int(s, 3);
  h.batid = sqlite3_column_int(s, 4);
  text(5, h.createtime, 15);
  text(6, h.tel, 33);
  text(7, h.name, 40);
  text(8, h.recvtime, 15);
  text(9, h.content, 671);
  h.privmode = static_cast<int16_t>(sqlite3_column_int(s, 10));
  h.ccid = static_cast<int16_t>(sqlite3_column_int(s, 11));
  h.lockflag = static_cast<int16_t>(sqlite3_column_int(s, 12));
  h.oldfid = sqlite3_column_int(s, 13);
  h.impt = static_cast<int16_t>(sqlite3_column_int(s, 14));
  h.longsms = static_cast<int16_t>(sqlite3_column_int(s, 15));
  text(16, h.operid, 10);
  std::memcpy(h.uuid, sqlite3_column_blob(s, 17), 16);
}

void BM_GetHead_Raw(benchmark::State& state) {
  sqlite3* db = RawOpen(Populated(Sync(state)), Sync(state));
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM SmsHead WHERE id = ? AND UserID = ?", -1, &select, nullptr);
  SmsHead h;
  uint32_t i = 0;
  for (auto _ : state) {
    sqlite3_bind_int(select, 1, static_cast<int>(1000 + (i++ * 7919) % kUserHeads));
    sqlite3_bind_int(select, 2, 1);
    if (sqlite3_step(select) == SQLITE_ROW) ReadRow(select, h);
    sqlite3_reset(select);
  }
  sqlite3_finalize(select);
  sqlite3_close_v2(db);
}

void BM_GetAllHeads_Zusms(benchmark::State& state) {
  OpenStore store(Sync(state));
  std::vector<SmsHead> recs(kUserHeads + 1000);
  uint32_t n = 0;
  for (auto _ : state) {
    (*store).GetAllSmsHead(recs.data(), static_cast<uint32_t>(recs.size()), n);
  }
  if (n != kUserHeads) state.SkipWithError("wrong count");
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_GetAllHeads_Raw(benchmark::State& state) {
  sqlite3* db = RawOpen(Populated(Sync(state)), Sync(state));
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT * FROM SmsHead WHERE UserID = ?", -1, &select, nullptr);
  std::vector<SmsHead> recs(kUserHeads + 1000);
  size_t n = 0;
  for (auto _ : state) {
    n = 0;
    sqlite3_bind_int(select, 1, 1);
    while (n < recs.size() && sqlite3_step(select) == SQLITE_ROW) ReadRow(select, recs[n++]);
    sqlite3_reset(select);
  }
  sqlite3_finalize(select);
  sqlite3_close_v2(db);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

// "The inbox, newest first, first 50": folder 1 ordered by creation time.
void BM_QueryInboxNewest50_Zusms(benchmark::State& state) {
  OpenStore store(Sync(state));
  _MimerQueryFilterItem item{};
  item.field = ZU_HEAD_FID;
  item.op = ZU_OP_EQ;
  item.value.number = 1;
  _MimerQueryOrderItem order{ZU_HEAD_CREATETIME, 2};
  MimerQueryFilter filter{1, &item, 1, 1, &order};
  SmsHead recs[50];
  uint32_t n = 0;
  for (auto _ : state) {
    if ((*store).QuerySmsHead(filter, recs, 50, n) != 0 || n != 50) state.SkipWithError("query");
  }
}

void BM_QueryInboxNewest50_Raw(benchmark::State& state) {
  sqlite3* db = RawOpen(Populated(Sync(state)), Sync(state));
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT * FROM SmsHead WHERE UserID = ? AND fid = ? ORDER BY createtime DESC "
                     "LIMIT 50",
                     -1, &s, nullptr);
  SmsHead recs[50];
  for (auto _ : state) {
    int n = 0;
    sqlite3_bind_int(s, 1, 1);
    sqlite3_bind_int(s, 2, 1);
    while (n < 50 && sqlite3_step(s) == SQLITE_ROW) ReadRow(s, recs[n++]);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_close_v2(db);
}

// "How many messages mention the station".
void BM_QueryContainsCount_Zusms(benchmark::State& state) {
  OpenStore store(Sync(state));
  _MimerQueryFilterItem item{};
  item.field = ZU_HEAD_CONTENT;
  item.op = ZU_OP_CONTAINS;
  item.value.text = u"station";
  MimerQueryFilter filter{1, &item, 1, 0, nullptr};
  uint32_t n = 0;
  for (auto _ : state) {
    if ((*store).QuerySmsHeadCount(filter, n) != 0) state.SkipWithError("query");
  }
  if (n != kUserHeads / 10) state.SkipWithError("wrong count");
}

void BM_QueryContainsCount_Raw(benchmark::State& state) {
  sqlite3* db = RawOpen(Populated(Sync(state)), Sync(state));
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM SmsHead WHERE UserID = ? AND content LIKE ?", -1, &s,
                     nullptr);
  for (auto _ : state) {
    sqlite3_bind_int(s, 1, 1);
    sqlite3_bind_text(s, 2, "%station%", -1, SQLITE_STATIC);
    sqlite3_step(s);
    benchmark::DoNotOptimize(sqlite3_column_int(s, 0));
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_close_v2(db);
}

BENCHMARK(BM_QueryInboxNewest50_Zusms)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryInboxNewest50_Raw)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryContainsCount_Zusms)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryContainsCount_Raw)->Arg(1)->Unit(benchmark::kMillisecond);

// Argument: 1 = synchronous FULL (the default), 0 = NORMAL.
BENCHMARK(BM_AddHead_Zusms)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AddHead_Raw)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetHead_Zusms)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetHead_Raw)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetAllHeads_Zusms)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetAllHeads_Raw)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zusms::bench
