// What only cell broadcast pages do: a receive time wider in the record than
// in its column, and row mappers that read from copies of the record set.
#include <gtest/gtest.h>

#include <set>

#include "RecordTraits.h"
#include "SmsDatabase.h"
#include "TestDb.h"

namespace zusms::testing {
namespace {

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

TEST_F(BroadcastTest, EachListedPageIsReadFromItsOwnRow) {
  std::set<int32_t> pages;
  for (int i = 0; i < 3; ++i) {
    SmsAreaBroadcast page = Traits<SmsAreaBroadcast>::Make(i);
    page.pageindex = i + 1;
    uint32_t id = 0;
    ASSERT_EQ(store_.AddSmsAreaBroadcast(page, id), 0);
  }
  SmsAreaBroadcast listed[3]{};
  uint32_t n = 0;
  ASSERT_EQ(store_.GetAllSmsAreaBroadcast(listed, 3, n), 0);
  ASSERT_EQ(n, 3u);
  for (const auto& p : listed) pages.insert(p.pageindex);
  EXPECT_EQ(pages, (std::set<int32_t>{1, 2, 3}));
  EXPECT_NE(listed[0].id, listed[1].id);
  ASSERT_EQ(store_.GetAllSmsAreaBroadcast(listed, 1, n), 0);
  EXPECT_EQ(n, 1u);
}

}  // namespace
}  // namespace zusms::testing
