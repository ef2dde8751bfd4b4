// Stores of realistic messages at any size, made from a fixed seed in
// seconds: texts and their lengths from a corpus of real messages
// (bench/corpus, CC BY 4.0), mixed with generated Chinese, as a long-lived
// archive holds them.
#ifndef ZUSMS_BENCH_SCALEDATA_H_
#define ZUSMS_BENCH_SCALEDATA_H_

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "ZuSmsDB.h"

namespace zusms::bench {

// The rows of a store of `heads` messages of user 1: every eleventh row
// belongs to one of users 2 to 4, the others to user 1, with ids rising
// from kFirstId in row order.
constexpr int64_t kFirstId = 1000;
constexpr int64_t RowsFor(int64_t heads) { return heads + heads / 10; }
// The id of user 1's k-th message (0-based).
constexpr uint32_t UserHeadId(int64_t k) {
  return static_cast<uint32_t>(kFirstId + k / 10 * 11 + k % 10);
}

// Row `row` of the fixed sequence, as a record (ids are the table's).
void MakeHead(SmsHead& h, int64_t row);
// Its modification time, "YYYY-MM-DD hh:mm:ss".
std::string ModifyTimeOf(int64_t row);

// Binds the 17 record columns of `h` (index to uuid, as the table orders
// them) to `s` from marker `first` on; returns the next marker.
int BindHead(sqlite3_stmt* s, const SmsHead& h, int first);

// The insert of a whole row: the 17 record columns as BindHead binds them,
// then id, UserID and ModifyTime.
constexpr const char* kInsertHead =
    "INSERT INTO SmsHead (\"index\", type, fid, batid, createtime, tel, name, recvtime, content, "
    "privmode, ccid, lockflag, oldfid, impt, longsms, operid, uuid, id, UserID, ModifyTime) VALUES "
    "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
// Inserts row `row` of the fixed sequence with kInsertHead; false on failure.
bool InsertRow(sqlite3_stmt* insert, int64_t row);

struct ScaleStore {
  std::string path;
  int64_t heads = 0;
  double index_seconds = 0;  // the open that built the query indexes
  int64_t file_bytes = 0;
};

// Makes the store at `path`: the schema by a store's first open, the rows
// by raw SQLite in batches, then the open of an earlier version's file that
// builds the query indexes (timed).
ScaleStore MakeScaleStore(const std::string& path, int64_t heads);
// One store per size for this run, in the scratch folder.
const ScaleStore& Scale(int64_t heads);

// The sizes of the scale table, as a case's first argument.
constexpr int64_t kScaleSizes[] = {10000, 100000, 1000000};
void Sizes(benchmark::internal::Benchmark* b);

}  // namespace zusms::bench

#endif  // ZUSMS_BENCH_SCALEDATA_H_
