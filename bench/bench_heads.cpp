// Message head operations at 10,000, 100,000 and 1,000,000 messages of the
// measured user (and a tenth as many of three others), each next to the
// plainest raw SQLite that does the same work on the same file, with the
// same indexes. The first argument of every case is the number of messages.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "BenchDb.h"
#include "ScaleData.h"
#include "SmsDatabase.h"

namespace zusms::bench {
namespace {

int64_t Heads(const benchmark::State& state) { return state.range(0); }
// The second argument of the add: 1 = synchronous FULL (the default), 0 = NORMAL.
const char* Sync(const benchmark::State& state) { return state.range(1) ? "FULL" : "NORMAL"; }

// User 1's messages visited in a scattered order, the same on both sides.
uint32_t Scattered(const benchmark::State& state, uint64_t i) {
  return UserHeadId(static_cast<int64_t>(i * 7919 % static_cast<uint64_t>(Heads(state))));
}

// The store of user 1 open on the store of the case's size.
class OpenStore {
 public:
  OpenStore(const benchmark::State& state, const char* sync = "FULL") : store_(1) {
    setenv("ZUSMS_DB", Scale(Heads(state)).path.c_str(), 1);
    setenv("ZUSMS_SYNC", sync, 1);
    store_.Open();
  }
  ~OpenStore() {
    store_.Close();
    unsetenv("ZUSMS_SYNC");
  }
  SmsDatabase* operator->() { return &store_; }

 private:
  SmsDatabase store_;
};

sqlite3* Raw(const benchmark::State& state, const char* sync = "FULL") {
  return RawOpen(Scale(Heads(state)).path, sync);
}

sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "raw sqlite: %s: %s\n", sql, sqlite3_errmsg(db));
    std::abort();
  }
  return s;
}

// New messages to add, each with its own text and UUID, made before the
// timing starts.
std::vector<SmsHead> NewHeads(const benchmark::State& state) {
  std::vector<SmsHead> heads(4096);
  for (size_t i = 0; i < heads.size(); ++i) {
    MakeHead(heads[i], RowsFor(Heads(state)) + static_cast<int64_t>(i));
  }
  return heads;
}

// Removes the rows a case added, so that the next finds the store as made.
void RemoveAdded(const benchmark::State& state) {
  sqlite3* db = Raw(state, "NORMAL");
  RawExec(db,
          ("DELETE FROM SmsHead WHERE id >= " + std::to_string(kFirstId + RowsFor(Heads(state))))
              .c_str());
  sqlite3_close_v2(db);
}

void BM_AddHead_Zusms(benchmark::State& state) {
  {
    OpenStore store(state, Sync(state));
    std::vector<SmsHead> heads = NewHeads(state);
    uint32_t id = 0;
    size_t i = 0;
    for (auto _ : state) {
      if (store->AddSmsHead(heads[i++ % heads.size()], id) != 0) state.SkipWithError("add failed");
    }
  }
  RemoveAdded(state);
}

