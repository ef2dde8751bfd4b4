// Shared set-up for the benchmarks: a scratch folder and a raw connection
// configured as the library configures its own.
#ifndef ZUSMS_BENCH_BENCHDB_H_
#define ZUSMS_BENCH_BENCHDB_H_

#include <sqlite3.h>

#include <string>

namespace zusms::bench {

// A fresh folder under $TMPDIR (or /tmp), removed at exit.
const std::string& ScratchDir();
// A path in the scratch folder that no earlier call returned.
std::string FreshPath(const std::string& stem);
// Opens `path` with the library's settings: WAL, the given synchronous mode,
// foreign keys on, a 5 s busy timeout.
sqlite3* RawOpen(const std::string& path, const char* synchronous);
void RawExec(sqlite3* db, const char* sql);

}  // namespace zusms::bench

#endif  // ZUSMS_BENCH_BENCHDB_H_
