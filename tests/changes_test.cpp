// Changes since a token: partners that replay the change listings must arrive
// at exactly the store's state, whoever wrote the file and however they page;
// tokens that cannot be served say so.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "HexText.h"
#include "TestDb.h"
#include "ZuSmsDB.h"

namespace zusms::testing {
namespace {

std::string Time(const stDateTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

// What a partner holds: of[1] heads as id -> "uuid time", of[0] folders as id -> "".
struct State {
  std::map<uint32_t, std::string> of[2];
  bool operator==(const State&) const = default;
  friend void PrintTo(const State& s, std::ostream* out) {
    for (bool heads : {true, false})
      for (const auto& [id, v] : s.of[heads]) *out << (heads ? "h" : "f") << id << "=" << v << " ";
  }
};

// The store's state for its user, read through the full listings.
State StoreState(SmsDatabase* store) {
  State s;
  uint32_t count = 0, n = 0;
  EXPECT_EQ(GetZuSmsHeadCount(store, &count), 0);
  std::vector<stIDUUID> uuids(count + 1);
  std::vector<stIDModifyTime> times(count + 1);
  EXPECT_EQ(GetAllZuSmsHeadIDUUID(store, uuids.data(), count + 1, &n), 0);
  EXPECT_EQ(n, count);
  for (uint32_t i = 0; i < n; ++i) s.of[1][uuids[i].id] = Hex(uuids[i].uuid);
  EXPECT_EQ(GetAllZuSmsHeadIDModifyTime(store, times.data(), count + 1, &n), 0);
  for (uint32_t i = 0; i < n; ++i) s.of[1][times[i].id] += " " + Time(times[i].modifyTime);
  EXPECT_EQ(GetZuSmsFolderCount(store, &count), 0);
  std::vector<uint32_t> ids(count + 1);
  EXPECT_EQ(GetAllZuSmsFolderID(store, ids.data(), count + 1, &n), 0);
  for (uint32_t i = 0; i < n; ++i) s.of[0][ids[i]] = "";
  return s;
}

// A synchronisation partner of one user: replays the change listings onto
// its copy, in pages of random size.
struct Partner {
  Partner(SmsDatabase* s, uint64_t token, uint32_t largest = 8)
      : store(s), token_{token, token}, largest_page_(largest) {}

  // One synchronisation to the end of the log: 0, or the first other status.
  int32_t Sync(std::mt19937& rng) {
    std::uniform_int_distribution<uint32_t> size(1, largest_page_);
    for (bool heads : {true, false}) {
      for (;;) {
        const uint32_t capacity = size(rng);
        std::vector<stSmsChange> page(capacity + 1);
        page[capacity].id = 0xfeedface;  // never written: beyond the capacity
        uint32_t n = 12345;
        uint64_t next = 0;
        const int32_t rc = (heads ? ListZuSmsHeadChanges : ListZuSmsFolderChanges)(
            store, token_[heads], page.data(), capacity, &n, &next);
        if (rc != 0) return rc;
        EXPECT_LE(n, capacity);
        EXPECT_EQ(page[capacity].id, 0xfeedfaceu);
        std::set<uint32_t> in_page;
        for (uint32_t i = 0; i < n; ++i) {
          const stSmsChange& c = page[i];
          EXPECT_TRUE(in_page.insert(c.id).second) << "record " << c.id << " twice in one page";
          if (!heads) {
            EXPECT_EQ(Hex(c.uuid), std::string(32, '0'));
            EXPECT_EQ(c.modifyTime.year, 0);
          }
          if (c.kind == 2) {
            EXPECT_EQ(c.modifyTime.year, 0);
            state.of[heads].erase(c.id);
          } else {
            EXPECT_EQ(c.kind, 1);
            state.of[heads][c.id] = heads ? Hex(c.uuid) + " " + Time(c.modifyTime) : "";
          }
        }
        token_[heads] = next;
        if (n < capacity) break;
      }
    }
    return 0;
  }

  // Starts over from a full listing, as after ZU_RESYNC.
  void Resync() {
    uint64_t token = 0;
    ASSERT_EQ(GetZuSmsChangeToken(store, &token), 0);
    token_[0] = token_[1] = token;
    state = StoreState(store);
  }

  SmsDatabase* store;
  uint64_t token_[2];  // [1] heads', [0] folders'
  uint32_t largest_page_;
  State state;
};

class ChangesTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    unsetenv("ZUSMS_TOMBSTONE_DAYS");
    for (uint32_t user : {1u, 2u})
      ASSERT_EQ(stores_.try_emplace(user, user).first->second.opened(), 0) << LastError();
  }
  void TearDown() override {
    stores_.clear();
    unsetenv("ZUSMS_TOMBSTONE_DAYS");
    DbTest::TearDown();
  }
  // Closes the stores and the process's connection, for a fresh open.
  void CloseAll() {
    for (auto& [user, store] : stores_) CloseZuSmsDB(store);
    Release();
  }
  // Closes the stores, runs `meanwhile`, opens them again.
  void Reopen(const std::function<void()>& meanwhile = [] {}) {
    for (auto& [user, store] : stores_) CloseZuSmsDB(store);
    meanwhile();
    for (auto& [user, store] : stores_) ASSERT_EQ(OpenZuSmsDB(store), 0) << LastError();
  }
  uint32_t AddHead(uint32_t user, const char16_t* text = u"hello") {
    SmsHead h{};
    h.fid = 1;
    std::memcpy(h.content, text, std::char_traits<char16_t>::length(text) * 2);
    uint32_t id = 0;
    EXPECT_EQ(AddZuSmsHead(stores_[user], &h, &id), 0) << LastError();
    return id;
  }
  uint64_t Token() {
    uint64_t token = 0;
    EXPECT_EQ(GetZuSmsChangeToken(stores_[1], &token), 0) << LastError();
    return token;
  }
  int32_t HeadChanges(uint64_t since, std::vector<stSmsChange>& out, uint64_t* next = nullptr) {
    out.assign(1000, stSmsChange{});
    uint32_t n = 0;
    uint64_t after = 0;
    const int32_t rc = ListZuSmsHeadChanges(stores_[1], since, out.data(), 1000, &n, &after);
    out.resize(rc == 0 ? n : 0);
    if (next) *next = after;
    return rc;
  }
  // Runs SQL through the sqlite3 shell, as another program writing the file would.
  void Shell(const std::string& sql) {
    ++shell_runs_;
    const std::string command = "sqlite3 -cmd '.timeout 5000' " + file_ + " \"" + sql + "\"";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }

