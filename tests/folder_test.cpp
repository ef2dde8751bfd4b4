// What only folders do: the default set, numbering, protected defaults, and
// their own status codes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "RecordTraits.h"
#include "SmsDatabase.h"
#include "TestDb.h"

namespace zusms::testing {
namespace {

class FolderTest : public OpenStoreTest<SmsDatabase> {
 protected:
  // FdId:system pairs of user 1, in number order.
  std::string Numbers() {
    return Raw(
        "select group_concat(FdId || ':' || system) from (select FdId, system from "
        "SmsFolder where UserID = 1 order by FdId)");
  }
  void Reopen() {
    store_.Close();
    ASSERT_EQ(store_.Open(), 0) << LastError();
  }
};

TEST_F(FolderTest, TheFirstOpenSeedsTheFourteenDefaultFoldersInOrder) {
  // The names, as code points: inbox, card 1, card 1 not activated, card 2,
  // card 2 not activated, outbox, sent, drafts, discarded, cell broadcast,
  // voice mailbox (C), voice mailbox (G), notifications, expansion card.
  const std::vector<std::vector<char16_t>> names = {
      {0x6536, 0x4EF6, 0x7BB1},
      {0x5361, 0x31},
      {0x5361, 0x31, 0x672A, 0x6FC0, 0x6D3B},
      {0x5361, 0x32},
      {0x5361, 0x32, 0x672A, 0x6FC0, 0x6D3B},
      {0x53D1, 0x4EF6, 0x7BB1},
      {0x5DF2, 0x53D1, 0x9001},
      {0x8349, 0x7A3F, 0x7BB1},
      {0x5E9F, 0x4EF6, 0x7BB1},
      {0x5C0F, 0x533A, 0x5E7F, 0x64AD},
      {0x8BED, 0x97F3, 0x4FE1, 0x7BB1, 0x28, 0x43, 0x29},
      {0x8BED, 0x97F3, 0x4FE1, 0x7BB1, 0x28, 0x47, 0x29},
      {0x901A, 0x77E5, 0x7BB1},
      {0x6269, 0x5C55, 0x5361},
  };
  SmsFolder folders[20];
  uint32_t n = 0;
  ASSERT_EQ(store_.GetAllSmsFolder(folders, 20, n), 0);
  ASSERT_EQ(n, 14u);
  std::sort(folders, folders + n, [](auto& a, auto& b) { return a.FdId < b.FdId; });
  for (uint32_t i = 0; i < n; ++i) {
    const SmsFolder& f = folders[i];
    EXPECT_EQ(f.FdId, static_cast<int32_t>(i + 1));
    EXPECT_EQ(std::u16string(f.fname), std::u16string(names[i].begin(), names[i].end())) << i;
    EXPECT_EQ(f.system, 1);
    EXPECT_EQ(f.password, 0);
    EXPECT_EQ(f.privmode, 0);
    if (i > 0) {
      EXPECT_GT(f.id, folders[i - 1].id);  // added in number order
    }
  }
  // Opening again creates nothing; another user gets a set of their own.
  Reopen();
  EXPECT_EQ(Raw("select count(*) from SmsFolder"), "14\n");
  SmsDatabase other(2);
  ASSERT_EQ(other.Open(), 0);
  EXPECT_EQ(Raw("select count(*) from SmsFolder where UserID = 2"), "14\n");
  other.Close();
}

TEST_F(FolderTest, OpenSeedsOnlyTheNumbersAboveTheHighest) {
  Raw("delete from SmsFolder where UserID = 1 and FdId > 5");
  Reopen();
  EXPECT_EQ(Numbers(), "1:1,2:1,3:1,4:1,5:1,6:1,7:1,8:1,9:1,10:1,11:1,12:1,13:1,14:1\n");

  Raw("delete from SmsFolder where UserID = 1; insert into SmsFolder (FdId, fname, system, "
      "password, privmode, UserID) values (20, 'mine', 0, 0, 0, 1)");
  Reopen();
  EXPECT_EQ(Numbers(), "20:0\n");
}

TEST_F(FolderTest, AddNumbersAboveTheHighestAndOverridesNumberAndSystem) {
  SmsFolder rec = Traits<SmsFolder>::Make(1);
  rec.FdId = 3;
  rec.system = 1;
  uint32_t id = 0;
  ASSERT_EQ(store_.AddSmsFolder(rec, id), 0);
  EXPECT_EQ(rec.FdId, 15);
  EXPECT_EQ(rec.system, 0);
  EXPECT_EQ(static_cast<uint32_t>(rec.id), id);
  SmsFolder second = Traits<SmsFolder>::Make(2);
  uint32_t second_id = 0;
  ASSERT_EQ(store_.AddSmsFolder(second, second_id), 0);
  EXPECT_EQ(second.FdId, 16);
  // Deleting the highest frees its number for the next folder, unless
  // messages or filter rules still name it: they never join a new folder.
  ASSERT_EQ(store_.DeleteSmsFolder(second_id), 0);
  ASSERT_EQ(store_.AddSmsFolder(second, second_id), 0);
  EXPECT_EQ(second.FdId, 16);
  Raw("insert into SmsHead (fid, UserID) values (16, 1); insert into SmsFilter (folderid, "
      "UserID) values (17, 1)");
  ASSERT_EQ(store_.DeleteSmsFolder(second_id), 0);
  ASSERT_EQ(store_.AddSmsFolder(second, second_id), 0);
  EXPECT_EQ(second.FdId, 18);
  EXPECT_EQ(Numbers(), "1:1,2:1,3:1,4:1,5:1,6:1,7:1,8:1,9:1,10:1,11:1,12:1,13:1,14:1,15:0,18:0\n");
}

TEST_F(FolderTest, AddForAUserWithoutFoldersFailsAndInsertsNothing) {
  Raw("delete from SmsFolder where UserID = 1");
  SmsFolder rec = Traits<SmsFolder>::Make(1);
  const SmsFolder before = rec;
  uint32_t id = 9;
  EXPECT_EQ(store_.AddSmsFolder(rec, id), -1);
  EXPECT_EQ(id, 9u);
  EXPECT_EQ(std::memcmp(&rec, &before, sizeof rec), 0);
  EXPECT_EQ(Raw("select count(*) from SmsFolder where UserID = 1"), "0\n");
}

TEST_F(FolderTest, DefaultFoldersAreNeverDeleted) {
  SmsFolder rec = Traits<SmsFolder>::Make(1);
  uint32_t mine = 0;
  store_.AddSmsFolder(rec, mine);
  const std::string inbox = Raw("select id from SmsFolder where UserID = 1 and FdId = 1");
  EXPECT_EQ(store_.DeleteSmsFolder(static_cast<uint32_t>(std::stoul(inbox))), 0);
  EXPECT_EQ(Raw("select count(*) from SmsFolder where UserID = 1"), "15\n");
  EXPECT_EQ(store_.DeleteAllSmsFolder(), 0);
  EXPECT_EQ(Numbers(), "1:1,2:1,3:1,4:1,5:1,6:1,7:1,8:1,9:1,10:1,11:1,12:1,13:1,14:1\n");
}

TEST_F(FolderTest, UpdateChangesNamePasswordAndModeOnly) {
  const auto inbox = static_cast<uint32_t>(
      std::stoul(Raw("select id from SmsFolder where UserID = 1 and FdId = 1")));
  SmsFolder rec{};
  ASSERT_EQ(store_.GetSmsFolder(inbox, rec), 0);
  SetText(rec.fname, Sample(1, 39));  // the longest name a folder holds
  rec.password = 7;
  rec.privmode = -2;
  rec.FdId = 99;
  rec.system = 0;
  ASSERT_EQ(store_.UpdateSmsFolder(rec), 0);
  SmsFolder back{};
  ASSERT_EQ(store_.GetSmsFolder(inbox, back), 0);
  EXPECT_EQ(std::u16string(back.fname), Sample(1, 39));
  EXPECT_EQ(back.password, 7);
  EXPECT_EQ(back.privmode, -2);
  EXPECT_EQ(back.FdId, 1);
  EXPECT_EQ(back.system, 1);
}

TEST_F(FolderTest, CountsAndListsSeeTheDefaultFolders) {
  uint32_t n = 99;
  ASSERT_EQ(store_.GetSmsFolderCount(n), 0);
  EXPECT_EQ(n, 14u);
  SmsFolder three[3];
  ASSERT_EQ(store_.GetAllSmsFolder(three, 3, n), 0);
  EXPECT_EQ(n, 3u);
  ASSERT_EQ(store_.GetAllSmsFolder(three, 0, n), 0);
  EXPECT_EQ(n, 0u);
}

}  // namespace
}  // namespace zusms::testing