// The plainest equivalent: one transaction that draws the id from a sequence
// table, inserts the row with it and reads the id back.
void BM_AddHead_Raw(benchmark::State& state) {
  sqlite3* db = Raw(state, Sync(state));
  sqlite3_stmt* begin = Prepare(db, "BEGIN IMMEDIATE");
  sqlite3_stmt* draw = Prepare(db,
                               "UPDATE mimer_sequences SET next = next + 1 WHERE name = "
                               "'sms_id_seq' RETURNING next - 1");
  sqlite3_stmt* insert = Prepare(db, kInsertHead);
  sqlite3_stmt* commit = Prepare(db, "COMMIT");
  const std::vector<SmsHead> heads = NewHeads(state);
  size_t i = 0;
  for (auto _ : state) {
    const SmsHead& h = heads[i++ % heads.size()];
    sqlite3_step(begin);
    sqlite3_reset(begin);
    sqlite3_step(draw);
    const int64_t id = sqlite3_column_int64(draw, 0);
    sqlite3_reset(draw);
    int k = BindHead(insert, h, 1);
    sqlite3_bind_int64(insert, k++, id);
    sqlite3_bind_int(insert, k++, 1);
    sqlite3_bind_text(insert, k++, "2026-01-01 12:00:00", -1, SQLITE_STATIC);
    if (sqlite3_step(insert) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
    sqlite3_reset(insert);
    sqlite3_step(commit);
    sqlite3_reset(commit);
    benchmark::DoNotOptimize(id);
  }
  for (auto* s : {begin, draw, insert, commit}) sqlite3_finalize(s);
  sqlite3_close_v2(db);
  RemoveAdded(state);
}

void BM_GetHead_Zusms(benchmark::State& state) {
  OpenStore store(state);
  SmsHead h;
  uint64_t i = 0;
  for (auto _ : state) {
    if (store->GetSmsHead(Scattered(state, i++), h) != 0) state.SkipWithError("get failed");
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
  sqlite3* db = Raw(state);
  sqlite3_stmt* select = Prepare(db, "SELECT * FROM SmsHead WHERE id = ? AND UserID = ?");
  SmsHead h;
  uint64_t i = 0;
  for (auto _ : state) {
    sqlite3_bind_int(select, 1, static_cast<int>(Scattered(state, i++)));
    sqlite3_bind_int(select, 2, 1);
    if (sqlite3_step(select) == SQLITE_ROW) ReadRow(select, h);
    sqlite3_reset(select);
  }
  sqlite3_finalize(select);
  sqlite3_close_v2(db);
}

// A message's folder and flags change (a move); its modification time too.
void BM_UpdateHead_Zusms(benchmark::State& state) {
  OpenStore store(state);
  SmsHead h;
  uint64_t i = 0;
  for (auto _ : state) {
    const uint32_t id = Scattered(state, i);
    MakeHead(h, id - kFirstId);
    h.id = static_cast<int32_t>(id);
    h.lockflag = static_cast<int16_t>(++i % 2);
    if (store->UpdateSmsHead(h) != 0) state.SkipWithError("update failed");
  }
}

void BM_UpdateHead_Raw(benchmark::State& state) {
  sqlite3* db = Raw(state);
  sqlite3_stmt* update = Prepare(
      db,
      "UPDATE SmsHead SET \"index\" = ?, type = ?, fid = ?, batid = ?, createtime = ?, tel = ?, "
      "name = ?, recvtime = ?, content = ?, privmode = ?, ccid = ?, lockflag = ?, oldfid = ?, "
      "impt = ?, longsms = ?, operid = ?, uuid = ?, ModifyTime = datetime('now') WHERE id = ? AND "
      "UserID = ?");
  SmsHead h;
  uint64_t i = 0;
  for (auto _ : state) {
    const uint32_t id = Scattered(state, i);
    MakeHead(h, id - kFirstId);
    h.lockflag = static_cast<int16_t>(++i % 2);
    int k = BindHead(update, h, 1);
    sqlite3_bind_int(update, k++, static_cast<int>(id));
    sqlite3_bind_int(update, k++, 1);
    if (sqlite3_step(update) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
    sqlite3_reset(update);
  }
  sqlite3_finalize(update);
  sqlite3_close_v2(db);
}

// Deletes user 1's newest messages one by one; puts them back afterwards.
template <typename Delete>
void DeleteNewest(benchmark::State& state, Delete&& remove) {
  int64_t k = Heads(state);
  for (auto _ : state) {
    if (k == 0) {
      state.SkipWithError("every message deleted");
      break;
    }
    if (!remove(UserHeadId(--k))) state.SkipWithError("delete failed");
  }
  sqlite3* db = Raw(state, "NORMAL");
  sqlite3_stmt* insert = Prepare(db, kInsertHead);
  RawExec(db, "BEGIN");
  for (int64_t j = k; j < Heads(state); ++j) InsertRow(insert, UserHeadId(j) - kFirstId);
  RawExec(db, "COMMIT");
  sqlite3_finalize(insert);
  sqlite3_close_v2(db);
}

void BM_DeleteHead_Zusms(benchmark::State& state) {
  OpenStore store(state);
  DeleteNewest(state, [&](uint32_t id) { return store->DeleteSmsHead(id) == 0; });
}

void BM_DeleteHead_Raw(benchmark::State& state) {
  sqlite3* db = Raw(state);
  sqlite3_stmt* remove = Prepare(db, "DELETE FROM SmsHead WHERE id = ? AND UserID = ?");
  DeleteNewest(state, [&](uint32_t id) {
    sqlite3_bind_int(remove, 1, static_cast<int>(id));
    sqlite3_bind_int(remove, 2, 1);
    const bool done = sqlite3_step(remove) == SQLITE_DONE;
    sqlite3_reset(remove);
    return done;
  });
  sqlite3_finalize(remove);
  sqlite3_close_v2(db);
}

void BM_GetAllHeads_Zusms(benchmark::State& state) {
  OpenStore store(state);
  std::vector<SmsHead> recs(static_cast<size_t>(Heads(state)));
  uint32_t n = 0;
  for (auto _ : state) store->GetAllSmsHead(recs.data(), static_cast<uint32_t>(recs.size()), n);
  if (n != recs.size()) state.SkipWithError("wrong count");
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_GetAllHeads_Raw(benchmark::State& state) {
  sqlite3* db = Raw(state);
  sqlite3_stmt* select = Prepare(db, "SELECT * FROM SmsHead WHERE UserID = ?");
  std::vector<SmsHead> recs(static_cast<size_t>(Heads(state)));
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
void BM_FolderPage_Zusms(benchmark::State& state) {
  OpenStore store(state);
  _MimerQueryFilterItem item{};
  item.field = ZU_HEAD_FID;
  item.op = ZU_OP_EQ;
  item.value.number = 1;
  _MimerQueryOrderItem order{ZU_HEAD_CREATETIME, 2};
  MimerQueryFilter filter{1, &item, 1, 1, &order};
  SmsHead recs[50];
  uint32_t n = 0;
  for (auto _ : state) {
    if (store->QuerySmsHead(filter, recs, 50, n) != 0 || n != 50) state.SkipWithError("query");
  }
}

void BM_FolderPage_Raw(benchmark::State& state) {
  sqlite3* db = Raw(state);
  sqlite3_stmt* s = Prepare(db,
                            "SELECT * FROM SmsHead WHERE UserID = ? AND fid = ? ORDER BY "
                            "createtime DESC LIMIT 50");
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

// The tool's `folders` listing: the folders, and the messages in each.
void BM_FolderCounts_Zusms(benchmark::State& state) {
  OpenStore store(state);
  SmsFolder folders[64];
  uint32_t counts[64];
  uint32_t n = 0;
  for (auto _ : state) {
    store->GetAllSmsFolder(folders, 64, n);
    for (uint32_t f = 0; f < n; ++f) {
      _MimerQueryFilterItem item{};
      item.field = ZU_HEAD_FID;
      item.op = ZU_OP_EQ;
      item.value.number = folders[f].FdId;
      MimerQueryFilter filter{1, &item, 1, 0, nullptr};
      if (store->QuerySmsHeadCount(filter, counts[f]) != 0) state.SkipWithError("count");
    }
  }
  if (n != 14) state.SkipWithError("wrong folder count");
}

void BM_FolderCounts_Raw(benchmark::State& state) {
  sqlite3* db = Raw(state);
  sqlite3_stmt* list = Prepare(db, "SELECT * FROM SmsFolder WHERE UserID = ?");
  sqlite3_stmt* count = Prepare(db, "SELECT count(*) FROM SmsHead WHERE UserID = ? AND fid = ?");
  int32_t fdids[64];
  uint32_t counts[64];
  for (auto _ : state) {
    int n = 0;
    sqlite3_bind_int(list, 1, 1);
    while (n < 64 && sqlite3_step(list) == SQLITE_ROW) fdids[n++] = sqlite3_column_int(list, 1);
    sqlite3_reset(list);
    for (int f = 0; f < n; ++f) {
      sqlite3_bind_int(count, 1, 1);
      sqlite3_bind_int(count, 2, fdids[f]);
      sqlite3_step(count);
      counts[f] = static_cast<uint32_t>(sqlite3_column_int(count, 0));
      sqlite3_reset(count);
    }
    benchmark::DoNotOptimize(counts);
  }
  sqlite3_finalize(list);
  sqlite3_finalize(count);
  sqlite3_close_v2(db);
}

// "How many messages mention home".
void BM_ContainsCount_Zusms(benchmark::State& state) {
  OpenStore store(state);
  _MimerQueryFilterItem item{};
  item.field = ZU_HEAD_CONTENT;
  item.op = ZU_OP_CONTAINS;
  item.value.text = u"home";
  MimerQueryFilter filter{1, &item, 1, 0, nullptr};
  uint32_t n = 0;
  for (auto _ : state) {
    if (store->QuerySmsHeadCount(filter, n) != 0) state.SkipWithError("query");
  }
  state.counters["matches"] = n;
}

void BM_ContainsCount_Raw(benchmark::State& state) {
  sqlite3* db = Raw(state);
  sqlite3_stmt* s = Prepare(db, "SELECT count(*) FROM SmsHead WHERE UserID = ? AND content LIKE ?");
  int n = 0;
  for (auto _ : state) {
    sqlite3_bind_int(s, 1, 1);
    sqlite3_bind_text(s, 2, "%home%", -1, SQLITE_STATIC);
    sqlite3_step(s);
    n = sqlite3_column_int(s, 0);
    sqlite3_reset(s);
  }
  state.counters["matches"] = n;
  sqlite3_finalize(s);
  sqlite3_close_v2(db);
}

void SizesAndSync(benchmark::internal::Benchmark* b) {
  for (int64_t heads : kScaleSizes) {
    for (int64_t sync : {1, 0}) b->Args({heads, sync});
  }
}

#define ZU_PAIR(Case, Arguments, TimeUnit)                                   \
  BENCHMARK(BM_##Case##_Zusms)->Apply(Arguments)->Unit(benchmark::TimeUnit); \
  BENCHMARK(BM_##Case##_Raw)->Apply(Arguments)->Unit(benchmark::TimeUnit)

ZU_PAIR(AddHead, SizesAndSync, kMicrosecond);
ZU_PAIR(GetHead, Sizes, kMicrosecond);
ZU_PAIR(UpdateHead, Sizes, kMicrosecond);
ZU_PAIR(DeleteHead, Sizes, kMicrosecond);
ZU_PAIR(FolderPage, Sizes, kMicrosecond);
ZU_PAIR(FolderCounts, Sizes, kMicrosecond);
ZU_PAIR(ContainsCount, Sizes, kMillisecond);
// The caller's array of a million whole records would take 1.6 GB.
BENCHMARK(BM_GetAllHeads_Zusms)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetAllHeads_Raw)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zusms::bench