  std::map<uint32_t, StoreHandle> stores_;
  int shell_runs_ = 0;
};

TEST_F(ChangesTest, PartnersReplayingFromAnyTokenInAnyPagesArriveAtTheStoresState) {
  std::mt19937 rng(20261206);
  auto pick = [&](size_t n) {
    return std::uniform_int_distribution<uint32_t>(0, static_cast<uint32_t>(n) - 1)(rng);
  };
  auto any_head = [&](uint32_t user, uint32_t* id) {
    auto heads = StoreState(stores_[user]).of[1];
    if (heads.empty()) return false;
    *id = std::next(heads.begin(), pick(heads.size()))->first;
    return true;
  };
  auto user_folder = [&](uint32_t user, uint32_t* id) {
    std::vector<SmsFolder> all(64);
    uint32_t n = 0;
    GetAllZuSmsFolder(stores_[user], all.data(), 64, &n);
    std::vector<uint32_t> mine;
    for (uint32_t i = 0; i < n; ++i)
      if (all[i].system != 1) mine.push_back(static_cast<uint32_t>(all[i].id));
    if (mine.empty()) return false;
    *id = mine[pick(mine.size())];
    return true;
  };

  std::vector<Partner> partners = {Partner(stores_[1], 0), Partner(stores_[2], 0)};
  std::vector<Partner> saved;  // earlier copies, resumed later from their tokens

  int syncs = 0;
  for (int step = 0; step < 500; ++step) {
    const uint32_t user = 1 + pick(2), other = 3 - user;
    SmsDatabase* store = stores_[user];
    uint32_t id = 0;
    const uint32_t op = pick(18);
    if (op <= 2) {
      AddHead(user);
    } else if (op <= 4 && any_head(user, &id)) {  // an edit, or a move to another folder
      SmsHead h{};
      ASSERT_EQ(GetZuSmsHead(store, id, &h), 0);
      if (op == 3) h.content[0] = static_cast<char16_t>(u'a' + pick(26));
      if (op == 4) h.fid = static_cast<int32_t>(1 + pick(14));
      ASSERT_EQ(UpdateZuSmsHead(store, &h), 0);
    } else if (op == 5 && any_head(user, &id)) {
      ASSERT_EQ(DeleteZuSmsHead(store, id), 0);
    } else if (op == 6) {
      SmsFolder f{};
      std::memcpy(f.fname, u"mine", 10);
      uint32_t fid = 0;
      ASSERT_EQ(AddZuSmsFolder(store, &f, &fid), 0);
    } else if (op == 7 && user_folder(user, &id)) {
      SmsFolder f{};
      f.id = static_cast<int32_t>(id);
      std::memcpy(f.fname, u"renamed", 16);
      ASSERT_EQ(UpdateZuSmsFolder(store, &f), 0);
    } else if (op == 8 && user_folder(user, &id)) {
      ASSERT_EQ(DeleteZuSmsFolder(store, id), 0);
    } else if (op == 9 && pick(4) == 0) {
      ASSERT_EQ(DeleteAllZuSmsHead(store), 0);
      ASSERT_EQ(DeleteAllZuSmsFolder(store), 0);
    } else if (op == 10) {  // another program adds a message
      Shell("INSERT INTO SmsHead (UserID, fid, content, uuid, ModifyTime) VALUES (" +
            std::to_string(user) +
            ", 1, 'from the shell', randomblob(16), datetime('now')) RETURNING id;");
    } else if (op == 11 && any_head(user, &id)) {  // ... changes one, with its own conflict clause
      Shell(
          "UPDATE OR IGNORE SmsHead SET content = 'shell edit', ModifyTime = datetime('now', "
          "'+1 second') WHERE id = " +
          std::to_string(id) + ";");
    } else if (op == 12 && any_head(user, &id)) {  // ... replaces one with the other user's
      Shell("INSERT OR REPLACE INTO SmsHead (id, UserID, content, uuid, ModifyTime) VALUES (" +
            std::to_string(id) + ", " + std::to_string(other) +
            ", 'taken over', randomblob(16), datetime('now'));");
    } else if (op == 13 && any_head(user, &id)) {  // ... gives one to the other user
      Shell("UPDATE SmsHead SET UserID = " + std::to_string(other) +
            " WHERE id = " + std::to_string(id) + ";");
    } else if (op == 14 && user_folder(user, &id)) {  // ... deletes or renames a folder
      Shell(pick(2)
                ? "DELETE FROM SmsFolder WHERE id = " + std::to_string(id) + ";"
                : "UPDATE SmsFolder SET fname = 'shell' WHERE id = " + std::to_string(id) + ";");
    } else if (op == 15) {  // a new partner: from the beginning, or after a full listing
      Partner fresh(store, 0);
      if (pick(2)) fresh.Resync();
      partners.push_back(std::move(fresh));
    } else if (op == 16) {  // a copy of a partner, resumed later
      saved.push_back(partners[pick(partners.size())]);
      if (pick(3) == 0) partners.push_back(saved[pick(saved.size())]);
    } else {
      Partner& p = partners[pick(partners.size())];
      ++syncs;
      ASSERT_EQ(p.Sync(rng), 0) << LastError();
      ASSERT_EQ(p.state, StoreState(p.store)) << "step " << step;
    }
  }
  for (Partner& p : partners) {
    ASSERT_EQ(p.Sync(rng), 0) << LastError();
    EXPECT_EQ(p.state, StoreState(p.store));
  }
  EXPECT_GT(shell_runs_, 20);
  EXPECT_GT(syncs, 50);
  EXPECT_GT(partners.size(), 5u);
  // One entry per record of either kind, plus the tombstones: never more.
  EXPECT_EQ(Raw("SELECT count(*) FROM (SELECT family, id, UserID FROM zu_changes GROUP BY 1, 2, 3 "
                "HAVING count(*) > 1)"),
            "0\n");
}

TEST_F(ChangesTest, PagesAndArgumentsKeepTheirContractAndDeleteAllLeavesEachRecordsUuid) {
  for (int i = 0; i < 3; ++i) AddHead(1);
  AddHead(2);
  const uint64_t start = Token();
  const uint32_t a = AddHead(1), b = AddHead(1);
  stSmsChange page[2];
  uint32_t n = 9;
  uint64_t next = 0;
  // Capacity 0: nothing read, the token stays.
  ASSERT_EQ(ListZuSmsHeadChanges(stores_[1], start, page, 0, &n, &next), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(next, start);
  // A full page hands out the last change listed, not the current token.
  ASSERT_EQ(ListZuSmsHeadChanges(stores_[1], start, page, 1, &n, &next), 0);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(page[0].id, a);
  EXPECT_LT(next, Token());
  ASSERT_EQ(ListZuSmsHeadChanges(stores_[1], next, page, 2, &n, &next), 0);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(page[0].id, b);
  EXPECT_EQ(next, Token());
  EXPECT_EQ(ListZuSmsHeadChanges(stores_[1], start, nullptr, 2, &n, &next), -1);
  EXPECT_EQ(ListZuSmsHeadChanges(stores_[1], start, page, 2, nullptr, &next), -1);
  EXPECT_EQ(ListZuSmsFolderChanges(nullptr, start, page, 2, &n, &next), -1);
  EXPECT_EQ(GetZuSmsChangeToken(stores_[1], nullptr), -1);
  // One tombstone per record of the user, each with its record's UUID.
  const uint64_t before = Token();
  const auto live = StoreState(stores_[1]).of[1];  // id -> "uuid time"
  ASSERT_EQ(DeleteAllZuSmsHead(stores_[1]), 0);
  std::vector<stSmsChange> changes;
  ASSERT_EQ(HeadChanges(before, changes), 0);
  ASSERT_EQ(changes.size(), 5u);
  for (const stSmsChange& c : changes) EXPECT_EQ(Hex(c.uuid), live.at(c.id).substr(0, 32));
}

TEST_F(ChangesTest, TokensThatCannotBeServedAskForAFullListing) {
  const uint32_t kept = AddHead(1);  // a record kept throughout
  const uint32_t gone = AddHead(1);
  const uint64_t early = Token();
  ASSERT_EQ(DeleteZuSmsHead(stores_[1], gone), 0);
  const uint64_t late = Token();
  std::vector<stSmsChange> changes;

  // A file restored from an older copy: the token lies ahead of it.
  ASSERT_EQ(Raw("PRAGMA wal_checkpoint(TRUNCATE)").find("error"), std::string::npos);
  const std::string copy = dir_.path() + "/copy.dbf";
  Reopen([&] { std::filesystem::copy_file(file_, copy); });
  AddHead(1);
  const uint64_t ahead = Token();
  Reopen([&] {
    std::filesystem::copy_file(copy, file_, std::filesystem::copy_options::overwrite_existing);
  });
  EXPECT_EQ(HeadChanges(ahead, changes), ZU_RESYNC);
  EXPECT_NE(LastError().find("ahead"), std::string::npos) << LastError();
  ASSERT_EQ(HeadChanges(late, changes), 0);
  EXPECT_TRUE(changes.empty());

  // Tombstones past their time are pruned on open; tokens below them
  // resync, the token that covered the newest one and later ones still serve.
  const uint32_t added = AddHead(1);
  const uint64_t later = Token();
  setenv("ZUSMS_TOMBSTONE_DAYS", "0", 1);
  Reopen();
  EXPECT_EQ(HeadChanges(early, changes), ZU_RESYNC);
  EXPECT_NE(LastError().find("removed"), std::string::npos) << LastError();
  ASSERT_EQ(HeadChanges(late, changes), 0) << LastError();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].id, added);
  ASSERT_EQ(HeadChanges(later, changes), 0);
  EXPECT_TRUE(changes.empty());
  EXPECT_EQ(Raw("SELECT count(*) FROM zu_changes WHERE kind = 2"), "0\n");  // none at the mark
  // From the beginning still gives the whole present state.
  ASSERT_EQ(HeadChanges(0, changes), 0);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].id, kept);
  EXPECT_EQ(changes[1].id, added);

  // A log that lost a part (a trigger dropped by hand) is made anew on open,
  // with a new epoch: old tokens resync, every record is listed as added.
  Shell("DROP TRIGGER zu_changes_SmsHead_delete;");
  Reopen();
  EXPECT_EQ(HeadChanges(late, changes), ZU_RESYNC);
  EXPECT_NE(LastError().find("another file"), std::string::npos) << LastError();
  ASSERT_EQ(HeadChanges(0, changes), 0);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].kind, 1);

  // A state row removed by another program: the next writable open makes
  // the log anew, rather than every call resyncing for ever.
  const uint64_t before_loss = Token();
  Shell("DELETE FROM zu_change_state;");
  EXPECT_EQ(HeadChanges(before_loss, changes), ZU_RESYNC);
  Reopen();
  EXPECT_EQ(HeadChanges(before_loss, changes), ZU_RESYNC);
  ASSERT_EQ(HeadChanges(Token(), changes), 0) << LastError();
}

