// A worker process of the stress test: one writer (StressWriter.h) on the
// store named by ZUSMS_DB, inherited from the parent. What it did goes to a
// result file of its own, written once at the end, so that no two workers
// ever append to one file.
//
//   stress_worker USER COUNT TAG RESULT_FILE
#include <cstdio>
#include <cstdlib>
#include <string>

#include "StressWriter.h"

int main(int argc, char** argv) {
  if (argc != 5) return 64;
  const auto user = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
  SmsDatabase* store = nullptr;
  zusms::testing::StressResult r;
  if (InitZuSmsDB(&store, user) != 0 || OpenZuSmsDB(store) != 0) {
    r.failure = "open failed";
  } else {
    r = zusms::testing::RunStressWriter(store, argv[3], std::atoi(argv[2]));
    CloseZuSmsDB(store);
  }
  UninitZuSmsDB(store);
  const std::string text = r.Serialize();
  std::FILE* out = std::fopen(argv[4], "wb");
  if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fclose(out)) {
    return 4;
  }
  return r.failure.empty() ? 0 : 3;
}
