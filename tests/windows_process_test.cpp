// Windows' forms of the multi-process tests: a writer killed in the middle
// of its adds, and a file held by another program. SQLite locks files
// differently on Windows than with POSIX locks; these show that the store's
// promises hold there too (several writers at once: stress_test.cpp).
// Worker: tests/windows_worker.cpp, killed with TerminateProcess.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SmsDatabase.h"
#include "TestDb.h"
#include "TestPlatform.h"
#include "ZuSmsDB.h"

namespace zusms::testing {
namespace {

struct Logged {
  uint32_t user;
  uint32_t id;
  std::string text;
};

std::vector<Logged> ReadLog(const std::string& path) {
  std::vector<Logged> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    Logged entry{};
    if (fields >> entry.user >> entry.id >> entry.text) out.push_back(entry);
  }
  return out;
}

class WindowsProcessTest : public DbTest {
 protected:
  // Every logged add is in the store, read back through the library.
  void ExpectAllThere(const std::vector<Logged>& logged) {
    std::map<uint32_t, SmsDatabase> stores;
    for (const Logged& entry : logged) {
      auto [it, fresh] = stores.try_emplace(entry.user, entry.user);
      if (fresh) {
        ASSERT_EQ(it->second.Open(), 0) << LastError();
      }
      SmsHead head{};
      ASSERT_EQ(it->second.GetSmsHead(entry.id, head), 0) << LastError();
      EXPECT_EQ(head.id, static_cast<int32_t>(entry.id));
      EXPECT_EQ(engine::ToUtf8(head.content), entry.text);
    }
    for (auto& [user, store] : stores) store.Close();
  }
};

TEST_F(WindowsProcessTest, AWriterKilledInTheMiddleOfItsAddsLosesNoReportedAdd) {
  constexpr int kRounds = 4;
  const std::string log = dir_.path() + "/crash.log";
  for (int round = 1; round <= kRounds; ++round) {
    ChildProcess worker(ProgramBeside("windows_worker"), {"crash", log});
    ASSERT_TRUE(worker.Started());
    // Killed once it has reported ten more adds, or after a bounded wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadLog(log).size() < static_cast<size_t>(round * 10) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    worker.Kill();
  }
  const std::vector<Logged> logged = ReadLog(log);
  ASSERT_GE(logged.size(), static_cast<size_t>(kRounds * 10));
  ExpectAllThere(logged);

  // At most one add per kill went through without being reported.
  SmsDatabase store(1);
  ASSERT_EQ(store.Open(), 0) << LastError();
  uint32_t n = 0;
  EXPECT_EQ(store.GetSmsHeadCount(n), 0);
  EXPECT_GE(n, logged.size());
  EXPECT_LE(n, logged.size() + kRounds);
  store.Close();
  std::cout << logged.size() << " reported adds over " << kRounds << " kills, " << n
            << " heads stored\n";
}

// Another program (a backup tool, an indexer) holding the file without
// sharing write access while the store opens: the open is refused with the
// reason rather than handing out a connection that refuses every change, and
// once the file is let go the store opens and writes, later stores too.
TEST_F(WindowsProcessTest, AFileHeldWithoutWriteSharingIsRefusedNotOpenedReadOnly) {
  {
    SmsDatabase store(1);
    ASSERT_EQ(store.Open(), 0) << LastError();
    store.Close();
  }
  const HANDLE holder = CreateFileW(PathOf(file_).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  SmsDatabase store(1);
  EXPECT_NE(store.Open(), 0);
  EXPECT_NE(LastError().find("another program holds the file"), std::string::npos) << LastError();
  CloseHandle(holder);

  ASSERT_EQ(store.Open(), 0) << LastError();
  SmsHead head{};
  head.fid = 1;
  uint32_t id = 0;
  EXPECT_EQ(store.AddSmsHead(head, id), 0) << LastError();
  SmsDatabase later(2);
  ASSERT_EQ(later.Open(), 0) << LastError();
  SmsPhrase phrase{};
  EXPECT_EQ(later.AddSmsPhrase(phrase, id), 0) << LastError();
  later.Close();
  store.Close();
}

}  // namespace
}  // namespace zusms::testing