TEST_F(ChangesTest, APassFromTheBeginningCompletesInSmallPagesAfterAPrune) {
  // Live entries on both sides of the tombstones, the newest change a
  // deletion: after the prune, most live entries lie below the mark.
  std::vector<uint32_t> ids;
  for (int i = 0; i < 12; ++i) ids.push_back(AddHead(i % 3 ? 1 : 2));
  const uint64_t asleep = Token();
  for (size_t i = 1; i < ids.size(); i += 3) ASSERT_EQ(DeleteZuSmsHead(stores_[1], ids[i]), 0);
  ASSERT_EQ(DeleteZuSmsHead(stores_[1], ids[2]), 0);
  setenv("ZUSMS_TOMBSTONE_DAYS", "0", 1);
  Reopen();
  ASSERT_EQ(Raw("SELECT count(*) FROM zu_changes WHERE kind = 2"), "0\n");
  ASSERT_GT(std::stoi(Raw("SELECT count(*) FROM zu_changes WHERE seq < (SELECT pruned FROM "
                          "zu_change_state)")),
            20);

  std::mt19937 rng(3);
  for (uint32_t largest : {1u, 2u, 3u}) {
    for (uint32_t user : {1u, 2u}) {
      Partner fresh(stores_[user], 0, largest);
      ASSERT_EQ(fresh.Sync(rng), 0) << LastError();
      EXPECT_EQ(fresh.state, StoreState(stores_[user]));
    }
  }
  // The current token, whose change was the newest tombstone removed, serves,
  // and the next change is numbered above it.
  std::vector<stSmsChange> changes;
  const uint64_t current = Token();
  ASSERT_EQ(HeadChanges(current, changes), 0) << LastError();
  EXPECT_TRUE(changes.empty());
  const uint32_t later = AddHead(1);
  ASSERT_EQ(HeadChanges(current, changes), 0) << LastError();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].id, later);
  // A partner that slept across the prune may have missed a deletion.
  EXPECT_EQ(HeadChanges(asleep, changes), ZU_RESYNC);

  // A pass that a prune overtakes: the record it already holds may be
  // among the deletions removed, so it starts over.
  stSmsChange page[1];
  uint32_t n = 0;
  uint64_t next = 0;
  ASSERT_EQ(ListZuSmsHeadChanges(stores_[1], 0, page, 1, &n, &next), 0);
  ASSERT_EQ(n, 1u);
  ASSERT_EQ(ListZuSmsHeadChanges(stores_[1], next, page, 1, &n, &next), 0) << LastError();
  ASSERT_EQ(n, 1u);
  ASSERT_EQ(DeleteZuSmsHead(stores_[1], page[0].id), 0);
  Reopen();
  EXPECT_EQ(ListZuSmsHeadChanges(stores_[1], next, page, 1, &n, &next), ZU_RESYNC);
  unsetenv("ZUSMS_TOMBSTONE_DAYS");

  // A log from before the state counted its prunes keeps its epoch on open.
  const uint64_t kept = Token();
  AddHead(1);
  Shell("ALTER TABLE zu_change_state DROP COLUMN prunes;");
  // Served as it is (as from a read-only file, which no open upgrades)...
  ASSERT_EQ(HeadChanges(kept, changes), 0) << LastError();
  EXPECT_EQ(changes.size(), 1u);
  // ... and by the next writable open given its column, the epoch kept.
  Reopen();
  ASSERT_EQ(HeadChanges(kept, changes), 0) << LastError();
  EXPECT_EQ(changes.size(), 1u);
  EXPECT_EQ(Raw("SELECT prunes FROM zu_change_state"), "0\n");
}

