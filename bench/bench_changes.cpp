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
        for (const char* what : {"insert", "update", "rekey", "delete"}) {
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

void Add(benchmark::State& state, bool logged) {
  Store store(logged, Sync(state));
  SmsHead h = Head(1);
  uint32_t id = 0;
  for (auto _ : state) {
    if ((*store).AddSmsHead(h, id) != 0) state.SkipWithError("add failed");
  }
}

void Update(benchmark::State& state, bool logged) {
  Store store(logged, Sync(state));
  size_t next = 0;
  for (auto _ : state) {
    SmsHead h = Head(static_cast<int>(next));
    h.id = static_cast<int32_t>(store.ids()[next++ % store.ids().size()]);
    if ((*store).UpdateSmsHead(h) != 0) state.SkipWithError("update failed");
  }
}

void Delete(benchmark::State& state, bool logged) {
  Store store(logged, Sync(state));
  size_t next = 0;
  for (auto _ : state) {
    if ((*store).DeleteSmsHead(store.ids()[next++]) != 0) state.SkipWithError("delete failed");
  }
}

void BM_HeadAdd_Logged(benchmark::State& state) { Add(state, true); }
void BM_HeadAdd_Unlogged(benchmark::State& state) { Add(state, false); }
void BM_HeadUpdate_Logged(benchmark::State& state) { Update(state, true); }
void BM_HeadUpdate_Unlogged(benchmark::State& state) { Update(state, false); }
void BM_HeadDelete_Logged(benchmark::State& state) { Delete(state, true); }
void BM_HeadDelete_Unlogged(benchmark::State& state) { Delete(state, false); }

// Argument: 1 = synchronous FULL (the default), 0 = NORMAL. A fixed number of
// iterations, below the number of heads that Delete can remove.
#define ZU_CHANGE_BENCH(name) \
  BENCHMARK(name)->Arg(1)->Arg(0)->Iterations(kIterations)->Unit(benchmark::kMicrosecond)
ZU_CHANGE_BENCH(BM_HeadAdd_Logged);
ZU_CHANGE_BENCH(BM_HeadAdd_Unlogged);
ZU_CHANGE_BENCH(BM_HeadUpdate_Logged);
ZU_CHANGE_BENCH(BM_HeadUpdate_Unlogged);
ZU_CHANGE_BENCH(BM_HeadDelete_Logged);
ZU_CHANGE_BENCH(BM_HeadDelete_Unlogged);

}  // namespace
}  // namespace zusms::bench
