// The synchronisation listings: ids with modification times (the UUID
// listing is in head_test.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "RecordTraits.h"
#include "SmsDatabase.h"
#include "TestDb.h"

namespace zusms::testing {
namespace {

class SyncTest : public OpenStoreTest<SmsDatabase> {
 protected:
  uint32_t AddHead(int seed) {
    SmsHead rec = Traits<SmsHead>::Make(seed);
    uint32_t id = 0;
    EXPECT_EQ(store_.AddSmsHead(rec, id), 0);
    return id;
  }
  static std::string Format(const stDateTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d\n", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return buf;
  }
};

TEST_F(SyncTest, ModifyTimeIsStampedInUtcByAddAndUpdateOnlyAndReadForTheUsersOwnHeads) {
  using namespace std::chrono;
  const sys_seconds before = floor<seconds>(system_clock::now());
  const uint32_t id = AddHead(1);
  stIDModifyTime list[4];
  uint32_t n = 0;
  ASSERT_EQ(store_.GetAllSmsHeadIDModifyTime(list, 4, n), 0);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(list[0].id, id);
  const stDateTime& t = list[0].modifyTime;
  const sys_seconds back =
      sys_days{year{t.year} / static_cast<unsigned>(t.month) / static_cast<unsigned>(t.day)} +
      hours{t.hour} + minutes{t.minute} + seconds{t.second};
  EXPECT_LE(abs(back - before), seconds{2});  // UTC

  // Reads stamp nothing; after an update the listing shows the update's
  // time, and the single read agrees.
  Raw("update SmsHead set ModifyTime = '2001-02-03 04:05:06'");
  SmsHead rec{};
  ASSERT_EQ(store_.GetSmsHead(id, rec), 0);
  ASSERT_EQ(store_.GetAllSmsHead(&rec, 1, n), 0);
  ASSERT_EQ(store_.GetAllSmsHeadIDModifyTime(list, 4, n), 0);
  EXPECT_EQ(Format(list[0].modifyTime), "2001-02-03 04:05:06\n");
  stDateTime one{};
  ASSERT_EQ(store_.GetSmsHeadModifyTime(id, one), 0);
  EXPECT_EQ(Format(one), "2001-02-03 04:05:06\n");
  ASSERT_EQ(store_.UpdateSmsHead(rec), 0);
  ASSERT_EQ(store_.GetSmsHeadModifyTime(id, one), 0);
  EXPECT_EQ(Format(one), Raw("select ModifyTime from SmsHead"));
  EXPECT_GT(one.year, 2001);

  // A head that is not there, or is another user's: 100, the time untouched.
  StoreHandle other(2);
  ASSERT_EQ(other.opened(), 0);
  uint32_t theirs = 0;
  ASSERT_EQ(other->AddSmsHead(rec, theirs), 0);
  stDateTime untouched{1, 2, 3, 4, 5, 6};
  EXPECT_EQ(store_.GetSmsHeadModifyTime(theirs, untouched), 100);
  EXPECT_EQ(GetZuSmsHeadModifyTime(&store_, 999999, &untouched), 100);
  EXPECT_EQ(Format(untouched), "0001-02-03 04:05:06\n");
  EXPECT_EQ(GetZuSmsHeadModifyTime(&store_, 999999, nullptr), -1);
}

// Another program may write a time in any form SQLite reads; one it cannot
// read is the zero time, and the listings go on.
TEST_F(SyncTest, TimesInEveryFormSQLiteReadsAreListedAndOthersAreZero) {
  const uint32_t id = AddHead(1);
  const uint32_t plain = AddHead(2);
  Raw("update SmsHead set ModifyTime = '2001-02-03 04:05:06' where id = " + std::to_string(plain));
  const struct {
    const char* stored;
    const char* listed;
  } kForms[] = {
      {"2024-01-02T03:04:05", "2024-01-02 03:04:05\n"},
      {"2024-01-02 03:04", "2024-01-02 03:04:00\n"},
      {"2024-01-02", "2024-01-02 00:00:00\n"},
      {"2024-01-02 05:04:05+02:00", "2024-01-02 03:04:05\n"},
      {"2460311.5", "2024-01-02 00:00:00\n"},  // a Julian day
      {"", "0000-00-00 00:00:00\n"},
      {"yesterday", "0000-00-00 00:00:00\n"},
  };
  for (const auto& form : kForms) {
    Raw("update SmsHead set ModifyTime = '" + std::string(form.stored) +
        "' where id = " + std::to_string(id));
    stIDModifyTime list[4];
    uint32_t n = 0;
    ASSERT_EQ(store_.GetAllSmsHeadIDModifyTime(list, 4, n), 0) << form.stored;
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(Format(list[0].modifyTime), form.listed) << form.stored;
    EXPECT_EQ(Format(list[1].modifyTime), "2001-02-03 04:05:06\n");
    stDateTime one{};
    ASSERT_EQ(store_.GetSmsHeadModifyTime(id, one), 0);
    EXPECT_EQ(Format(one), form.listed) << form.stored;
    stSmsChange changes[4];
    uint64_t next = 0;
    ASSERT_EQ(ListZuSmsHeadChanges(&store_, 0, changes, 4, &n, &next), 0);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(Format(changes[changes[0].id == id ? 0 : 1].modifyTime), form.listed) << form.stored;
  }
}

}  // namespace
}  // namespace zusms::testing