// A statement of another program that stops part-way under OR FAIL keeps
// the log entries of the rows it changed, while SQLite leaves the
// AUTOINCREMENT counter where it was. Tokens and later changes must still
// lie above every entry listed: no deletion is missed, no change repeated.
TEST_F(ChangesTest, AStatementStoppedPartWayLeavesNoNumberToHandOutAgain) {
  const uint32_t a = AddHead(1), b = AddHead(1), c = AddHead(1);
  const uint64_t before = Token();
  const std::string moved = std::to_string(c + 1000);
  const std::string stopped =
      Raw("UPDATE OR FAIL SmsHead SET id = CASE id WHEN " + std::to_string(a) + " THEN " + moved +
          " WHEN " + std::to_string(b) + " THEN " + std::to_string(c) +
          " ELSE id END WHERE UserID = 1");
  ASSERT_NE(stopped.find("UNIQUE"), std::string::npos) << stopped;
  ASSERT_EQ(Raw("SELECT id FROM SmsHead WHERE UserID = 1 ORDER BY id"),
            std::to_string(b) + "\n" + std::to_string(c) + "\n" + moved + "\n");

  // The token covers both entries the stopped statement left.
  std::vector<stSmsChange> changes;
  uint64_t next = 0;
  ASSERT_EQ(HeadChanges(before, changes, &next), 0) << LastError();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(next, Token());
  ASSERT_EQ(HeadChanges(next, changes), 0) << LastError();
  EXPECT_TRUE(changes.empty());

  // The moved record's deletion comes after what the partner has seen.
  ASSERT_EQ(DeleteZuSmsHead(stores_[1], c + 1000), 0) << LastError();
  ASSERT_EQ(HeadChanges(next, changes), 0) << LastError();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].id, c + 1000);
  EXPECT_EQ(changes[0].kind, 2);
}

