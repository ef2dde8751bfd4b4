// Power cuts: a child works on the stores of two users through the simulator
// (PowerCut.h) until the power goes; this process then opens the store as the
// next start would and checks what the durability setting promises. Full:
// every operation that returned 0 is there, whole; the one in flight whole or
// absent; nothing that failed or rolled back. Normal: the same but for a
// suffix of the commits. Both: the file is sound, every batch whole or
// absent, no folder number taken twice. Figures go to stdout.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "PowerCut.h"
#include "SmsDatabase.h"
#include "TestDb.h"

namespace zusms::testing {
namespace {

namespace fs = std::filesystem;

// What the workload writes into a record follows from a number, its tag,
// which the record's text begins with ("t123;"): a row read back is
// recognised by it and checked field by field.
template <size_t N>
void Put(char16_t (&field)[N], const std::u16string& text) {
  const size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.begin(), n, field);
  field[n] = 0;
}

std::u16string Tagged(uint32_t tag) { return u"t" + engine::ToUtf16(std::to_string(tag)) + u";"; }

uint32_t TagOf(const char16_t* text) {
  unsigned tag = 0;
  std::sscanf(engine::ToUtf8(text).c_str(), "t%u;", &tag);
  return tag;
}

SmsHead MakeHead(uint32_t tag) {
  SmsHead h{};
  std::mt19937 r(tag);
  h.index = static_cast<int16_t>(r() % 100);
  h.type = static_cast<int16_t>(r() % 4);
  h.fid = static_cast<int32_t>(1 + r() % 14);
  h.batid = static_cast<int32_t>(r());
  Put(h.createtime, engine::ToUtf16("20260" + std::to_string(100000000 + r() % 99999999)));
  Put(h.tel, engine::ToUtf16("+86138" + std::to_string(r())));
  Put(h.name, u"\u5f20\u4f1f " + engine::ToUtf16(std::to_string(tag)));
  Put(h.recvtime, engine::ToUtf16("20261" + std::to_string(100000000 + r() % 99999999)));
  // Up to 660 characters, some of three UTF-8 bytes: rows of very different
  // sizes, some filling most of a page.
  std::u16string content = Tagged(tag);
  for (size_t n = r() % 650; n > 0; --n)
    content += r() % 3 ? static_cast<char16_t>(u'a' + r() % 26)
                       : static_cast<char16_t>(0x4e00 + r() % 500);
  Put(h.content, content);
  h.privmode = static_cast<int16_t>(r() % 2);
  h.ccid = static_cast<int16_t>(r() % 3);
  h.lockflag = static_cast<int16_t>(r() % 2);
  h.oldfid = static_cast<int32_t>(r() % 20);
  h.impt = static_cast<int16_t>(r() % 2);
  h.longsms = static_cast<int16_t>(r() % 5);
  Put(h.operid, u"op" + engine::ToUtf16(std::to_string(r() % 1000)));
  for (auto& b : h.uuid) b = static_cast<uint8_t>(r());
  h.uuid[6] = static_cast<uint8_t>(0x40 | (h.uuid[6] & 0x0f));  // version 4
  h.uuid[8] = static_cast<uint8_t>(0x80 | (h.uuid[8] & 0x3f));  // the RFC variant
  return h;
}

SmsFolder MakeFolder(uint32_t tag) {
  SmsFolder f{};
  Put(f.fname, Tagged(tag) + u"\u6587\u4ef6\u5939");
  f.password = static_cast<int16_t>(tag % 2);
  f.privmode = static_cast<int16_t>(tag % 3);
  return f;
}

// A row read back holds the record its tag made, every field (but the id and
// a folder's number, which the store gives).
template <typename Record>
bool AsMade(const Record& got, Record made) {
  made.id = got.id;
  if constexpr (std::is_same_v<Record, SmsFolder>) made.FdId = got.FdId;
  return std::memcmp(&made, &got, sizeof got) == 0;
}

// The store's contents: a tag (and a folder's number) per row; no default folders.
enum Family : uint8_t { kHead, kFolder };
using Key = std::tuple<Family, uint32_t /*user*/, uint32_t /*id*/>;
struct Row {
  uint32_t tag = 0;
  int32_t number = 0;  // a folder's FdId
  bool operator==(const Row&) const = default;
};
struct State {
  std::map<Key, Row> rows;
  // Added by the operation that had not returned: its id is not known.
  std::vector<std::tuple<Family, uint32_t, uint32_t /*tag*/>> unknown_ids;
};

// Every expected row, and besides them exactly the rows of unknown id.
bool Matches(const State& actual, const State& expected) {
  auto unknown = expected.unknown_ids;
  for (const auto& [key, row] : actual.rows) {
    auto it = std::ranges::find(unknown, std::tuple{std::get<0>(key), std::get<1>(key), row.tag});
    if (!expected.rows.contains(key) && it != unknown.end()) unknown.erase(it);
  }
  return unknown.empty() &&
         actual.rows.size() == expected.rows.size() + expected.unknown_ids.size() &&
         std::ranges::all_of(expected.rows, [&](const auto& e) {
           auto it = actual.rows.find(e.first);
           return it != actual.rows.end() && it->second == e.second;
         });
}

// What the child did, in memory it shares with this process.
enum class Kind : uint8_t {
  kAddHead,
  kUpdateHead,
  kDeleteHead,
  kAddFolder,  // the folders' kinds: from here to kDeleteFolder
  kRenameFolder,
  kDeleteFolder,
  kRefusedAdd
};
Family FamilyOf(Kind k) {
  return k >= Kind::kAddFolder && k <= Kind::kDeleteFolder ? kFolder : kHead;
}
enum class Returned : uint8_t { kNotYet, kZero, kFailure };
// A unit is one commit: a single operation, or a batch.
enum class Fate : uint8_t {
  kBuilding,    // a batch whose commit was not called: absent
  kCommitting,  // the commit (or the single operation) had not returned: whole or absent
  kCommitted,   // returned 0
  kAbandoned    // rolled back, or failed: absent
};
struct Op {
  Kind kind;
  Returned returned;
  uint32_t user, unit, id, tag;
  int32_t number;
};
constexpr size_t kMaxOps = 400, kMaxUnits = 200;
struct Log {
  char failure[512];  // the child could not work
  uint32_t ops_count, units_count;
  Op ops[kMaxOps];
  Fate units[kMaxUnits];
  uint64_t events;  // counted up to the end of a workload that was not cut
  powercut::CutReport report;
};

// What an operation does to the store's contents.
void Apply(State& state, const Op& op) {
  const Family family = FamilyOf(op.kind);
  const Key key{family, op.user, op.id};
  if (op.kind == Kind::kAddHead || op.kind == Kind::kAddFolder) {
    if (op.returned == Returned::kZero) state.rows[key] = {op.tag, op.number};
    if (op.returned != Returned::kZero) state.unknown_ids.emplace_back(family, op.user, op.tag);
  } else if (op.kind == Kind::kUpdateHead || op.kind == Kind::kRenameFolder) {
    state.rows[key].tag = op.tag;
  } else if (op.kind != Kind::kRefusedAdd) {
    state.rows.erase(key);
  }
}

// The workload: a random sequence of single operations and batches on the
// stores of users 1 and 2, logged before each call and after it returns.
class Workload {
 public:
  Workload(Log& log, State view, uint32_t first_tag, uint64_t seed)
      : log_(log), view_(std::move(view)), tag_(first_tag), random_(seed) {}

