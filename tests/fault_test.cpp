// Out of memory inside SQLite: its allocator fails the Nth allocation of
// every call of a workload, for N up to the most any call makes. The store
// must then open whole with exactly what the calls that returned 0 wrote.
#include <algorithm>
#include <set>
#include <utility>

#include "TestDb.h"

namespace zusms::testing {
namespace {

sqlite3_mem_methods g_sqlite;  // SQLite's own allocator
uint64_t g_count = 0;          // allocations since the call began
uint64_t g_fail = 0;           // the one of each call that fails (0: none)
uint64_t g_most = 0;           // the most allocations a call made

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
    // Without the connection's own small-allocation pool, every allocation
    // can fail, whatever the pool would have held.
    ASSERT_EQ(sqlite3_config(SQLITE_CONFIG_LOOKASIDE, 0, 0), SQLITE_OK);
  }

  // Runs a call, its allocations counted from 1. A failure must be -1 (an
  // open's also SQLite's code) with a reason; the call is then tried again
  // without the fault, as a program would, and outside a batch succeeds.
  template <typename Call>
  bool Ok(const char* what, Call&& call) {
    g_count = 0;
    int32_t status = call();
    g_most = std::max(g_most, g_count);
    if (status == 0) return true;
    EXPECT_TRUE(status == -1 || (status > 0 && what[0] == 'o'))
        << what << ": " << status << " at allocation " << g_fail;
    EXPECT_GT(GetZuSmsLastError(nullptr, 0), 0) << what << " failed without a reason";
    const uint64_t fail = std::exchange(g_fail, 0);
    status = call();
    g_fail = fail;
    EXPECT_TRUE(status == 0 || in_batch_)
        << what << " failed again after allocation " << fail << ": " << LastError();
    return status == 0;
  }
  bool in_batch_ = false;

  // Adds, changes, lists and deletes messages; the ids that must be in the
  // store afterwards go into `heads`.
  void Workload(std::set<uint32_t>& heads) {
    StoreHandle store(1, false);
    if (!Ok("open", [&] { return OpenZuSmsDB(store); })) return;
    SmsHead head{};
    std::u16string text = u"fault 故障 ";
    auto add = [&](int i) {
      head = SmsHead{};
      head.fid = 1 + i % 3;
      std::copy_n(u"+8613800138000", 14, head.tel);
      text += static_cast<char16_t>(u'a' + i);
      std::copy(text.begin(), text.end(), head.content);
      uint32_t id = 0;
      return Ok("add", [&] { return AddZuSmsHead(store, &head, &id); }) ? id : 0;
    };
    if (uint32_t id = add(0)) heads.insert(id);
    if ((in_batch_ = Ok("begin", [&] { return BeginZuSmsBatch(store); }))) {
      std::set<uint32_t> batch;
      for (int i = 1; i < 4; ++i)
        if (uint32_t id = add(i)) batch.insert(id);
      if (Ok("commit", [&] { return CommitZuSmsBatch(store); }))
        heads.insert(batch.begin(), batch.end());
    }
    head.id = heads.empty() ? 0 : static_cast<int32_t>(*heads.rbegin());
    if (head.id) Ok("update", [&] { return UpdateZuSmsHead(store, &head); });
    uint32_t ids[8], n = 0;
    uint64_t total = 0, next = 0;
    _MimerQueryFilterItem item{ZU_HEAD_FID, ZU_OP_EQ, {.number = 2}};
    MimerQueryFilter filter{1, &item, 1, 0, nullptr};
    Ok("query", [&] { return QueryZuSmsHeadID(store, &filter, ids, 8, &n); });
    Ok("search", [&] { return SearchZuSmsHead(store, u"故障 B", 0, ids, 8, &n, &total); });
    stSmsPerson persons[4];
    Ok("persons", [&] { return ListZuSmsPersons(store, 0, persons, 4, &n, &total); });
    stSmsChange changes[8];
    Ok("changes", [&] { return ListZuSmsHeadChanges(store, 0, changes, 8, &n, &next); });
    SmsFolder folder{0, 0, u"kept", 0, 0, 0};
    Ok("add folder", [&] { return AddZuSmsFolder(store, &folder, ids); });
    if (!heads.empty() && Ok("delete", [&] { return DeleteZuSmsHead(store, *heads.begin()); }))
      heads.erase(heads.begin());
  }
};

TEST_F(FaultTest, AFailedAllocationFailsOnlyItsCallAndTheStoreKeepsWhatReturned) {
  { StoreHandle seed; }  // the schema and the default folders, made without faults
  Release();
  const std::string seed = ReadFile(file_);
  auto run = [&](uint64_t fail) {
    for (const char* log : {"-wal", "-shm"}) std::filesystem::remove(file_ + log);
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << seed;
    std::set<uint32_t> heads;
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
  // The open's and the search's thousands of allocations beyond 800 at a stride.
  for (uint64_t fail = 1; fail <= g_most && !HasFailure(); fail += fail < 800 ? 1 : 40) run(fail);
}

}  // namespace
}  // namespace zusms::testing
