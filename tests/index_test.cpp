// The indexes made at open: on new and earlier files, chosen by the queries
// they are for, never by the unordered listings (rows in id order).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RecordTraits.h"
#include "SmsDatabase.h"
#include "TestDb.h"

namespace zusms::testing {
namespace {

class IndexTest : public OpenStoreTest<SmsDatabase> {
 protected:
  // How many of the indexes the file holds.
  std::string Present() {
    return Raw(
        "SELECT count(*) FROM sqlite_schema WHERE type='index' AND name IN "
        "('SmsHead_fid_user_ctime', 'SmsHead_fid_user_rtime')");
  }

  // User 1's heads: ids rising while folders, times and UUIDs fall, with
  // ties in the creation time; user 2's heads in the same folders.
  void Fill(int count) {
    StoreHandle other(2);
    ASSERT_EQ(other.opened(), 0);
    ASSERT_EQ(store_.BeginBatch(), 0);  // one commit, not one per message
    for (int i = 0; i < count; ++i) {
      SmsHead h = Traits<SmsHead>::Make(i);
      h.fid = 3 - i % 3;
      SetText(h.createtime, u"2024" + engine::ToUtf16(std::to_string(100000 - i / 3)));
      SetText(h.recvtime, u"2024" + engine::ToUtf16(std::to_string(100000 - i)));
      h.uuid[0] = static_cast<uint8_t>(255 - i % 256);
      h.uuid[1] = static_cast<uint8_t>(255 - i / 256);
      uint32_t id = 0;
      ASSERT_EQ(store_.AddSmsHead(h, id), 0);
      ids_.push_back(id);
      ASSERT_EQ(other->AddSmsHead(h, id), 0);
    }
    ASSERT_EQ(store_.CommitBatch(), 0);
  }

