// What the store's fuzz targets share: a failed check ends the run with its
// reason, and the store lives in a folder of its own, removed at exit.
#ifndef ZUSMS_TESTS_FUZZ_FUZZSTORE_H_
#define ZUSMS_TESTS_FUZZ_FUZZSTORE_H_

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "ZuSmsDB.h"

inline void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
  }
}

// Opens the stores of users 1 and 2 on a fresh file.
inline void OpenTwoStores(SmsDatabase*& first, SmsDatabase*& second) {
  static char dir[] = "/tmp/zusms-fuzz-XXXXXX";
  Check(mkdtemp(dir) != nullptr, "mkdtemp");
  std::atexit([] { std::filesystem::remove_all(dir); });
  setenv("ZUSMS_DB", (std::string(dir) + "/zuSms.dbf").c_str(), 1);
  setenv("ZUSMS_SYNC", "normal", 1);
  InitZuSmsDB(&first, 1);
  InitZuSmsDB(&second, 2);
  Check(OpenZuSmsDB(first) == 0 && OpenZuSmsDB(second) == 0, "open");
}

#endif  // ZUSMS_TESTS_FUZZ_FUZZSTORE_H_
