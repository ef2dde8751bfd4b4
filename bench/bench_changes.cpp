// What the change log costs the write path: message head add, update and
// delete on a store that keeps the log, next to the same on a store whose
// log triggers were dropped, in the same run and at the same durability
// setting. bench/ratios.py pairs BM_<case>_Logged with BM_<case>_Unlogged.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "BenchDb.h"
#include "SmsDatabase.h"

namespace zusms::bench {
namespace {

constexpr int kHeads = 10000;
constexpr int kIterations = 2000;
constexpr int64_t kBatch = 1000;

const char* Sync(const benchmark::State& state) { return state.range(0) ? "FULL" : "NORMAL"; }

SmsHead Head(int i) {
  SmsHead h{};
  h.fid = i % 14 + 1;
  const std::u16string text = u"Meet at the station at five, bring the tickets please";
  std::copy(text.begin(), text.end(), h.content);
  std::copy_n(u"+8613800138000", 14, h.tel);
  return h;
}

// User 1's store open on a file of its own holding kHeads heads; without
// the log, the triggers are dropped once the store is open (the next open
// would make them again).
class Store {
 public:
  Store(bool logged, const char* sync) : store_(1) {
    path_ = FreshPath(logged ? "logged" : "unlogged");
    setenv("ZUSMS_DB", path_.c_str(), 1);
    setenv("ZUSMS_SYNC", sync, 1);
    store_.Open();
    store_.BeginBatch();
    uint32_t id = 0;
    for (int i = 0; i < kHeads; ++i) {
      SmsHead h = Head(i);
      store_.AddSmsHead(h, id);
      ids_.push_back(id);
    }
    store_.CommitBatch();
    if (!logged) {
      sqlite3* db = RawOpen(path_, sync);
      for (const char* table : {"SmsHead", "SmsFolder"}) {
        for (const char* what : {"insert", "replaced", "update", "rekey", "delete"}) {
          RawExec(db, ("DROP TRIGGER zu_changes_" + std::string(table) + "_" + what).c_str());
        }
      }
      sqlite3_close_v2(db);
    }
  }
  ~Store() {
    store_.Close();
    unsetenv("ZUSMS_SYNC");
  }
  SmsDatabase& operator*() { return store_; }
  const std::vector<uint32_t>& ids() const { return ids_; }

 private:
  SmsDatabase store_;
  std::string path_;
  std::vector<uint32_t> ids_;
};

// Runs `op` once per iteration: one by one (argument 1 is 0), or in batches
// of kBatch operations, each committed inside the iteration that ends it.
template <typename Op>
void Run(benchmark::State& state, bool logged, Op op) {
  Store store(logged, Sync(state));
  const bool batched = state.range(1) != 0;
  size_t next = 0;
  for (auto _ : state) {
    if (batched && next % kBatch == 0) (*store).BeginBatch();
    if (op(*store, store.ids(), next) != 0) state.SkipWithError("operation failed");
    if (batched && ++next % kBatch == 0) (*store).CommitBatch();
    if (!batched) ++next;
  }
  if (batched && next % kBatch != 0) (*store).CommitBatch();
}

void Add(benchmark::State& state, bool logged) {
  SmsHead h = Head(1);
  uint32_t id = 0;
  Run(state, logged, [&](SmsDatabase& db, auto&, size_t) { return db.AddSmsHead(h, id); });
}

void Update(benchmark::State& state, bool logged) {
  Run(state, logged, [](SmsDatabase& db, const std::vector<uint32_t>& ids, size_t next) {
    SmsHead h = Head(static_cast<int>(next));
    h.id = static_cast<int32_t>(ids[next % ids.size()]);
    return db.UpdateSmsHead(h);
  });
}

void Delete(benchmark::State& state, bool logged) {
  Run(state, logged, [](SmsDatabase& db, const std::vector<uint32_t>& ids, size_t next) {
    return db.DeleteSmsHead(ids[next]);
  });
}

void BM_HeadAdd_Logged(benchmark::State& state) { Add(state, true); }
void BM_HeadAdd_Unlogged(benchmark::State& state) { Add(state, false); }
void BM_HeadUpdate_Logged(benchmark::State& state) { Update(state, true); }
void BM_HeadUpdate_Unlogged(benchmark::State& state) { Update(state, false); }
void BM_HeadDelete_Logged(benchmark::State& state) { Delete(state, true); }
void BM_HeadDelete_Unlogged(benchmark::State& state) { Delete(state, false); }

// Arguments: synchronous FULL (1, the default) or NORMAL (0); one by one (0)
// or in batches of kBatch (1). A fixed number of iterations, below the
// number of heads that Delete can remove.
#define ZU_CHANGE_BENCH(name)         \
  BENCHMARK(name)                     \
      ->ArgsProduct({{1, 0}, {0, 1}}) \
      ->Iterations(kIterations)       \
      ->Unit(benchmark::kMicrosecond)
ZU_CHANGE_BENCH(BM_HeadAdd_Logged);
ZU_CHANGE_BENCH(BM_HeadAdd_Unlogged);
ZU_CHANGE_BENCH(BM_HeadUpdate_Logged);
ZU_CHANGE_BENCH(BM_HeadUpdate_Unlogged);
ZU_CHANGE_BENCH(BM_HeadDelete_Logged);
ZU_CHANGE_BENCH(BM_HeadDelete_Unlogged);

}  // namespace
}  // namespace zusms::bench