  std::vector<uint32_t> ids_;
};

TEST_F(IndexTest, AnEarlierFileGetsTheIndexesAtItsNextOpenAndOneThatCannotBeBuiltIsLeftOut) {
  Fill(30);
  store_.Close();
  // A file as earlier versions left it: the schema's indexes only.
  Raw("DROP INDEX SmsHead_fid_user_ctime; DROP INDEX SmsHead_fid_user_rtime");
  ASSERT_EQ(store_.Open(), 0) << LastError();
  EXPECT_EQ(Present(), "2\n");
  store_.Close();
  // Another program took one of the names for something else.
  Raw("DROP INDEX SmsHead_fid_user_rtime; CREATE TABLE SmsHead_fid_user_rtime (x)");
  engine::ClearLastError();
  ASSERT_EQ(store_.Open(), 0) << LastError();
  EXPECT_EQ(LastError(), "");
  EXPECT_EQ(Present(), "1\n");
  SmsHead h = Traits<SmsHead>::Make(1);
  uint32_t id = 0;
  EXPECT_EQ(store_.AddSmsHead(h, id), 0);
}

// Each plan is checked without the planner's statistics, with those that
// the close gathers (from a sample of each index) and with exact ones.
enum Statistics { kNoStatistics, kSampled, kExact };

class IndexPlanTest : public IndexTest, public ::testing::WithParamInterface<Statistics> {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    Fill(300);
    if (GetParam() == kSampled) {
      // The last close gathers them for the tables that queries used.
      uint32_t first = 0, n = 0;
      ASSERT_EQ(store_.GetAllSmsHeadID(&first, 1, n), 0);
      store_.Close();
      ASSERT_NE(Raw("SELECT count(*) FROM sqlite_stat1 WHERE tbl='SmsHead'"), "0\n");
      ASSERT_EQ(store_.Open(), 0);
    }
    if (GetParam() == kExact) Raw("ANALYZE");
  }
};

// A folder's page by either time is an index search in the requested order,
// without sorting; its count, bounded by the capacity or not, reads the index
// alone.
TEST_P(IndexPlanTest, AFoldersPagesAndCountsUseItsIndex) {
  const struct {
    int32_t order, direction;
    const char* index;
  } cases[] = {{ZU_HEAD_CREATETIME, 2, "SmsHead_fid_user_ctime"},
               {ZU_HEAD_CREATETIME, 1, "SmsHead_fid_user_ctime"},
               {ZU_HEAD_RECVTIME, 2, "SmsHead_fid_user_rtime"}};
  for (const auto& c : cases) {
    _MimerQueryFilterItem item{ZU_HEAD_FID, ZU_OP_EQ, {.number = 2}};
    _MimerQueryOrderItem order{c.order, c.direction};
    MimerQueryFilter filter{1, &item, 1, 1, &order};
    StatementLog log;
    SmsHead page[5];
    uint32_t ids[5], n = 0;
    ASSERT_EQ(store_.QuerySmsHead(filter, page, 5, n), 0) << LastError();
    ASSERT_EQ(store_.QuerySmsHeadID(filter, ids, 5, n), 0) << LastError();
    ASSERT_EQ(store_.QuerySmsHeadCount(filter, n), 0) << LastError();
    int counts = 0;
    for (const std::string& sql : log.texts) {
      if (sql.find("\"fid\"") == std::string::npos) continue;
      const std::string plan = Raw("EXPLAIN QUERY PLAN " + sql);
      if (sql.starts_with("select count")) {
        ++counts;
        EXPECT_NE(plan.find("COVERING INDEX SmsHead_fid_user_"), std::string::npos) << plan;
      } else {
        EXPECT_NE(plan.find(std::string("INDEX ") + c.index + " (fid=? AND UserID=?)"),
                  std::string::npos)
            << sql << "\n"
            << plan;
        EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;
      }
    }
    EXPECT_EQ(counts, 2) << ::testing::PrintToString(log.texts);
  }
}

TEST_P(IndexPlanTest, TheListingsReturnRowsInIdOrder) {
  const uint32_t all = static_cast<uint32_t>(ids_.size());
  std::vector<SmsHead> heads(all);
  std::vector<uint32_t> ids(all);
  std::vector<stIDModifyTime> times(all);
  std::vector<stIDUUID> uuids(all);
  uint32_t n[4] = {};
  ASSERT_EQ(store_.GetAllSmsHead(heads.data(), all, n[0]), 0);
  ASSERT_EQ(store_.GetAllSmsHeadID(ids.data(), all, n[1]), 0);
  ASSERT_EQ(store_.GetAllSmsHeadIDModifyTime(times.data(), all, n[2]), 0);
  ASSERT_EQ(store_.GetAllSmsHeadIDUUID(uuids.data(), all, n[3]), 0);
  ASSERT_EQ(std::vector<uint32_t>(n, n + 4), std::vector<uint32_t>(4, all));
  for (uint32_t i = 0; i < all; ++i) {
    ASSERT_EQ(ids[i], ids_[i]) << "at " << i;
    ASSERT_EQ(std::vector<uint32_t>({static_cast<uint32_t>(heads[i].id), times[i].id, uuids[i].id}),
              std::vector<uint32_t>(3, ids[i]));
  }
}

INSTANTIATE_TEST_SUITE_P(Statistics, IndexPlanTest,
                         ::testing::Values(kNoStatistics, kSampled, kExact));

// The count before the rows stops at the capacity; a capacity past 2^31 is
// no bound at all.
TEST_F(IndexTest, TheCountBeforeTheRowsIsBoundedByTheCapacity) {
  Fill(40);
  _MimerQueryFilterItem item{ZU_HEAD_FID, ZU_OP_GE, {.number = 1}};
  MimerQueryFilter filter{1, &item, 1, 0, nullptr}, both[] = {filter, filter};
  uint32_t total = 0;
  ASSERT_EQ(store_.QuerySmsHeadCount(filter, total), 0);
  EXPECT_EQ(total, 40u);
  std::vector<uint32_t> ids(total);
  for (uint32_t capacity : {0u, 1u, 39u, 40u, 41u, 0x7fffffffu, 0x80000000u, 0xffffffffu}) {
    uint32_t n = 12345;
    ASSERT_EQ(store_.QuerySmsHeadID(filter, ids.data(), capacity, n), 0);
    EXPECT_EQ(n, std::min(total, capacity)) << capacity;
    n = 12345;
    ASSERT_EQ(store_.CombineQuerySmsHeadID(both, 2, ids.data(), capacity, n), 0);
    EXPECT_EQ(n, std::min(total, capacity)) << capacity;
  }
}

}  // namespace
}  // namespace zusms::testing
