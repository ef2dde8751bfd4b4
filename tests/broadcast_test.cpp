// What only cell broadcast pages do: a receive time wider in the record than
// in its column.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zusms::testing