  void Run(int units) {
    for (SmsDatabase& store : stores_)
      if (store.Open() != 0) Fail("Open failed");
    // Checkpoints every few pages instead of every thousand: cuts fall
    // inside them and right after the log starts over.
    sqlite3_wal_autocheckpoint(engine::Connection::Default().Db(), 8);
    for (int u = 0; u < units && log_.ops_count + 8 < kMaxOps; ++u) {
      if (random_() % 8 == 0) {
        Batch();
        continue;
      }
      const uint32_t unit = NewUnit(Fate::kCommitting);
      log_.units[unit] = Do(unit) ? Fate::kCommitted : Fate::kAbandoned;
    }
  }

 private:
  void Batch() {
    const uint32_t unit = NewUnit(Fate::kBuilding);
    const State saved = view_;
    if (stores_[0].BeginBatch() != 0) Fail("BeginBatch failed");
    for (int n = 2 + random_() % 5; n > 0; --n) Do(unit);
    const bool rollback = random_() % 5 == 0;
    log_.units[unit] = rollback ? Fate::kAbandoned : Fate::kCommitting;
    if (rollback && stores_[0].RollbackBatch() != 0) Fail("RollbackBatch failed");
    const bool committed = !rollback && stores_[0].CommitBatch() == 0;
    log_.units[unit] = committed ? Fate::kCommitted : Fate::kAbandoned;
    if (!committed) view_ = saved;
  }

