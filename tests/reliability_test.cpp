// The store under load, crashes and damaged files: child processes
// (reliability_worker.cpp) work on one file while this process checks it, on
// Linux and under Windows alike (TestPlatform.h starts and kills them).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SmsDatabase.h"
#include "StressWriter.h"
#include "TestDb.h"
#include "TestPlatform.h"
#include "ZuSmsDB.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zusms::testing {
namespace {

std::unique_ptr<ChildProcess> Spawn(const std::vector<std::string>& args) {
  auto child = std::make_unique<ChildProcess>(ProgramBeside("reliability_worker"), args);
  EXPECT_TRUE(child->Started());
  return child;
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(PathOf(path));
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class ReliabilityTest : public DbTest {
 protected:
  std::string Log(const std::string& name) { return dir_.path() + "/" + name; }
  // Every head row as id -> "UserID|uuid hex|content", read at once.
  std::map<uint32_t, std::string> Rows() {
    std::map<uint32_t, std::string> out;
    std::istringstream in(Raw("select id, UserID, lower(hex(uuid)), content from SmsHead"));
    for (std::string line; std::getline(in, line);) {
      const size_t bar = line.find('|');
      out[static_cast<uint32_t>(std::stoul(line.substr(0, bar)))] = line.substr(bar + 1);
    }
    return out;
  }
  void ExpectIntact() { EXPECT_EQ(Raw("pragma integrity_check"), "ok\n"); }
  // Opens user 1's store (creating the file) and adds `count` heads of
  // `length` characters; closes it again.
  void Seed(int count, int length = 0) {
    StoreHandle store;
    ASSERT_EQ(store.opened(), 0) << LastError();
    for (int i = 0; i < count; ++i) {
      SmsHead h{};
      for (int k = 0; k < length; ++k) h.content[k] = static_cast<char16_t>(u'a' + k % 26);
      uint32_t id = 0;
      ASSERT_EQ(AddZuSmsHead(store, &h, &id), 0) << LastError();
    }
  }
};

TEST_F(ReliabilityTest, ProcessesAndThreadsAtOnceHandOutEveryIdAndFolderNumberOnce) {
  constexpr int kProcesses = 4, kThreads = 3, kEach = 200;
  Seed(0);  // the schema, before the crowd arrives
  // Users 1 and 2 in every process, 3 in some: threads of one process and
  // processes race on one user's ids.
  std::vector<std::unique_ptr<ChildProcess>> workers;
  for (int p = 0; p < kProcesses; ++p) {
    workers.push_back(Spawn({"stress", std::to_string(1 + p % 2), std::to_string(kThreads),
                             std::to_string(kEach), Log("w" + std::to_string(p))}));
  }
  std::multimap<uint32_t, StressResult> by_user;
  for (int p = 0; p < kProcesses; ++p) {
    // 0: all went well; 3: a call failed (the result says which and why).
    const int code = workers[p]->Wait(std::chrono::seconds(240));
    EXPECT_TRUE(code == 0 || code == 3) << "worker " << p << " ended with " << code;
    for (int t = 0; t < kThreads; ++t) {
      by_user.emplace(
          1 + p % 2 + t % 2,
          StressResult::Parse(ReadFile(Log("w" + std::to_string(p) + "." + std::to_string(t)))));
    }
  }
  // The file against what the writers of each user report: every live row
  // holds its text and UUID, deleted rows are gone, no id or folder number
  // was handed out twice, folder numbers leave no gap, nothing else is there.
  std::set<uint32_t> ids;
  std::map<uint32_t, size_t> live;
  std::map<uint32_t, std::set<int32_t>> numbers;
  auto rows = Rows();
  for (const auto& [user, r] : by_user) {
    EXPECT_EQ(r.failure, "") << "user " << user;
    for (const auto& [id, row] : r.live) {
      EXPECT_TRUE(ids.insert(id).second) << "id " << id;
      EXPECT_EQ(rows[id], std::to_string(user) + "|" + row.uuid + "|" + row.text);
    }
    for (uint32_t id : r.deleted) EXPECT_TRUE(ids.insert(id).second && !rows.count(id)) << id;
    for (int32_t n : r.folders) EXPECT_TRUE(numbers[user].insert(n).second) << "folder " << n;
    live[user] += r.live.size();
  }
  for (const auto& [user, n] : live) {
    const std::string u = std::to_string(user), f = std::to_string(14 + numbers[user].size());
    EXPECT_EQ(Raw("select count(*) from SmsHead where UserID = " + u), std::to_string(n) + "\n");
    EXPECT_EQ(
        Raw("select count(*), count(distinct FdId), max(FdId) from SmsFolder where UserID=" + u),
        f + "|" + f + "|" + f + "\n");
  }
  ExpectIntact();
  std::printf("[figures] %d processes x %d threads x %d adds, %zu ids checked\n", kProcesses,
              kThreads, kEach, ids.size());
}

// Every thread that calls the library leaves per-thread state behind (its
// last error, the id it drew); threads that come and go by the thousand
// must leave the heap intact. With the mingw-w64 runtime, thread-local
// objects with destructors corrupted it at thread exit (their storage was
// freed before the destructor ran), and a later add crashed or stored
// garbage.
TEST_F(ReliabilityTest, ThousandsOfShortLivedThreadsLeaveTheHeapIntact) {
  constexpr int kRounds = 300, kThreads = 4;
  SetEnv("ZUSMS_SYNC", "normal");  // the threads, not the disk, are under test
  StoreHandle keeper;              // holds the connection open throughout
  ASSERT_EQ(keeper.opened(), 0) << LastError();
  std::atomic<int> failures{0}, overwritten{0};
  std::atomic<bool> done{false};
  // Another thread's memory, of the sizes the library's per-thread state
  // takes, checked all along.
  std::thread bystander([&] {
    while (!done) {
      std::vector<std::vector<unsigned char>> blocks;
      for (size_t size = 16; size <= 256; size += 8) blocks.emplace_back(size, 0x5A);
      for (const auto& b : blocks)
        overwritten += std::count(b.begin(), b.end(), 0x5A) != std::ssize(b);
    }
  });
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&failures, &keeper, round, t] {
        const StressResult r =
            RunStressWriter(keeper, "r" + std::to_string(round) + "t" + std::to_string(t), 1);
        // A failure leaves a last error in this thread.
        if (!r.failure.empty() || UpdateZuSmsHead(keeper, nullptr) == 0) ++failures;
      });
    }
    for (auto& th : threads) th.join();
  }
  done = true;
  bystander.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(overwritten, 0);
  EXPECT_EQ(Raw("select count(*) from SmsHead"), std::to_string(kRounds * kThreads) + "\n");
  UnsetEnv("ZUSMS_SYNC");
}

