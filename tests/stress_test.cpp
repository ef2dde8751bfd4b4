// Many writers on one file at once, as threads of one process and as
// processes: every id an add returns reads back the very record that add
// wrote (text and UUID), no id is handed out twice, every update and delete
// lands, and nothing else is in the file. Each writer (StressWriter.h) reads
// its adds back at once; a failed call is reported with its status and
// reason, a worker's record goes to a file of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "SmsDatabase.h"
#include "StressWriter.h"
#include "TestDb.h"
#include "TestPlatform.h"

namespace zusms::testing {
namespace {

class StressTest : public DbTest {
 protected:
  // Checks the file against what the writers of each user report.
  void ExpectStoreHolds(const std::multimap<uint32_t, StressResult>& results) {
    std::set<uint32_t> ids;
    std::map<uint32_t, size_t> live_per_user;
    for (const auto& [user, r] : results) {
      EXPECT_EQ(r.failure, "") << "user " << user;
      for (const auto& [id, row] : r.live) {
        EXPECT_TRUE(ids.insert(id).second) << "id " << id << " handed out twice";
      }
      for (uint32_t id : r.deleted) {
        EXPECT_TRUE(ids.insert(id).second) << "id " << id << " handed out twice";
      }
      live_per_user[user] += r.live.size();
    }
    for (const auto& [user, expected] : live_per_user) {
      SmsDatabase* store = nullptr;
      ASSERT_EQ(InitZuSmsDB(&store, user), 0);
      ASSERT_EQ(OpenZuSmsDB(store), 0) << LastError();
      uint32_t n = 0;
      EXPECT_EQ(GetZuSmsHeadCount(store, &n), 0);
      EXPECT_EQ(n, expected) << "user " << user;
      auto [from, to] = results.equal_range(user);
      for (auto it = from; it != to; ++it) {
        for (const auto& [id, row] : it->second.live) {
          SmsHead back{};
          ASSERT_EQ(GetZuSmsHead(store, id, &back), 0) << LastError();
          EXPECT_EQ(back.id, static_cast<int32_t>(id));
          EXPECT_EQ(engine::ToUtf8(back.content), row.text) << "id " << id;
          EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.uuid), 16), row.uuid)
              << "id " << id;
        }
        for (uint32_t id : it->second.deleted) {
          SmsHead back{};
          ASSERT_EQ(GetZuSmsHead(store, id, &back), 0) << LastError();
          EXPECT_EQ(back.id, 0) << "deleted id " << id << " still there";
        }
      }
      CloseZuSmsDB(store);
      UninitZuSmsDB(store);
    }
  }
};

TEST_F(StressTest, ThreadsAddUpdateAndDeleteAndEachAddGetsItsOwnId) {
  constexpr int kThreads = 8, kEach = 500;
  std::vector<StressResult> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&results, t] {
      // Two users, each store of its own opening the process's connection.
      SmsDatabase* store = nullptr;
      InitZuSmsDB(&store, 1 + t % 2);
      if (OpenZuSmsDB(store) != 0) {
        results[t].failure = "open failed";
      } else {
        results[t] = RunStressWriter(store, "t" + std::to_string(t), kEach);
        CloseZuSmsDB(store);
      }
      UninitZuSmsDB(store);
    });
  }
  for (auto& th : threads) th.join();
  std::multimap<uint32_t, StressResult> by_user;
  for (int t = 0; t < kThreads; ++t) by_user.emplace(1 + t % 2, std::move(results[t]));
  ExpectStoreHolds(by_user);
}

// Every thread that calls the library leaves per-thread state behind (its
// last error, the id it drew); threads that come and go by the thousand
// must leave the heap intact. With the mingw-w64 runtime, thread-local
// objects with destructors corrupted it at thread exit (their storage was
// freed before the destructor ran), and a later add crashed or stored
// garbage.
TEST_F(StressTest, ThousandsOfShortLivedThreadsLeaveTheHeapIntact) {
  constexpr int kRounds = 300, kThreads = 4;
  SmsDatabase* keeper = nullptr;  // holds the connection open throughout
  ASSERT_EQ(InitZuSmsDB(&keeper, 1), 0);
  ASSERT_EQ(OpenZuSmsDB(keeper), 0) << LastError();
  std::atomic<int> failures{0}, overwritten{0};
  std::atomic<bool> done{false};
  // Another thread's memory, of the sizes the library's per-thread state
  // takes, checked all along.
  std::thread bystander([&] {
    while (!done) {
      std::vector<std::unique_ptr<unsigned char[]>> blocks;
      for (size_t size = 16; size <= 256; size += 8) {
        blocks.emplace_back(new unsigned char[size]);
        std::memset(blocks.back().get(), 0x5A, size);
      }
      for (size_t i = 0; i < blocks.size(); ++i) {
        for (size_t k = 0; k < 16 + 8 * i; ++k) {
          if (blocks[i][k] != 0x5A) {
            ++overwritten;
            break;
          }
        }
      }
    }
  });
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&failures, keeper, round, t] {
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
  uint32_t n = 0;
  EXPECT_EQ(GetZuSmsHeadCount(keeper, &n), 0);
  EXPECT_EQ(n, static_cast<uint32_t>(kRounds * kThreads));
  CloseZuSmsDB(keeper);
  UninitZuSmsDB(keeper);
}

TEST_F(StressTest, ProcessesAddUpdateAndDeleteOnOneFileAndEachAddGetsItsOwnId) {
  constexpr int kEach = 200;
  // Two processes for user 1, one each for users 2 and 3.
  const std::vector<uint32_t> users = {1, 1, 2, 3};
  {
    // The file and its schema exist before the workers race for it.
    SmsDatabase store(1);
    ASSERT_EQ(store.Open(), 0) << LastError();
    store.Close();
  }
  std::vector<std::unique_ptr<ChildProcess>> workers;
  for (size_t w = 0; w < users.size(); ++w) {
    workers.push_back(std::make_unique<ChildProcess>(
        ProgramBeside("stress_worker"),
        std::vector<std::string>{std::to_string(users[w]), std::to_string(kEach),
                                 "w" + std::to_string(w), dir_.path() + "/w" + std::to_string(w)}));
    ASSERT_TRUE(workers.back()->Started());
  }
  std::multimap<uint32_t, StressResult> by_user;
  for (size_t w = 0; w < users.size(); ++w) {
    // 0: all went well; 3: a call failed (the result says which and why);
    // anything else: the worker could not report.
    const int code = workers[w]->Wait(std::chrono::seconds(240));
    std::ifstream in(PathOf(dir_.path() + "/w" + std::to_string(w)), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    StressResult r = StressResult::Parse(text.str());
    EXPECT_TRUE(code == 0 || code == 3) << "worker " << w << " ended with " << code;
    EXPECT_EQ(code == 3, !r.failure.empty()) << "worker " << w;
    by_user.emplace(users[w], std::move(r));
  }
  ExpectStoreHolds(by_user);
}

}  // namespace
}  // namespace zusms::testing
