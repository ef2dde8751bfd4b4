// The store at its edges. Every fault runs in a forked child whose alarm
// bounds it in time.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <utility>

#include "TestDb.h"
#include "ZuSmsDB.h"

namespace zusms::testing {
namespace {

constexpr uid_t kNobody = 65534;

// Inside a child: prints the condition and last error; the line is the status.
#define CHILD_CHECK(condition)                                                             \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      std::fprintf(stderr, "%s:%d: %s (last error: %s)\n", __FILE__, __LINE__, #condition, \
                   engine::ToUtf8(engine::LastError()).c_str());                           \
      return __LINE__ % 250 + 1;                                                           \
    }                                                                                      \
  } while (0)

// A forked child, as `user` when this runs as root (root ignores file modes).
// InChild returns its status: 0 when every check held, 128 + the signal
// when it was killed (the alarm ends a child that hangs).
pid_t ForkAs(uid_t user) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(30);
    if (user != geteuid() && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0))
      _exit(99);
  }
  return pid;
}

int InChild(uid_t user, const std::function<int()>& check) {
  const pid_t pid = ForkAs(user);
  if (pid == 0) _exit(check());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int FilesOf(const std::string& folder, uid_t user) {
  return static_cast<int>(
      std::ranges::count_if(std::filesystem::directory_iterator(folder), [&](const auto& entry) {
        struct stat st {};
        return lstat(entry.path().c_str(), &st) == 0 && st.st_uid == user;
      }));
}

bool ErrorSays(const std::string& what) {
  return engine::ToUtf8(engine::LastError()).find(what) != std::string::npos;
}

uint32_t Count(SmsDatabase* store) {
  uint32_t n = 0;
  return GetZuSmsHeadCount(store, &n) == 0 ? n : UINT32_MAX;
}

int32_t AddHead(SmsDatabase* store, const std::u16string& text) {
  SmsHead h{};
  text.copy(h.content, std::size(h.content) - 1);
  uint32_t id = 0;
  return AddZuSmsHead(store, &h, &id);
}

class EdgeTest : public DbTest {
 protected:
  // User 1's store with `count` heads, closed again.
  void Seed(int count) {
    StoreHandle store;
    ASSERT_EQ(store.opened(), 0) << LastError();
    for (int i = 0; i < count; ++i) ASSERT_EQ(AddHead(store, u"seed"), 0) << LastError();
  }
  // A folder under the test's own that `nobody` owns (when this runs as root).
  std::string FolderFor(const std::string& name, bool unprivileged, mode_t mode = 0700) {
    const std::string path = dir_.path() + "/" + name;
    mkdir(path.c_str(), mode);
    chmod(path.c_str(), mode);
    if (unprivileged && geteuid() == 0 && chown(path.c_str(), kNobody, kNobody) != 0)
      ADD_FAILURE() << "cannot hand " << path << " to nobody";
    chmod(dir_.path().c_str(), 0711);  // others may pass through, not list
    return path;
  }
};

TEST_F(EdgeTest, PathsThatAreNotRegularFilesFailAtOnce) {
  const std::string fifo = dir_.path() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir_.path() + "/folder";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const auto& c : {std::pair<std::string, const char*>{fifo, "FIFO"},
                        {"/dev/null", "device"},
                        {folder, "folder"}}) {
    setenv("ZUSMS_DB", c.first.c_str(), 1);
    const auto refused = [&] {
      StoreHandle store;
      CHILD_CHECK(store.opened() != 0 && ErrorSays(c.second) && ErrorSays(c.first));
      return 0;
    };
    EXPECT_EQ(InChild(geteuid(), refused), 0) << c.first;
  }
}

