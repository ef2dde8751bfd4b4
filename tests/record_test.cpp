// What every record family does alike, run over each family: add, get,
// update, delete, count and list, limited to the store's user, never writing
// an array beyond its capacity; and what only cell broadcast pages do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <type_traits>
#include <vector>

#include "RecordTraits.h"
#include "SmsDatabase.h"
#include "TestDb.h"

namespace zusms::testing {
namespace {

template <typename Record>
class RecordTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    mine_ = handles_[0].emplace(1u);
    theirs_ = handles_[1].emplace(2u);
    ASSERT_EQ(handles_[0]->opened(), 0) << LastError();
    ASSERT_EQ(handles_[1]->opened(), 0) << LastError();
  }
  void TearDown() override {
    for (auto& handle : handles_) handle.reset();
    DbTest::TearDown();
  }

  static Record Blank() {
    Record r;
    std::memset(&r, 0, sizeof r);
    return r;
  }
  static bool Same(Record a, const Record& b) {
    a.id = b.id;
    return std::memcmp(&a, &b, sizeof a) == 0;
  }
  uint32_t Add(SmsDatabase* store, Record rec) {
    uint32_t id = 0;
    EXPECT_EQ(Traits<Record>::Add(store, &rec, &id), 0) << LastError();
    EXPECT_EQ(static_cast<uint32_t>(rec.id), id);
    return id;
  }
  uint32_t Count(SmsDatabase* store) {
    uint32_t n = 12345;
    EXPECT_EQ(Traits<Record>::Count(store, &n), 0);
    return n;
  }

  std::optional<StoreHandle> handles_[2];
  SmsDatabase* mine_ = nullptr;
  SmsDatabase* theirs_ = nullptr;
};

using Families = ::testing::Types<SmsHead, SmsContent, SmsAreaBroadcast, SmsFolder, SmsFilter,
                                  SmsRecieverHistory, SmsPhrase>;
TYPED_TEST_SUITE(RecordTest, Families);

TYPED_TEST(RecordTest, AddedAndUpdatedRecordsReadBackWholeUnderTheIdAddReturned) {
  using T = Traits<TypeParam>;
  TypeParam rec = Longest<TypeParam>(3);  // the update writes a plain one
  uint32_t id = 0;
  ASSERT_EQ(T::Add(this->mine_, &rec, &id), 0);
  EXPECT_EQ(static_cast<uint32_t>(rec.id), id);
  EXPECT_EQ(this->Raw(std::string("select count(*) from ") + T::kTable +
                      " where id = " + std::to_string(id) + " and UserID = 1"),
            "1\n");
  TypeParam back = this->Blank();
  ASSERT_EQ(T::Get(this->mine_, id, &back), 0);
  EXPECT_EQ(static_cast<uint32_t>(back.id), id);
  EXPECT_TRUE(this->Same(rec, back));

  TypeParam changed = T::Make(9);
  changed.id = rec.id;
  T::KeepAssigned(changed, rec);
  ASSERT_EQ(T::Update(this->mine_, &changed), 0);
  back = this->Blank();
  ASSERT_EQ(T::Get(this->mine_, id, &back), 0);
  EXPECT_TRUE(this->Same(changed, back));
  EXPECT_EQ(static_cast<uint32_t>(back.id), id);
}

TYPED_TEST(RecordTest, MissingRowsAndOtherUsersRowsAreNotThereAndDeletedIdsNeverReturn) {
  using T = Traits<TypeParam>;
  const uint32_t theirs = this->Add(this->theirs_, T::Make(1));
  const uint32_t mine = this->Add(this->mine_, T::Make(2));

  TypeParam untouched = T::Make(5);
  TypeParam rec = untouched;
  EXPECT_EQ(T::Get(this->mine_, theirs, &rec), T::kMissingGet);
  EXPECT_EQ(std::memcmp(&rec, &untouched, sizeof rec), 0);
  EXPECT_EQ(T::Get(this->mine_, 999999, &rec), T::kMissingGet);
  EXPECT_EQ(std::memcmp(&rec, &untouched, sizeof rec), 0);

  rec.id = static_cast<int32_t>(theirs);
  EXPECT_EQ(T::Update(this->mine_, &rec), T::kMissingUpdate);
  EXPECT_EQ(T::Delete(this->mine_, theirs), 0);
  EXPECT_EQ(T::Delete(this->mine_, 999999), 0);
  EXPECT_EQ(T::DeleteAll(this->mine_), 0);

  TypeParam back = this->Blank();
  ASSERT_EQ(T::Get(this->theirs_, theirs, &back), 0);
  TypeParam expected = T::Make(1);
  T::KeepAssigned(expected, back);
  EXPECT_TRUE(this->Same(expected, back));
  EXPECT_EQ(this->Count(this->theirs_), T::kSeeded + 1);
  EXPECT_EQ(this->Count(this->mine_), T::kSeeded);
  back = this->Blank();
  EXPECT_EQ(T::Get(this->mine_, mine, &back), T::kMissingGet);
  EXPECT_EQ(back.id, 0);
  // Ids come from the store's one sequence: the deleted highest id, which a
  // table's own row numbers would give again, is never given again.
  EXPECT_GT(this->Add(this->mine_, T::Make(3)), mine);
}

