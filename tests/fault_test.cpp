// Out of memory inside SQLite. Its allocator is made to fail one allocation,
// the Nth of a workload, for N across the whole workload; whatever call meets
// it must fail with -1 and a reason, and afterwards the store must open
// whole with exactly what the calls that returned 0 wrote.
#include <set>

#include "TestDb.h"

namespace zusms::testing {
namespace {

sqlite3_mem_methods g_sqlite;  // SQLite's own allocator
uint64_t g_count = 0;          // allocations since the workload began
uint64_t g_fail = 0;           // the one that fails (0: none)

bool Fails() { return ++g_count == g_fail; }
void* Malloc(int n) { return Fails() ? nullptr : g_sqlite.xMalloc(n); }
void* Realloc(void* p, int n) { return Fails() ? nullptr : g_sqlite.xRealloc(p, n); }

class FaultTest : public DbTest {
 protected:
  static void SetUpTestSuite() {
    sqlite3_shutdown();
    sqlite3_config(SQLITE_CONFIG_GETMALLOC, &g_sqlite);
    sqlite3_mem_methods failing = g_sqlite;
    failing.xMalloc = Malloc;
    failing.xRealloc = Realloc;
    ASSERT_EQ(sqlite3_config(SQLITE_CONFIG_MALLOC, &failing), SQLITE_OK);
  }

  void Release() {
    auto& c = engine::Connection::Default();
    std::lock_guard lock(c.Mutex());
    while (c.Shares() > 0) c.Release();
  }

  // Whether a call returned 0; else it must have failed with -1 (an open
  // also with SQLite's code) and a reason.
  static bool Ok(int32_t status, const char* what) {
    char16_t error[8];
    if (status != 0) {
      EXPECT_TRUE(status == -1 || (status > 0 && what[0] == 'o'))
          << what << ": " << status << " at allocation " << g_fail;
      EXPECT_GT(GetZuSmsLastError(error, 8), 0) << what << " failed without a reason";
    }
    if (status != 0 && getenv("FAULT_DEBUG")) {
      char16_t e[200];
      GetZuSmsLastError(e, 200);
      fprintf(stderr, "%s failed %d at %lu: %s\n", what, status, (unsigned long)g_fail,
              engine::ToUtf8(e).c_str());
    }
    return status == 0;
  }

  // Adds, changes, lists and deletes messages; the ids that must be in the
  // store afterwards go into `heads`.
  void Workload(std::set<uint32_t>& heads) {
    StoreHandle store(1, false);
    if (!Ok(OpenZuSmsDB(store), "open")) return;
    SmsHead head{};
    std::u16string text = u"fault 故障 ";
    auto add = [&](int i) {
      head = SmsHead{};
      head.fid = 1 + i % 3;
      std::copy_n(u"+8613800138000", 14, head.tel);
      text += static_cast<char16_t>(u'a' + i);
      std::copy(text.begin(), text.end(), head.content);
      uint32_t id = 0;
      return Ok(AddZuSmsHead(store, &head, &id), "add") ? id : 0;
    };
    if (uint32_t id = add(0)) heads.insert(id);
    if (Ok(BeginZuSmsBatch(store), "begin")) {
      std::set<uint32_t> batch;
      for (int i = 1; i < 4; ++i)
        if (uint32_t id = add(i)) batch.insert(id);
      if (Ok(CommitZuSmsBatch(store), "commit")) heads.insert(batch.begin(), batch.end());
    }
    head.impt = 1;
    head.id = heads.empty() ? 0 : static_cast<int32_t>(*heads.rbegin());
    if (head.id) Ok(UpdateZuSmsHead(store, &head), "update");
    uint32_t ids[8], n = 0;
    uint64_t total = 0, next = 0;
    _MimerQueryFilterItem item{ZU_HEAD_FID, ZU_OP_EQ, {.number = 2}};
    MimerQueryFilter filter{1, &item, 1, 0, nullptr};
    Ok(QueryZuSmsHeadID(store, &filter, ids, 8, &n), "query");
    Ok(SearchZuSmsHead(store, u"故障 B", 0, ids, 8, &n, &total), "search");
    stSmsPerson persons[4];
    Ok(ListZuSmsPersons(store, 0, persons, 4, &n, &total), "persons");
    stSmsChange changes[8];
    Ok(ListZuSmsHeadChanges(store, 0, changes, 8, &n, &next), "changes");
    SmsFolder folder{};
    std::copy_n(u"kept", 4, folder.fname);
    Ok(AddZuSmsFolder(store, &folder, ids), "add folder");
    if (!heads.empty() && Ok(DeleteZuSmsHead(store, *heads.begin()), "delete"))
      heads.erase(heads.begin());
  }
};

TEST_F(FaultTest, AFailedAllocationFailsOnlyItsCallAndTheStoreKeepsWhatReturned) {
  { StoreHandle seed; }  // the schema and the default folders, made without faults
  Release();
  const std::string seed = ReadFile(file_);
  auto run = [&](uint64_t fail) {
    std::filesystem::remove(file_ + "-wal");
    std::filesystem::remove(file_ + "-shm");
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << seed;
    std::set<uint32_t> heads;
    g_count = 0;
    g_fail = fail;
    Workload(heads);
    g_fail = 0;
    Release();
    StoreHandle store;
    ASSERT_EQ(store.opened(), 0) << "after allocation " << fail << ": " << LastError();
    uint32_t n = 0;
    EXPECT_EQ(GetZuSmsHeadCount(store, &n), 0);
    EXPECT_EQ(n, heads.size()) << "after allocation " << fail;
    SmsHead back{};
    for (uint32_t id : heads) EXPECT_EQ(GetZuSmsHead(store, id, &back), 0) << id;
    Release();
    EXPECT_EQ(Raw("PRAGMA integrity_check"), "ok\n");
  };
  run(0);
  const uint64_t total = g_count;
  ASSERT_GT(total, 100u);
  // Every one of the first allocations (the open's), then about 200 more
  // spread over the rest (all of them take minutes).
  for (uint64_t fail = 1; fail <= total; fail += fail < 60 ? 1 : total / 200 + 1) {
    run(fail);
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace zusms::testing
