// What the store promises under load, crashes, full disks and damaged files,
// shown with child processes (tests/reliability_worker.cpp) that work on one
// file while this process checks it. Each test states its figures on stdout.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestDb.h"
#include "ZuSmsDB.h"

namespace zusms::testing {
namespace {

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(ZUSMS_RELIABILITY_WORKER));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    execv(ZUSMS_RELIABILITY_WORKER, argv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class ReliabilityTest : public DbTest {
 protected:
  std::string Log(const std::string& name) { return dir_.path() + "/" + name; }
  // One row of the head table: "UserID|uuid hex|content", or "" when absent.
  std::string Row(uint32_t id) {
    const std::string r = Raw("select UserID, lower(hex(uuid)), content from SmsHead where id = " +
                              std::to_string(id));
    return r.empty() ? r : r.substr(0, r.size() - 1);
  }
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
  // Opens user 1's store (creating the file) and adds `count` heads whose
  // content is `length` characters of `fill`; closes it again.
  void Seed(int count, int length, char16_t fill) {
    SmsDatabase* store = nullptr;
    InitZuSmsDB(&store, 1);
    ASSERT_EQ(OpenZuSmsDB(store), 0);
    for (int i = 0; i < count; ++i) {
      SmsHead h{};
      for (int k = 0; k < length; ++k) h.content[k] = static_cast<char16_t>(fill + k % 26);
      uint32_t id = 0;
      ASSERT_EQ(AddZuSmsHead(store, &h, &id), 0);
    }
    CloseZuSmsDB(store);
    UninitZuSmsDB(store);
  }
};

TEST_F(ReliabilityTest, ProcessesAndThreadsAtOnceLoseNothingAndMixNothing) {
  constexpr int kProcesses = 4, kThreads = 3, kOps = 1000;
  Seed(0, 0, u'a');  // the schema, before the crowd arrives
  std::vector<pid_t> pids;
  for (int p = 0; p < kProcesses; ++p) {
    pids.push_back(
        Spawn({"ops", file_, std::to_string(p % 2 + 1), std::to_string(kThreads),
               std::to_string(kOps), Log("ops" + std::to_string(p)), std::to_string(p + 1)}));
  }
  for (pid_t pid : pids) EXPECT_EQ(Wait(pid), 0) << "a worker saw an operation fail";

  std::map<uint32_t, std::string> expected;  // id -> "user|uuid|content"
  std::map<uint32_t, std::set<int32_t>> numbers;
  std::set<uint32_t> ids;
  size_t operations = 0;
  for (int p = 0; p < kProcesses; ++p) {
    const std::string user = std::to_string(p % 2 + 1);
    for (const std::string& line : Lines(Log("ops" + std::to_string(p)))) {
      ++operations;
      std::istringstream in(line);
      std::string op, uuid, text;
      uint32_t id = 0;
      in >> op >> id;
      if (op == "A") {
        in >> uuid >> text;
        EXPECT_TRUE(ids.insert(id).second) << "id " << id << " handed out twice";
        expected[id] = user + "|" + uuid + "|" + text;
      } else if (op == "U") {
        in >> text;
        std::string& row = expected[id];
        row = row.substr(0, row.rfind('|') + 1) + text;
      } else if (op == "D") {
        expected.erase(id);
      } else if (op == "F") {
        int32_t number = 0;
        in >> number;
        EXPECT_TRUE(numbers[static_cast<uint32_t>(std::stoul(user))].insert(number).second)
            << "folder number " << number << " twice";
      } else {
        ADD_FAILURE() << line;
      }
    }
  }
  const auto rows = Rows();
  for (const auto& [id, row] : expected) {
    const auto it = rows.find(id);
    EXPECT_TRUE(it != rows.end() && it->second == row) << id << " should be " << row;
  }
  for (uint32_t id : ids) {
    if (!expected.count(id)) {
      EXPECT_EQ(rows.count(id), 0u) << "deleted " << id << " is back";
    }
  }
  for (const std::string user : {"1", "2"}) {
    size_t mine = 0;
    for (const auto& [id, row] : expected) mine += row.rfind(user + "|", 0) == 0;
    EXPECT_EQ(Raw("select count(*) from SmsHead where UserID = " + user),
              std::to_string(mine) + "\n");
    EXPECT_EQ(Raw("select count(*) - count(distinct FdId) from SmsFolder where UserID = " + user),
              "0\n");
  }
  ExpectIntact();
  std::printf("[figures] %d processes x %d threads, %zu logged operations, %zu rows checked\n",
              kProcesses, kThreads, operations, expected.size());
}

TEST_F(ReliabilityTest, AddsSurviveTheAdderBeingKilledTenTimes) {
  std::mt19937 rng(20261206);
  size_t logged = 0;
  for (int kill_round = 0; kill_round < 10; ++kill_round) {
    const pid_t pid = Spawn({"crash", file_, Log("crash")});
    // Kill at a random moment after the adder has made progress: a fixed delay
    // alone kills a slow (loaded, sanitized) adder before its first add.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Lines(Log("crash")).size() <= logged && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 320));
    kill(pid, SIGKILL);
    Wait(pid);
    // Every add that returned is there, whole, and the file is sound.
    const auto lines = Lines(Log("crash"));
    ASSERT_GT(lines.size(), logged) << "round " << kill_round << " added nothing";
    logged = lines.size();
    const auto rows = Rows();
    for (const std::string& line : lines) {
      std::istringstream in(line);
      uint32_t id = 0;
      std::string uuid, text;
      in >> id >> uuid >> text;
      const auto it = rows.find(id);
      ASSERT_TRUE(it != rows.end() && it->second == "1|" + uuid + "|" + text)
          << "round " << kill_round << ": " << line;
    }
    ExpectIntact();
  }
  // And adding goes on.
  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, 1);
  ASSERT_EQ(OpenZuSmsDB(store), 0);
  SmsHead h{};
  uint32_t id = 0;
  EXPECT_EQ(AddZuSmsHead(store, &h, &id), 0);
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
  std::printf("[figures] 10 kills survived, %zu logged adds all present, 0 lost\n", logged);
}

TEST_F(ReliabilityTest, AFullDiskRefusesAddsAndKeepsWhatWasStored) {
  Seed(20, 1, u'k');
  const std::string before = Raw("select id, content from SmsHead order by id");
  struct stat st {};
  stat(file_.c_str(), &st);
  // No file of the store may grow beyond 256 KiB more than the file is now.
  const pid_t pid = Spawn({"fill", file_, std::to_string(st.st_size + 256 * 1024), Log("fill")});
  EXPECT_EQ(Wait(pid), 0) << "the add was not refused cleanly";
  const auto added = Lines(Log("fill"));
  EXPECT_GT(added.size(), 10u);
  // Lifted: everything from before and every add that returned 0 is there.
  EXPECT_EQ(Raw("select id, content from SmsHead where content = 'k' order by id"), before);
  for (const std::string& line : added) {
    const uint32_t id = static_cast<uint32_t>(std::stoul(line));
    EXPECT_EQ(Row(id).substr(0, 2), "1|") << id;
  }
  ExpectIntact();
  std::printf("[figures] file size limit hit after %zu adds, 0 rows lost\n", added.size());
}

TEST_F(ReliabilityTest, AReadOnlyFileRefusesChangesAndSaysWhy) {
  Seed(1, 1, u'k');
  // A file of a version before the query indexes and the read state: a
  // read-only open must not make them.
  Raw("DROP INDEX SmsHead_fid_user_ctime; DROP INDEX SmsHead_fid_user_rtime; DROP TABLE "
      "zu_head_unread");
  const std::string before = ReadFile(file_);
  // Readable by anyone, writable by no one; the worker also drops root.
  chmod(dir_.path().c_str(), 0555);
  chmod(file_.c_str(), 0444);
  EXPECT_EQ(Wait(Spawn({"readonly", file_})), 0);
  chmod(dir_.path().c_str(), 0700);
  chmod(file_.c_str(), 0600);
  EXPECT_EQ(ReadFile(file_), before);
  EXPECT_EQ(Raw("select content from SmsHead"), "k\n");
  EXPECT_EQ(Raw("select count(*) from sqlite_schema where name like 'SmsHead_fid_user_%'"), "0\n");
}

TEST_F(ReliabilityTest, TheFirstAddOfAProcessBesideABatchFinishes) {
  // The worker's alarm ends it after 20 s if the two adds wait for each other.
  EXPECT_EQ(Wait(Spawn({"firstadd", file_})), 0);
  EXPECT_EQ(Raw("select count(*) from SmsHead"), "2\n");
}

TEST_F(ReliabilityTest, DamagedFilesFailToOpenAndStayAsTheyWere) {
  Seed(300, 600, u'a');
  const std::string whole = ReadFile(file_);
  ASSERT_GT(whole.size(), 100000u);
  const std::string garbage(50000, '\x5a');
  for (const std::string& damaged :
       {whole.substr(0, whole.size() / 2), garbage, whole.substr(0, 60)}) {
    {
      std::ofstream out(file_, std::ios::binary | std::ios::trunc);
      out << damaged;
    }
    SmsDatabase* store = nullptr;
    InitZuSmsDB(&store, 1);
    const int32_t status = OpenZuSmsDB(store);
    char16_t error[256];
    GetZuSmsLastError(error, 256);
    EXPECT_NE(status, 0);
    EXPECT_GT(status, 0);  // SQLite's code: not a database, or corrupt
    EXPECT_GT(std::char_traits<char16_t>::length(error), 0u);
    EXPECT_EQ(ReadFile(file_), damaged);
    UninitZuSmsDB(store);
  }
}

// The state a power cut leaves while SQLite switches a new, empty file to WAL
// through a rollback journal: the journal (recording a file of no pages) is
// synced, page 1 was written but never reached the disk. SQLite rolls the
// journal back on its first read; the file's bytes before that mean nothing.
TEST_F(ReliabilityTest, AFileCutWhileItsJournalWasHotOpensAfterTheRollback) {
  const unsigned char header[28] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7,  // magic
                                    0,    0,    0,    0,                             // no pages
                                    0x94, 0x37, 0x4b, 0xcd,                          // nonce
                                    0,    0,    0,    0,   // the file had no pages
                                    0,    0,    0x02, 0,   // sector size
                                    0,    0,    0x10, 0};  // page size
  std::string journal(512, '\0');
  std::copy(std::begin(header), std::end(header), journal.begin());
  const std::string zeros(4096, '\0');
  auto lay = [&](const std::string& journal_bytes) {
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << zeros;
    std::ofstream(file_ + "-journal", std::ios::binary | std::ios::trunc) << journal_bytes;
  };
  // A journal without its magic covers nothing: the file is refused as it is.
  lay(std::string(512, '\0'));
  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, 1);
  EXPECT_EQ(OpenZuSmsDB(store), 26);  // SQLITE_NOTADB
  EXPECT_EQ(ReadFile(file_), zeros);
  UninitZuSmsDB(store);

  lay(journal);
  InitZuSmsDB(&store, 1);
  ASSERT_EQ(OpenZuSmsDB(store), 0) << LastError();
  uint32_t n = 99;
  EXPECT_EQ(GetZuSmsHeadCount(store, &n), 0);
  EXPECT_EQ(n, 0u);
  SmsHead h{};
  h.content[0] = u'k';
  uint32_t id = 0;
  EXPECT_EQ(AddZuSmsHead(store, &h, &id), 0) << LastError();
  EXPECT_EQ(GetZuSmsHeadCount(store, &n), 0);
  EXPECT_EQ(n, 1u);
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
  EXPECT_FALSE(std::ifstream(file_ + "-journal").good());
  EXPECT_EQ(Raw("select content from SmsHead"), "k\n");
  ExpectIntact();
}