  // One operation of a random kind; true when it returned 0.
  bool Do(uint32_t unit) {
    const uint32_t user = 1 + random_() % 2;
    SmsDatabase& store = stores_[user - 1];
    const int r = random_() % 100;
    Kind kind = r < 35   ? Kind::kAddHead
                : r < 55 ? Kind::kUpdateHead
                : r < 70 ? Kind::kDeleteHead
                : r < 80 ? Kind::kAddFolder
                : r < 87 ? Kind::kRenameFolder
                : r < 94 ? Kind::kDeleteFolder
                         : Kind::kRefusedAdd;
    const Family family = FamilyOf(kind);
    const Key* target = nullptr;
    if (kind != Kind::kAddHead && kind != Kind::kAddFolder && kind != Kind::kRefusedAdd) {
      target = Pick(family, user);
      if (!target) kind = family == kHead ? Kind::kAddHead : Kind::kAddFolder;
    }
    Op& op = log_.ops[log_.ops_count++];
    op = Op{kind, Returned::kNotYet, user, unit, target ? std::get<2>(*target) : 0, ++tag_, 0};
    SmsHead h = MakeHead(op.tag);
    SmsFolder f = MakeFolder(op.tag);
    h.id = f.id = static_cast<int32_t>(op.id);
    // A time text that fills its field leaves no terminating zero: refused.
    if (kind == Kind::kRefusedAdd) std::fill(std::begin(h.recvtime), std::end(h.recvtime), u'9');
    const int32_t status = kind == Kind::kAddHead || kind == Kind::kRefusedAdd
                               ? store.AddSmsHead(h, op.id)
                           : kind == Kind::kAddFolder    ? store.AddSmsFolder(f, op.id)
                           : kind == Kind::kUpdateHead   ? store.UpdateSmsHead(h)
                           : kind == Kind::kRenameFolder ? store.UpdateSmsFolder(f)
                           : kind == Kind::kDeleteHead   ? store.DeleteSmsHead(op.id)
                                                         : store.DeleteSmsFolder(op.id);
    op.number = f.FdId;  // a new folder's
    op.returned = status == 0 ? Returned::kZero : Returned::kFailure;
    if (status == 0) Apply(view_, op);
    return status == 0;
  }

  const Key* Pick(Family family, uint32_t user) {
    std::vector<const Key*> keys;
    for (const auto& [key, row] : view_.rows)
      if (std::get<0>(key) == family && std::get<1>(key) == user) keys.push_back(&key);
    return keys.empty() ? nullptr : keys[random_() % keys.size()];
  }

  uint32_t NewUnit(Fate fate) {
    log_.units[log_.units_count] = fate;
    return log_.units_count++;
  }

  // Ends the child, with the reason in the log.
  [[noreturn]] void Fail(const char* what) {
    std::snprintf(log_.failure, sizeof log_.failure, "%s: %s", what,
                  engine::ToUtf8(engine::LastError()).c_str());
    _exit(1);
  }