TYPED_TEST(RecordTest, ListsNeverWriteBeyondTheirCapacity) {
  using T = Traits<TypeParam>;
  std::vector<uint32_t> added;
  for (int i = 0; i < 5; ++i) added.push_back(this->Add(this->mine_, T::Make(i)));
  this->Add(this->theirs_, T::Make(99));
  const uint32_t total = T::kSeeded + 5;
  EXPECT_EQ(this->Count(this->mine_), total);

  // Each listing at capacities below, at and above the count: no more than
  // either, nothing written beyond.
  const uint32_t kGuard = 0xDEADBEEF;
  const TypeParam guard = T::Make(50);
  std::vector<uint32_t> ids;
  std::vector<TypeParam> recs;
  uint32_t n = 77;
  for (const uint32_t capacity : {0u, 3u, total + 2}) {
    ids.assign(total + 3, kGuard);
    recs.assign(total + 3, guard);
    const uint32_t listed = std::min(capacity, total);
    EXPECT_EQ(T::AllIds(this->mine_, ids.data(), capacity, &n), 0);
    EXPECT_EQ(n, listed);
    EXPECT_EQ(ids[listed], kGuard);
    EXPECT_EQ(T::All(this->mine_, recs.data(), capacity, &n), 0);
    EXPECT_EQ(n, listed);
    EXPECT_EQ(std::memcmp(&recs[listed], &guard, sizeof guard), 0);
  }
  const std::set<uint32_t> listed(ids.begin(), ids.begin() + total);
  EXPECT_EQ(listed.size(), total);
  for (uint32_t id : added) EXPECT_TRUE(listed.count(id)) << id;
  int matched = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const auto seed =
        std::find(added.begin(), added.end(), static_cast<uint32_t>(recs[i].id)) - added.begin();
    if (seed == 5) continue;  // a seeded row
    TypeParam expected = T::Make(static_cast<int>(seed));
    T::KeepAssigned(expected, recs[i]);
    EXPECT_TRUE(this->Same(expected, recs[i]));
    ++matched;
  }
  EXPECT_EQ(matched, 5);
  EXPECT_EQ(T::AllIds(this->mine_, nullptr, 0, &n), 0);  // no array needed for none
}

// An engine error, or a listing whose count or rows cannot be read: -1
// with the reason, the count given untouched, the store usable after.
TYPED_TEST(RecordTest, AnEngineErrorOrAFailedListingGivesMinusOneAndTheStoreStaysUsable) {
  using T = Traits<TypeParam>;
  const uint32_t kept = this->Add(this->mine_, T::Make(1));
  const std::string table = T::kTable;
  this->Raw("alter table " + table + " rename to away");
  TypeParam rec = T::Make(2);
  uint32_t id = 4242, n = 4242;
  EXPECT_EQ(T::Add(this->mine_, &rec, &id), -1);
  EXPECT_EQ(id, 4242u);
  char16_t error[256];
  EXPECT_GT(GetZuSmsLastError(error, 256), 0);
  EXPECT_EQ(T::Get(this->mine_, kept, &rec), -1);
  EXPECT_EQ(T::Count(this->mine_, &n), -1);
  EXPECT_EQ(T::Delete(this->mine_, kept), -1);
  this->Raw("alter table away rename to " + table);
  // The same statements work again once the table is back.
  EXPECT_EQ(T::Add(this->mine_, &rec, &id), 0) << this->LastError();
  EXPECT_EQ(T::Get(this->mine_, kept, &rec), 0);
  EXPECT_EQ(this->Count(this->mine_), T::kSeeded + 2);
  std::vector<uint32_t> ids(64);
  std::vector<TypeParam> recs(64);
  std::vector<stIDUUID> uuids(64);
  std::vector<stIDModifyTime> times(64);
  n = 77;
  {
    const Deny deny(SQLITE_FUNCTION, "count");  // the count fails
    EXPECT_EQ(T::AllIds(this->mine_, ids.data(), 64, &n), -1);
    EXPECT_NE(this->LastError().find("not authorized"), std::string::npos) << this->LastError();
    EXPECT_EQ(T::All(this->mine_, recs.data(), 64, &n), -1);
    EXPECT_EQ(n, 77u);
  }
  if constexpr (std::is_same_v<TypeParam, SmsHead>) {
    {
      const Deny deny(SQLITE_FUNCTION, "count");
      EXPECT_EQ(GetAllZuSmsHeadIDUUID(this->mine_, uuids.data(), 64, &n), -1);
      EXPECT_EQ(GetAllZuSmsHeadIDModifyTime(this->mine_, times.data(), 64, &n), -1);
    }
    // The count works, the rows' read fails.
    const Deny deny(SQLITE_READ, "ModifyTime");
    EXPECT_EQ(GetAllZuSmsHeadIDModifyTime(this->mine_, times.data(), 64, &n), -1);
    EXPECT_EQ(n, 77u);
  }
}

