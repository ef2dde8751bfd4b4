// Opening and closing a store on an existing file, against opening SQLite,
// setting it up the same way and reading the version and the table list:
// on a file with no message (argument 0) and at each size.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include "BenchDb.h"
#include "ScaleData.h"
#include "SmsDatabase.h"

namespace zusms::bench {
namespace {

std::string ExistingStore(int64_t heads) {
  if (heads > 0) return Scale(heads).path;
  static const std::string path = [] {
    std::string p = FreshPath("lifecycle");
    setenv("ZUSMS_DB", p.c_str(), 1);
    SmsDatabase store(1);
    store.Open();
    store.Close();
    return p;
  }();
  return path;
}

void BM_OpenClose_Zusms(benchmark::State& state) {
  setenv("ZUSMS_DB", ExistingStore(state.range(0)).c_str(), 1);
  SmsDatabase store(1);
  for (auto _ : state) {
    if (store.Open() != 0) state.SkipWithError("open failed");
    store.Close();
  }
}
BENCHMARK(BM_OpenClose_Zusms)
    ->Arg(0)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);

void BM_OpenClose_Raw(benchmark::State& state) {
  const std::string path = ExistingStore(state.range(0));
  for (auto _ : state) {
    sqlite3* db = RawOpen(path, "FULL");
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT ver FROM tbl_zu_sms_ver", -1, &stmt, nullptr);
    benchmark::DoNotOptimize(sqlite3_step(stmt));
    sqlite3_finalize(stmt);
    sqlite3_prepare_v2(db,
                       "SELECT count(*) FROM sqlite_schema WHERE type='table' AND name IN "
                       "('SmsHead','SmsContent','SmsAreaBroadcast','SmsPhrase','SmsFolder',"
                       "'SmsFilter','SmsReceiverHistory')",
                       -1, &stmt, nullptr);
    benchmark::DoNotOptimize(sqlite3_step(stmt));
    sqlite3_finalize(stmt);
    sqlite3_close_v2(db);
  }
}
BENCHMARK(BM_OpenClose_Raw)
    ->Arg(0)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zusms::bench