  SmsDatabase stores_[2] = {SmsDatabase(1), SmsDatabase(2)};
  Log& log_;
  State view_;
  uint32_t tag_;
  std::mt19937_64 random_;
};

struct Figures {
  int cuts = 0, fresh = 0, early = 0, uncut = 0, process_only = 0;
  int ops_checked = 0, ops_lost = 0;  // returned 0 before the cut; of those, absent
  int in_flight_kept = 0, in_flight_lost = 0, commits_lost = 0;
  unsigned long long sectors_pending = 0, sectors_arrived = 0, names_pending = 0, names_undone = 0;
};

class PowerCutTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    // The simulator keeps the disk's state itself: real syncs only cost time,
    // least on a file system in memory.
    const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
    std::string pattern = (base / "zusms-powercut-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = fs::canonical(pattern).string();
    // The store makes the folders of its default path, inside the root.
    UnsetEnv("ZUSMS_DB");
    file_ = root_ + "/data/zusms/zuSms.dbf";
    setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
    log_ = static_cast<Log*>(
        mmap(nullptr, sizeof(Log), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(log_, MAP_FAILED);
  }
  void TearDown() override {
    munmap(log_, sizeof(Log));
    fs::remove_all(root_);
    unsetenv("XDG_DATA_HOME");
    unsetenv("ZUSMS_SYNC");
    DbTest::TearDown();
  }

  // Cuts the power ZUSMS_POWER_CUTS times (fewer if ZUSMS_POWER_CUT_SECONDS
  // run out first) and checks each time what the setting promises. The store
  // must really run through the simulator, cuts fall inside commits, and the
  // simulator lose unsynced writes, else every check here passes vacuously.
  Figures Run(const char* sync) {
    setenv("ZUSMS_SYNC", sync, 1);
    full_ = std::strcmp(sync, "full") == 0;
    Figures fig;
    State state;
    uint64_t longest[2] = {0, 0};  // events of a whole workload: on a fresh store, on a kept one
    std::mt19937_64 random(full_ ? 1 : 2);
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(ZUSMS_POWER_CUT_SECONDS);
    for (int cut = 0; cut < ZUSMS_POWER_CUTS && std::chrono::steady_clock::now() < end; ++cut) {
      // Of every ten cuts, the first two start from no file and lose the
      // power at one of the store's first eight events in turn (while SQLite
      // switches the new file to WAL through a rollback journal). The third
      // starts from no file too, and the store it leaves is kept by the
      // seven after it. The power goes at a random event of the workload,
      // or after it. At normal, every fifth cut ends only the process: then
      // nothing that returned may be lost either.
      const bool early = cut % 10 < 2;
      const bool fresh = cut % 10 <= 2;
      if (fresh) {
        fs::remove_all(root_ + "/data");
        state = State{};
        ++fig.fresh;
        fig.early += early;
      }
      const uint64_t cut_at = early            ? 1 + (cut / 10 * 2 + cut % 10) % 8
                              : longest[fresh] ? 1 + random() % (longest[fresh] + 8)
                                               : 0;
      const auto loss = !full_ && cut % 5 == 4 ? powercut::Loss::kProcess : powercut::Loss::kPower;
      strict_ = full_ || loss == powercut::Loss::kProcess;
      fig.process_only += loss == powercut::Loss::kProcess;
      const uint64_t seed = random();
      std::memset(static_cast<void*>(log_), 0, sizeof(Log));
      const pid_t pid = fork();
      if (pid == 0) {
        powercut::Arm(root_, cut_at, seed, loss, &log_->report);
        Workload(*log_, state, static_cast<uint32_t>(cut) * 1000, seed).Run(40);
        log_->events = powercut::Events();
        powercut::CutNow();
      }
      int status = 0;
      waitpid(pid, &status, 0);
      const std::string where = std::string(sync) + " cut " + std::to_string(cut) + " (cut_at " +
                                std::to_string(cut_at) + ", seed " + std::to_string(seed) + ")";
      if (!WIFEXITED(status) || WEXITSTATUS(status) != powercut::kCutStatus) {
        ADD_FAILURE() << where << ": the child ended with status " << status << ": "
                      << log_->failure;
        break;
      }
      if (log_->events) {
        longest[fresh] = std::max(longest[fresh], log_->events);
        ++fig.uncut;
      }
      ++fig.cuts;
      fig.sectors_pending += log_->report.sectors_pending;
      fig.sectors_arrived += log_->report.sectors_arrived;
      fig.names_pending += log_->report.names_pending;
      fig.names_undone += log_->report.names_undone;
      if (const auto checked = Check(state, fig); !checked) {
        ADD_FAILURE() << checked.message() << " at " << where;
        break;
      }
    }
    std::printf(
        "cuts at %s: %d (%d on a fresh store, %d of them in its first events, %d after the last "
        "operation, %d of the process alone); %d operations returned 0 before a cut, %d of them "
        "lost (%d commits); the operation in flight kept %d times, lost %d times; %llu unsynced "
        "sector writes, %llu of them reached the disk; %llu unsynced names, %llu undone\n",
        sync, fig.cuts, fig.fresh, fig.early, fig.uncut, fig.process_only, fig.ops_checked,
        fig.ops_lost, fig.commits_lost, fig.in_flight_kept, fig.in_flight_lost, fig.sectors_pending,
        fig.sectors_arrived, fig.names_pending, fig.names_undone);
    EXPECT_GT(fig.sectors_pending, fig.sectors_arrived);
    EXPECT_GT(fig.in_flight_kept + fig.in_flight_lost, 0);
    return fig;
  }

  // Opens the store as the next start of the program would and compares it
  // with what the child's log allows; `state` becomes what the store holds.
  ::testing::AssertionResult Check(State& state, Figures& fig) {
    SmsDatabase stores[2] = {SmsDatabase(1), SmsDatabase(2)};
    for (SmsDatabase& store : stores)
      if (store.Open() != 0) return Failed() << "the store does not open: " << Error();
    const std::string integrity = Raw("PRAGMA integrity_check");
    auto read = integrity == "ok\n" ? Read(stores) : Failed() << integrity;
    for (SmsDatabase& store : stores) store.Close();
    return read ? Compare(state, fig) : read;
  }
  static ::testing::AssertionResult Failed() { return ::testing::AssertionFailure(); }
  static std::string Error() { return engine::ToUtf8(engine::LastError()); }

  // Every row of both users into `actual_`: each whole, no folder number twice.
  ::testing::AssertionResult Read(SmsDatabase (&stores)[2]) {
    actual_ = State{};
    for (uint32_t user = 1; user <= 2; ++user) {
      SmsDatabase& store = stores[user - 1];
      uint32_t count = 0, n = 0;
      std::vector<SmsHead> heads;
      std::vector<SmsFolder> folders;
      const bool read =
          store.GetSmsHeadCount(count) == 0 &&
          (heads.resize(count), store.GetAllSmsHead(heads.data(), count, n) == 0) && n == count &&
          store.GetSmsFolderCount(count) == 0 &&
          (folders.resize(count), store.GetAllSmsFolder(folders.data(), count, n) == 0) &&
          n == count;
      if (!read) return Failed() << "reading user " << user << ": " << Error();
      for (const SmsHead& h : heads) {
        const uint32_t tag = TagOf(h.content);
        if (!AsMade(h, MakeHead(tag)))
          return Failed() << "message " << h.id
                          << " is not as written: " << engine::ToUtf8(h.content);
        actual_.rows[{kHead, user, static_cast<uint32_t>(h.id)}] = {tag, 0};
      }
      std::set<int32_t> numbers;
      for (const SmsFolder& f : folders) {
        if (!numbers.insert(f.FdId).second)
          return Failed() << "user " << user << " has two folders numbered " << f.FdId;
        if (f.system == 1) continue;  // a default folder
        const uint32_t tag = TagOf(f.fname);
        if (!AsMade(f, MakeFolder(tag)))
          return Failed() << "folder " << f.id << " is not as written: " << engine::ToUtf8(f.fname);
        actual_.rows[{kFolder, user, static_cast<uint32_t>(f.id)}] = {tag, f.FdId};
      }
    }
    return ::testing::AssertionSuccess();
  }

  // The states the store may be in: what it held before, then after each
  // commit in turn. Full, and any setting after a crash of the process alone,
  // allow only the last (with or without the commit that had not returned);
  // normal allows any.
  ::testing::AssertionResult Compare(State& state, Figures& fig) {
    std::vector<State> states = {state};
    std::vector<int> returned_ops = {0};  // operations that returned 0, up to each state
    size_t committed = 0;
    bool in_flight = false;
    for (uint32_t unit = 0; unit < log_->units_count; ++unit) {
      const Fate fate = log_->units[unit];
      if (fate == Fate::kBuilding || fate == Fate::kAbandoned) continue;
      State next = states.back();
      int ops = returned_ops.back();
      for (uint32_t i = 0; i < log_->ops_count; ++i) {
        const Op& op = log_->ops[i];
        // A refused add that was stored anyway fails Read (its time differs).
        if (op.unit != unit || op.returned == Returned::kFailure || op.kind == Kind::kRefusedAdd)
          continue;
        ops += op.returned == Returned::kZero;
        Apply(next, op);
      }
      committed += fate == Fate::kCommitted;
      in_flight |= fate != Fate::kCommitted;  // only the last unit can be in flight
      states.push_back(std::move(next));
      returned_ops.push_back(ops);
    }
    // The newest state that matches (at full: the last commit's or the one in flight).
    int match = -1;
    for (int j = static_cast<int>(states.size()) - 1; j >= 0 && match < 0; --j) {
      if (strict_ && static_cast<size_t>(j) < committed) break;
      if (Matches(actual_, states[j])) match = j;
    }
    if (match < 0) {
      return Failed() << "the store holds none of the states the setting allows; " << committed
                      << " commits had returned, " << (in_flight ? "one" : "none")
                      << " was in flight; rows found: " << actual_.rows.size()
                      << ", before the workload: " << state.rows.size()
                      << ", after the last commit: " << states[committed].rows.size();
    }
    fig.ops_checked += returned_ops[committed];
    fig.ops_lost += returned_ops[committed] - returned_ops[std::min<size_t>(match, committed)];
    fig.commits_lost += static_cast<int>(committed) - std::min<int>(match, committed);
    if (in_flight)
      (static_cast<size_t>(match) > committed ? fig.in_flight_kept : fig.in_flight_lost)++;
    state = actual_;
    return ::testing::AssertionSuccess();
  }

  std::string root_;
  bool full_ = true;
  bool strict_ = true;  // every commit that returned must be there
  Log* log_ = nullptr;
  State actual_;
};

TEST_F(PowerCutTest, FullKeepsEveryOperationThatReturned) { EXPECT_EQ(Run("full").ops_lost, 0); }

TEST_F(PowerCutTest, NormalLosesOnlyTheLastCommits) { Run("normal"); }

}  // namespace
}  // namespace zusms::testing