// Null arguments give -1 and store nothing; an add the engine refuses
// leaves the record's id as its family says.
TYPED_TEST(RecordTest, NullArgumentsAndAFailedAddLeaveTheRecordsIdAsItsFamilySays) {
  using T = Traits<TypeParam>;
  TypeParam rec = T::Make(1);
  uint32_t n = 0, id = 0;
  EXPECT_EQ(T::Add(this->mine_, nullptr, &id), -1);
  EXPECT_EQ(T::Add(this->mine_, &rec, nullptr), -1);
  EXPECT_EQ(T::Update(this->mine_, nullptr), -1);
  EXPECT_EQ(T::Get(this->mine_, 1, nullptr), -1);
  EXPECT_EQ(T::Count(this->mine_, nullptr), -1);
  EXPECT_EQ(T::AllIds(this->mine_, nullptr, 4, &n), -1);
  EXPECT_EQ(T::AllIds(this->mine_, &id, 1, nullptr), -1);
  EXPECT_EQ(T::All(this->mine_, nullptr, 4, &n), -1);
  EXPECT_EQ(this->Count(this->mine_), T::kSeeded);
  if (T::kSeeded > 0) return;  // folders fail earlier: their user has no folder then
  // Without its user row the insert breaks the foreign key.
  this->Raw("delete from tbl_zu_user where id = 1");
  rec = T::Make(1);
  rec.id = 77;
  id = 55;
  EXPECT_EQ(T::Add(this->mine_, &rec, &id), -1);
  EXPECT_EQ(id, 55u);
  EXPECT_EQ(rec.id, T::kAddSetsIdFirst ? 55 : 77);
  EXPECT_EQ(this->Raw(std::string("select count(*) from ") + T::kTable), "0\n");
}

// A cell broadcast page's receive time is wider in the record than in its
// column.
using BroadcastTest = OpenStoreTest<SmsDatabase>;

TEST_F(BroadcastTest, AReceiveTimeLongerThanItsColumnIsRefusedWhole) {
  SmsAreaBroadcast page = Traits<SmsAreaBroadcast>::Make(1);
  SetText(page.recvtime, Sample(1, 16));  // fits the record, not the column
  uint32_t id = 0;
  EXPECT_EQ(store_.AddSmsAreaBroadcast(page, id), -1);
  EXPECT_NE(LastError().find("CHECK"), std::string::npos) << LastError();
  EXPECT_EQ(Raw("select count(*) from SmsAreaBroadcast"), "0\n");

  // The store stays usable, and an update with such a time changes nothing.
  SetText(page.recvtime, Sample(1, 15));
  ASSERT_EQ(store_.AddSmsAreaBroadcast(page, id), 0);
  SmsAreaBroadcast wide = page;
  SetText(wide.recvtime, Sample(2, 32));
  SetText(wide.data, u"changed");
  EXPECT_EQ(store_.UpdateSmsAreaBroadcast(wide), -1);
  SmsAreaBroadcast back{};
  ASSERT_EQ(store_.GetSmsAreaBroadcast(id, back), 0);
  EXPECT_EQ(std::u16string(back.recvtime), Sample(1, 15));
  EXPECT_EQ(std::u16string(back.data), std::u16string(page.data));
}

}  // namespace
}  // namespace zusms::testing