TEST_F(ReliabilityTest, FolderAddersInSeveralProcessesNeverShareANumber) {
  Seed(0, 0, u'a');
  std::vector<pid_t> pids;
  for (int p = 0; p < 4; ++p) {
    pids.push_back(Spawn({"folders", file_, "1", "40", Log("folders")}));
  }
  for (pid_t pid : pids) EXPECT_EQ(Wait(pid), 0);
  std::set<std::string> numbers;
  for (const std::string& n : Lines(Log("folders"))) EXPECT_TRUE(numbers.insert(n).second) << n;
  EXPECT_EQ(numbers.size(), 160u);
  EXPECT_EQ(Raw("select count(*), count(distinct FdId), max(FdId) from SmsFolder where UserID=1"),
            "174|174|174\n");
}

TEST_F(ReliabilityTest, ProcessesOpeningAFreshFileAtOnceCreateItOnce) {
  const std::string go = Log("go");
  std::vector<pid_t> pids;
  for (int p = 0; p < 6; ++p) pids.push_back(Spawn({"open", file_, go}));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::ofstream(go) << "go";
  for (pid_t pid : pids) EXPECT_EQ(Wait(pid), 0);
  EXPECT_EQ(Raw("select count(*) from tbl_zu_sms_ver"), "1\n");
  EXPECT_EQ(Raw("select count(*) from mimer_databanks"), "1\n");
  EXPECT_EQ(Raw("select count(*), count(distinct FdId), min(FdId), max(FdId) from SmsFolder"),
            "14|14|1|14\n");
  ExpectIntact();
}

TEST_F(ReliabilityTest, TheFilesAreTheOwnersAlone) {
  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, 1);
  ASSERT_EQ(OpenZuSmsDB(store), 0);
  for (const std::string suffix : {"", "-wal", "-shm"}) {
    struct stat st {};
    ASSERT_EQ(stat((file_ + suffix).c_str(), &st), 0) << suffix;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << suffix;
  }
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
}

}  // namespace
}  // namespace zusms::testing