// New folders 0700 and files 0600 under the umask 0277, for the default path
// and through a dangling link (its target is made, as SQLite does).
int MakePrivateFiles(const std::string& base) {
  umask(0277);
  unsetenv("ZUSMS_DB");
  setenv("XDG_DATA_HOME", (base + "/data").c_str(), 1);
  const std::string link = base + "/link.dbf", target = base + "/target.dbf";
  for (int round = 0; round < 2; ++round) {
    if (round == 1) {
      CHILD_CHECK(symlink(target.c_str(), link.c_str()) == 0);
      setenv("ZUSMS_DB", link.c_str(), 1);
    }
    const std::string file = round == 0 ? base + "/data/zusms/zuSms.dbf" : target;
    for (uint32_t open = 1; open <= 2; ++open) {
      StoreHandle store;
      CHILD_CHECK(store.opened() == 0 && AddHead(store, u"private") == 0 && Count(store) == open);
      for (const char* suffix : {"", "-wal", "-shm"}) CHILD_CHECK(FileMode(file + suffix) == 0600u);
    }
    CHILD_CHECK(round == 1 ||
                (FileMode(base + "/data") == 0700u && FileMode(base + "/data/zusms") == 0700u));
  }
  struct stat st {};
  CHILD_CHECK(lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
  return 0;
}

TEST_F(EdgeTest, NewFilesAndFoldersArePrivateWhateverTheUmaskAndTheLink) {
  for (const bool unprivileged : {false, true}) {
    const std::string base = FolderFor(unprivileged ? "nobody" : "owner", unprivileged);
    EXPECT_EQ(InChild(unprivileged ? kNobody : geteuid(), [&] { return MakePrivateFiles(base); }),
              0)
        << (unprivileged ? "as nobody" : "as this user");
  }
}

int ReadOnlyStore(bool may_open) {
  StoreHandle store;
  if (!may_open) return store.opened() != 0 && ErrorSays("read-only") ? 0 : 1;
  uint32_t ids[8], n = 0;
  SmsHead h{};
  CHILD_CHECK(store.opened() == 0 && GetAllZuSmsHeadID(store, ids, 8, &n) == 0 && n == 3);
  CHILD_CHECK(GetZuSmsHead(store, ids[0], &h) == 0);
  // Without the table of unread heads (an older file), every head reads as read.
  int32_t read = 0;
  CHILD_CHECK(GetZuSmsHeadRead(store, ids[0], &read) == 0 && read == 1);
  CHILD_CHECK(GetZuSmsUnreadHeadCount(store, &n) == 0 && n == 0);
  CHILD_CHECK(AddHead(store, u"refused") == -1 && ErrorSays("read-only"));
  CHILD_CHECK(Count(store) == 3);
  // No settings table: none is set.
  uint32_t length = 1;
  CHILD_CHECK(GetZuSmsSetting(store, u"region", nullptr, 0, &length) == 100 && length == 0);
  CHILD_CHECK(SetZuSmsSetting(store, u"region", u"CN") == -1);
  CHILD_CHECK(StoreHandle(7).opened() != 0);
  return 0;
}

TEST_F(EdgeTest, AStoreThatCannotBeWrittenIsReadAndNothingIsWritten) {
  struct Case {
    const char* name;
    mode_t folder;  // for the child's user
    bool log_left;  // a -shm file lies beside the file
    bool opens;
  };
  // A read-only file in a writable folder and in a read-only folder (read
  // as unchanging, no file made); beside a -shm file alone (refused).
  for (const Case& c : {Case{"file", 0777, false, true}, Case{"folder", 0755, false, true},
                        Case{"shm", 0755, true, false}}) {
    const std::string folder = FolderFor(c.name, false, 0700);
    file_ = folder + "/zuSms.dbf";
    setenv("ZUSMS_DB", file_.c_str(), 1);
    Seed(3);
    // A file of an older version: a read-only open must not add what it lacks.
    Raw("DROP TABLE tbl_zu_sms_setting; DROP TABLE zu_head_unread; DROP INDEX "
        "SmsHead_fid_user_ctime; DROP INDEX SmsHead_fid_user_rtime");
    if (c.log_left) std::ofstream(file_ + "-shm") << "";
    chmod(file_.c_str(), 0644);
    chmod(folder.c_str(), c.folder);
    const std::string before = ReadFile(file_);
    EXPECT_EQ(InChild(kNobody, [&] { return ReadOnlyStore(c.opens); }), 0) << c.name;
    EXPECT_EQ(ReadFile(file_), before) << c.name;
    EXPECT_EQ(FilesOf(folder, kNobody), 0) << c.name;
    chmod(folder.c_str(), 0700);
    unlink((file_ + "-shm").c_str());
    StoreHandle store;
    ASSERT_EQ(store.opened(), 0) << LastError();
    EXPECT_EQ(AddHead(store, u"owner"), 0) << LastError();
    EXPECT_EQ(Count(store), 4u);
    EXPECT_EQ(SetZuSmsSetting(store, u"region", u"CN"), 0) << LastError();
  }
}

int BatchOnAFullDisk() {
  StoreHandle store;
  CHILD_CHECK(store.opened() == 0);
  const uint32_t before = Count(store);
  // A small page cache makes the batch write its pages out while it runs,
  // so the full disk strikes inside the batch rather than at its commit.
  {
    auto& c = engine::Connection::Default();
    std::lock_guard lock(c.Mutex());
    CHILD_CHECK(sqlite3_exec(c.Db(), "PRAGMA cache_size=8", nullptr, nullptr, nullptr) == 0);
  }
  signal(SIGXFSZ, SIG_IGN);
  struct stat st {};
  stat(getenv("ZUSMS_DB"), &st);
  rlimit full{static_cast<rlim_t>(st.st_size) + 256 * 1024, RLIM_INFINITY};
  CHILD_CHECK(setrlimit(RLIMIT_FSIZE, &full) == 0);

  for (const bool commit : {true, false}) {
    CHILD_CHECK(BeginZuSmsBatch(store) == 0);
    int added = 0;  // long adds until the file size limit refuses one
    while (added < 5000 && AddHead(store, std::u16string(600, u'f')) == 0) ++added;
    CHILD_CHECK(added > 0 && added < 5000);
    // The batch is over: whatever follows in it fails and says so; a rollback ends it.
    CHILD_CHECK(AddHead(store, u"after") == -1 && ErrorSays("batch failed"));
    uint32_t n = 0;
    CHILD_CHECK(GetZuSmsHeadCount(store, &n) == -1);
    CHILD_CHECK(commit ? CommitZuSmsBatch(store) == -1 && ErrorSays("batch failed")
                       : RollbackZuSmsBatch(store) == 0);
    CHILD_CHECK(Count(store) == before);
  }
  // Single adds, until the disk refuses one and says why: those that returned stay.
  uint32_t single = 0;
  while (single < 5000 && AddHead(store, std::u16string(600, u's')) == 0) ++single;
  CHILD_CHECK(single > 0 && single < 5000 && !engine::LastError().empty());
  CHILD_CHECK(Count(store) == before + single);
  rlimit lifted{RLIM_INFINITY, RLIM_INFINITY};
  CHILD_CHECK(setrlimit(RLIMIT_FSIZE, &lifted) == 0);
  CHILD_CHECK(AddHead(store, u"after the disk was freed") == 0);
  CHILD_CHECK(CloseZuSmsDB(store) == 0 && OpenZuSmsDB(store) == 0);
  CHILD_CHECK(Count(store) == before + single + 1);
  return 0;
}

// Answered for each read SQLite refuses while the log's index is being made.
constexpr uint32_t kRefused = UINT32_MAX - 2;
int g_refusals_to = -1;
void TellRefusal(void*, int code, const char*) {
  if ((code == SQLITE_READONLY_RECOVERY || code == SQLITE_READONLY_CANTINIT) &&
      write(g_refusals_to, &kRefused, sizeof kRefused) != sizeof kRefused)
    _exit(98);
}

// A child as `user` on user 1's store that answers each request with
// `step`'s number (UINT32_MAX - 1 when the open failed); with
// `tell_refusals`, also kRefused for each refusal SQLite logs.
class Worker {
 public:
  Worker(uid_t user, uint32_t (*step)(SmsDatabase*), bool tell_refusals = false) {
    int ask[2], answer[2];
    if (pipe(ask) != 0 || pipe(answer) != 0) ADD_FAILURE() << "no pipe";
    pid_ = ForkAs(user);
    if (pid_ == 0) {
      // Only its own pipes: another worker's end of a pipe held here would
      // keep that worker from ever seeing its requests end.
      for (int fd = 3; fd < 1024; ++fd)
        if (fd != ask[0] && fd != answer[1]) close(fd);
      if (tell_refusals) {
        g_refusals_to = answer[1];
        sqlite3_shutdown();  // the parent's connections are all closed
        if (sqlite3_config(SQLITE_CONFIG_LOG, &TellRefusal, nullptr) != SQLITE_OK) _exit(97);
      }
      {
        StoreHandle store;
        if (store.opened() != 0)
          std::fprintf(stderr, "open: %s\n", engine::ToUtf8(engine::LastError()).c_str());
        for (char c; read(ask[0], &c, 1) == 1;) {
          const uint32_t n = store.opened() == 0 ? step(store) : UINT32_MAX - 1;
          if (write(answer[1], &n, sizeof n) != sizeof n) break;
        }
      }
      _exit(0);
    }
    close(ask[0]);
    close(answer[1]);
    ask_ = ask[1];
    answer_ = answer[0];
  }
  ~Worker() { Stop(); }
  void Send() const { EXPECT_EQ(write(ask_, "?", 1), 1); }
  uint32_t Ask() const {
    Send();
    return Answer();
  }
  uint32_t Answer() const {
    uint32_t n = UINT32_MAX;
    return read(answer_, &n, sizeof n) == sizeof n ? n : UINT32_MAX;
  }
  int Stop(bool kill = false) {
    if (pid_ <= 0) return -1;
    if (kill) ::kill(pid_, SIGKILL);
    close(ask_);
    close(answer_);
    int status = 0;
    waitpid(std::exchange(pid_, -1), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int ask_ = -1, answer_ = -1;
};

uint32_t AddOne(SmsDatabase* store) { return AddHead(store, u"owner") == 0 ? Count(store) : 0; }

// Counts in a batch that stays open until the next request: a long read.
uint32_t CountHeld(SmsDatabase* store) {
  static bool held = false;
  if (held) CommitZuSmsBatch(store);
  held = BeginZuSmsBatch(store) == 0;
  return Count(store);
}

// The store closed, open (its -wal and -shm) and left by a killed owner; a
// long read is not written under; the reader makes no file. In a sticky
// folder and in the owner's own folder, which the reader cannot write.
TEST_F(EdgeTest, AReaderOfAnotherUserSeesEveryCommitAndNeverStopsTheOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
  constexpr uid_t kOwner = 1001;
  for (const uid_t user : {kOwner, kNobody})
    if (InChild(user, [] { return 0; }) == 99) GTEST_SKIP() << "setuid(" << user << ") failed";
  for (const mode_t mode : {01777, 0755}) {
    SCOPED_TRACE(mode);
    const std::string folder = FolderFor(std::to_string(mode), false, mode);
    ASSERT_EQ(chown(folder.c_str(), mode == 0755 ? kOwner : 0, 0), 0);
    file_ = folder + "/zuSms.dbf";
    setenv("ZUSMS_DB", file_.c_str(), 1);
    {
      Worker seed(kOwner, &AddOne);
      for (uint32_t i = 1; i <= 3; ++i) ASSERT_EQ(seed.Ask(), i);
      ASSERT_EQ(seed.Stop(), 0);
    }
    ASSERT_EQ(chmod(file_.c_str(), 0644), 0);
    Worker reader(kNobody, &Count);
    ASSERT_EQ(reader.Ask(), 3u);
    EXPECT_EQ(Worker(kOwner, &AddOne).Ask(), 4u);
    EXPECT_EQ(reader.Ask(), 4u);
    // The owner's last close leaves the file alone while a read is under way.
    Worker held(kNobody, &CountHeld);
    EXPECT_EQ(held.Ask(), 4u);
    const std::string before = ReadFile(file_);
    EXPECT_EQ(Worker(kOwner, &AddOne).Ask(), 5u);
    EXPECT_TRUE(ReadFile(file_) == before) << "the owner's close wrote the file under a read";
    EXPECT_EQ(held.Ask(), 5u);
    Worker owner(kOwner, &AddOne);
    EXPECT_EQ(owner.Ask(), 6u);
    EXPECT_EQ(reader.Ask(), 6u);
    {
      Worker joined(kNobody, &Count);
      EXPECT_EQ(joined.Ask(), 6u);
      EXPECT_EQ(owner.Ask(), 7u);
      EXPECT_EQ(joined.Ask(), 7u);
      joined.Send();
      EXPECT_EQ(joined.Stop(true), 128 + SIGKILL);
    }
    EXPECT_EQ(held.Stop(true), 128 + SIGKILL);
    EXPECT_EQ(reader.Ask(), 7u);
    reader.Send();
    EXPECT_EQ(reader.Stop(true), 128 + SIGKILL);
    EXPECT_EQ(owner.Ask(), 8u);
    // The owner killed too: its -wal and -shm stay, and a reader reads them.
    EXPECT_EQ(owner.Stop(true), 128 + SIGKILL);
    EXPECT_EQ(Worker(kNobody, &Count).Ask(), 8u);
    EXPECT_EQ(FilesOf(folder, kNobody), 0);
    // The owner's last close takes its -wal and -shm files away again.
    EXPECT_EQ(Worker(kOwner, &AddOne).Ask(), 9u);
    EXPECT_NE(access((file_ + "-wal").c_str(), F_OK), 0);
    EXPECT_NE(access((file_ + "-shm").c_str(), F_OK), 0);
  }
}

constexpr uint32_t kBusy = UINT32_MAX - 3;
uint32_t CountOrBusy(SmsDatabase* store) {
  const uint32_t n = Count(store);
  return n == UINT32_MAX && IsZuSmsLastErrorBusy() ? kBusy : n;
}

// Another program of the owner (the sqlite3 shell) writes in rollback mode
// and spills part of its transaction into the file: the reader is refused as
// busy, then reads the commit.
TEST_F(EdgeTest, AReaderOfARollbackModeStoreNeverReadsAHalfWrittenCommit) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  if (InChild(kNobody, [] { return 0; }) == 99) GTEST_SKIP() << "setuid(nobody) failed";
  Seed(3);
  ASSERT_EQ(chmod(file_.c_str(), 0644), 0);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0711), 0);
  sqlite3* owner = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &owner), SQLITE_OK);
  const auto exec = [&](const char* sql) {
    EXPECT_EQ(sqlite3_exec(owner, sql, nullptr, nullptr, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(owner);
  };
  exec("PRAGMA journal_mode=DELETE; PRAGMA cache_size=10");
  Worker reader(kNobody, &CountOrBusy);
  EXPECT_EQ(reader.Ask(), 3u);
  exec("BEGIN; DELETE FROM SmsHead; CREATE TABLE pad (x); INSERT INTO pad VALUES (zeroblob(1e6))");
  EXPECT_EQ(reader.Ask(), kBusy);
  exec("COMMIT");
  EXPECT_EQ(reader.Ask(), 0u);
  sqlite3_close(owner);
  EXPECT_EQ(FilesOf(dir_.path(), kNobody), 0);
}

// While the owner's connection makes the log's index (at its open, or
// recovering a killed process's log) SQLite refuses reads: the reader waits,
// at its open as at a later read. The index is unmade here by hand and made
// by the owner's next read once the reader was refused.
TEST_F(EdgeTest, AReaderWaitsWhileItsOwnerMakesTheLogsIndex) {
  if (InChild(kNobody, [] { return 0; }) == 99) GTEST_SKIP() << "setuid(nobody) failed";
  Seed(3);
  ASSERT_EQ(chmod(file_.c_str(), 0644), 0);  // its -wal and -shm files take its mode
  ASSERT_EQ(chmod(dir_.path().c_str(), 0711), 0);
  Worker owner(geteuid(), &Count);
  ASSERT_EQ(owner.Ask(), 3u);                // they are made
  ASSERT_EQ(chmod(file_.c_str(), 0444), 0);  // the reader cannot write the store
  const auto unmake = [&] {
    const int fd = open((file_ + "-shm").c_str(), O_WRONLY | O_CLOEXEC);
    const char zeros[136] = {};  // both copies of the index's header, and its read marks
    EXPECT_EQ(pwrite(fd, zeros, sizeof zeros, 0), static_cast<ssize_t>(sizeof zeros));
    close(fd);
  };
  // The reader's answer to a request, the index made at its first refusal.
  const auto answer_once_made = [&](const Worker& reader) {
    reader.Send();
    uint32_t n = reader.Answer(), refusals = 0;
    for (; n == kRefused; n = reader.Answer())
      if (refusals++ == 0) {
        EXPECT_EQ(owner.Ask(), 3u);
      }
    EXPECT_GT(refusals, 0u) << "the read was never refused";
    return n;
  };
  unmake();
  Worker reader(geteuid() == 0 ? kNobody : geteuid(), &Count, true);
  EXPECT_EQ(answer_once_made(reader), 3u);  // refused at its open
  unmake();
  EXPECT_EQ(answer_once_made(reader), 3u);  // refused at a read
}

TEST_F(EdgeTest, ABatchThatAFullDiskEndedIsWhollyAbsentAndRefusedAddsLoseNothing) {
  Seed(5);
  EXPECT_EQ(InChild(geteuid(), BatchOnAFullDisk), 0);
  EXPECT_EQ(Raw("pragma integrity_check"), "ok\n");
}

// Another thread's commit or rollback is refused at once, not left waiting.
int CommitFromAnotherThread() {
  StoreHandle store;
  CHILD_CHECK(store.opened() == 0 && BeginZuSmsBatch(store) == 0 && AddHead(store, u"mine") == 0);
  bool refused = false;
  std::thread([&] {
    refused =
        CommitZuSmsBatch(store) == -1 && ErrorSays("thread") && RollbackZuSmsBatch(store) == -1;
  }).join();
  CHILD_CHECK(refused && CommitZuSmsBatch(store) == 0 && Count(store) == 1);
  return 0;
}

TEST_F(EdgeTest, OnlyTheThreadThatBeganABatchEndsIt) {
  Seed(0);
  EXPECT_EQ(InChild(geteuid(), CommitFromAnotherThread), 0);
}

}  // namespace
}  // namespace zusms::testing