TEST_F(ChangesTest, NoTokenIsHandedOutInsideABatchThatCanStillRollBack) {
  AddHead(1);
  const uint64_t before = Token();
  std::vector<stSmsChange> changes;
  ASSERT_EQ(BeginZuSmsBatch(stores_[1]), 0);
  AddHead(1, u"tentative");
  uint64_t token = 0;
  EXPECT_EQ(GetZuSmsChangeToken(stores_[1], &token), -1);
  EXPECT_NE(LastError().find("batch"), std::string::npos) << LastError();
  EXPECT_EQ(HeadChanges(before, changes), -1);
  uint32_t n = 0;
  uint64_t next = 0;
  EXPECT_EQ(ListZuSmsFolderChanges(stores_[1], before, changes.data(), 0, &n, &next), -1);
  ASSERT_EQ(RollbackZuSmsBatch(stores_[1]), 0);
  // The rolled-back numbers go to the next change, which the partner gets.
  const uint32_t real = AddHead(1, u"kept");
  ASSERT_EQ(HeadChanges(before, changes), 0) << LastError();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].id, real);
}

// A clock for SQLite that runs 12 hours ahead from its second reading on:
// each statement of the store reads the clock once, so a step that read it
// twice would see tombstones age between its statements.
sqlite3_vfs g_clock_vfs;
sqlite3_vfs* g_real_vfs = nullptr;
int g_clock_readings = 0;
int JumpingClock(sqlite3_vfs*, sqlite3_int64* now) {
  const int rc = g_real_vfs->xCurrentTimeInt64(g_real_vfs, now);
  if (g_clock_readings++ > 0) *now += sqlite3_int64{12} * 3600 * 1000;
  return rc;
}