TEST_F(ReliabilityTest, AddsSurviveTheAdderBeingKilledTenTimesAndAtMostTheLastIsUnreported) {
  constexpr int kKills = 10;
  std::mt19937 rng(20261206);
  size_t logged = 0;
  for (int kill_round = 0; kill_round < kKills; ++kill_round) {
    const auto adder = Spawn({"crash", Log("crash")});
    // Kill at a random moment after the adder has made progress: a fixed delay
    // alone kills a slow (loaded, sanitized) adder before its first add.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Lines(Log("crash")).size() <= logged && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 320));
    adder->Kill();
    // Every add that returned is there, whole, and the file is sound.
    const auto lines = Lines(Log("crash"));
    ASSERT_GT(lines.size(), logged) << "round " << kill_round << " added nothing";
    logged = lines.size();
    auto rows = Rows();
    for (const std::string& line : lines) {
      const size_t bar = line.find('|');
      ASSERT_EQ(rows[std::stoul(line.substr(0, bar))], line.substr(bar + 1)) << kill_round;
    }
    EXPECT_LE(rows.size(), logged + kill_round + 1) << "adds that never returned";
    ExpectIntact();
  }
  // And adding goes on.
  Seed(1);
  std::printf("[figures] %d kills survived, %zu logged adds all present, 0 lost\n", kKills, logged);
}

TEST_F(ReliabilityTest, TheFirstAddOfAProcessBesideABatchFinishes) {
  // -1: the two adds waited for each other.
  EXPECT_EQ(Spawn({"firstadd"})->Wait(std::chrono::seconds(120)), 0);
  EXPECT_EQ(Raw("select count(*) from SmsHead"), "2\n");
}

TEST_F(ReliabilityTest, DamagedFilesFailToOpenAndStayAsTheyWere) {
  Seed(300, 600);
  const std::string whole = ReadFile(file_);
  ASSERT_GT(whole.size(), 100000u);
  const std::string garbage(50000, '\x5a');
  for (const std::string& damaged :
       {whole.substr(0, whole.size() / 2), garbage, whole.substr(0, 60)}) {
    std::ofstream(PathOf(file_), std::ios::binary | std::ios::trunc) << damaged;
    StoreHandle store;
    EXPECT_GT(store.opened(), 0);  // SQLite's code: not a database, or corrupt
    EXPECT_NE(LastError(), "");
    EXPECT_EQ(ReadFile(file_), damaged);
  }
}

// A new file cut while SQLite switched it to WAL: page 1 (zeros) on disk, a
// hot journal of a file of no pages beside it. Windows reads the journal's
// magic number through its own code.
TEST_F(ReliabilityTest, AFileCutWhileItsJournalWasHotOpensAfterTheRollback) {
  const unsigned char header[28] = {
      0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7,                  // magic
      0,    0,    0,    0,    0x94, 0x37, 0x4b, 0xcd,                  // no pages, nonce
      0,    0,    0,    0,    0,    0,    0x02, 0,    0, 0, 0x10, 0};  // sizes
  std::string journal(512, '\0');
  std::copy(std::begin(header), std::end(header), journal.begin());
  std::ofstream(PathOf(file_), std::ios::binary) << std::string(4096, '\0');
  std::ofstream(PathOf(file_ + "-journal"), std::ios::binary) << journal;
  Seed(1, 1);
  EXPECT_FALSE(std::ifstream(PathOf(file_ + "-journal")).good());
  EXPECT_EQ(Raw("select content from SmsHead"), "a\n");
  ExpectIntact();
}

TEST_F(ReliabilityTest, ProcessesOpeningAFreshFileAtOnceCreateItOnce) {
  const std::string go = Log("go");
  std::vector<std::unique_ptr<ChildProcess>> workers;
  for (int p = 0; p < 6; ++p) workers.push_back(Spawn({"open", go}));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::ofstream(PathOf(go)) << "go";
  for (auto& w : workers) EXPECT_EQ(w->Wait(std::chrono::seconds(120)), 0);
  EXPECT_EQ(
      Raw("select (select count(*) from tbl_zu_sms_ver), (select count(*) from "
          "mimer_databanks), count(*), count(distinct FdId), min(FdId), max(FdId) from SmsFolder"),
      "1|1|14|14|1|14\n");
  ExpectIntact();
}

#ifdef _WIN32
// Another program (a backup tool, an indexer) holding the file without
// sharing write access while the store opens: the open is refused with the
// reason rather than handing out a connection that refuses every change, and
// once the file is let go the store opens and writes, later stores too.
TEST_F(ReliabilityTest, AFileHeldWithoutWriteSharingIsRefusedNotOpenedReadOnly) {
  Seed(0);
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
#endif

}  // namespace
}  // namespace zusms::testing