TEST_F(ChangesTest, PruningUnderAClockThatMovesNeverDropsAnUncoveredTombstone) {
  const uint32_t old_one = AddHead(1), young = AddHead(1);
  ASSERT_EQ(DeleteZuSmsHead(stores_[1], old_one), 0);
  AddHead(1);  // the partner's token lies above the first tombstone
  const uint64_t between = Token();
  ASSERT_EQ(DeleteZuSmsHead(stores_[1], young), 0);
  // Two days old, and 18 hours old: with one day kept, only the first is due
  // now, and the second is due 12 hours later.
  Shell("UPDATE zu_changes SET deleted = datetime('now', '-2 days') WHERE id = " +
        std::to_string(old_one) + " AND family = 1;" +
        "UPDATE zu_changes SET deleted = datetime('now', '-18 hours') WHERE id = " +
        std::to_string(young) + " AND family = 1;");
  CloseAll();
  g_real_vfs = sqlite3_vfs_find(nullptr);
  g_clock_vfs = *g_real_vfs;
  g_clock_vfs.zName = "jumping-clock";
  g_clock_vfs.xCurrentTimeInt64 = JumpingClock;
  ASSERT_EQ(sqlite3_vfs_register(&g_clock_vfs, 1), SQLITE_OK);
  g_clock_readings = 0;
  setenv("ZUSMS_TOMBSTONE_DAYS", "1", 1);
  ASSERT_EQ(OpenZuSmsDB(stores_[1]), 0) << LastError();
  std::vector<stSmsChange> changes;
  const int32_t rc = HeadChanges(between, changes);
  CloseAll();
  sqlite3_vfs_unregister(&g_clock_vfs);
  // The partner that saw the first deletion learns of the second, or is told
  // to list everything again; never neither.
  if (rc == 0) {
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].id, young);
    EXPECT_EQ(changes[0].kind, 2);
  } else {
    EXPECT_EQ(rc, ZU_RESYNC);
  }
  EXPECT_GE(g_clock_readings, 1) << rc;
}

}  // namespace
}  // namespace zusms::testing
