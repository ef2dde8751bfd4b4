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

constexpr const char* kDefaults = "1:1,2:1,3:1,4:1,5:1,6:1,7:1,8:1,9:1,10:1,11:1,12:1,13:1,14:1\n";

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

// Inbox, card 1, card 1 not activated, card 2, card 2 not activated, outbox,
// sent, drafts, discarded, cell broadcast, voice mailbox (C), voice mailbox
// (G), notifications, expansion card: in number order, system 1, no password
// or private mode.
TEST_F(FolderTest, TheFirstOpenSeedsTheFourteenDefaultFoldersInOrder) {
  EXPECT_EQ(
      Raw("select group_concat(FdId || fname || system || password || privmode, '|') from "
          "(select * from SmsFolder where UserID = 1 order by id)"),
      "1\u6536\u4EF6\u7BB1100|2\u53611100|3\u53611\u672A\u6FC0\u6D3B100|4\u53612100|"
      "5\u53612\u672A\u6FC0\u6D3B100|6\u53D1\u4EF6\u7BB1100|7\u5DF2\u53D1\u9001100|"
      "8\u8349\u7A3F\u7BB1100|9\u5E9F\u4EF6\u7BB1100|10\u5C0F\u533A\u5E7F\u64AD100|"
      "11\u8BED\u97F3\u4FE1\u7BB1(C)100|12\u8BED\u97F3\u4FE1\u7BB1(G)100|13\u901A\u77E5\u7BB1100|"
      "14\u6269\u5C55\u5361100\n");
}

// Opening again creates nothing but the missing numbers above the highest;
// without folders a user cannot add one.
TEST_F(FolderTest, OpenSeedsOnlyTheNumbersAboveTheHighest) {
  Raw("delete from SmsFolder where UserID = 1 and FdId > 5");
  Reopen();
  EXPECT_EQ(Numbers(), kDefaults);

  Raw("delete from SmsFolder where UserID = 1");
  SmsFolder rec = Traits<SmsFolder>::Make(1);
  const SmsFolder before = rec;
  uint32_t id = 9;
  EXPECT_EQ(store_.AddSmsFolder(rec, id), -1);
  EXPECT_EQ(id, 9u);
  EXPECT_EQ(std::memcmp(&rec, &before, sizeof rec), 0);
  EXPECT_EQ(Numbers(), "NULL\n");
  Raw("insert into SmsFolder (FdId, fname, system, password, privmode, UserID) values (20, "
      "'mine', 0, 0, 0, 1)");
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
  EXPECT_EQ(Numbers(), std::string(kDefaults, 60) + ",15:0,18:0\n");
}

// The defaults are never deleted; an update changes a folder's name,
// password and mode, never its number or system flag.
TEST_F(FolderTest, DefaultFoldersAreNeverDeletedAndUpdatesKeepNumberAndSystem) {
  SmsFolder rec = Traits<SmsFolder>::Make(1);
  uint32_t mine = 0;
  store_.AddSmsFolder(rec, mine);
  const auto inbox = static_cast<uint32_t>(
      std::stoul(Raw("select id from SmsFolder where UserID = 1 and FdId = 1")));
  EXPECT_EQ(store_.DeleteSmsFolder(inbox), 0);
  EXPECT_EQ(Raw("select count(*) from SmsFolder where UserID = 1"), "15\n");
  EXPECT_EQ(store_.DeleteAllSmsFolder(), 0);
  EXPECT_EQ(Numbers(), kDefaults);

  ASSERT_EQ(store_.GetSmsFolder(inbox, rec), 0);
  rec.password = 7;
  rec.privmode = -2;
  rec.FdId = 99;
  rec.system = 0;
  ASSERT_EQ(store_.UpdateSmsFolder(rec), 0);
  EXPECT_EQ(Raw("select FdId, system, password, privmode from SmsFolder where id = " +
                std::to_string(inbox)),
            "1|1|7|-2\n");
}

// The queries through the C boundary: the user's folders that match, in the
// order asked, no more than the capacity; a filter that cannot run returns
// -1 and leaves the count alone.
TEST_F(FolderTest, FolderQueriesReturnTheUsersMatchingFoldersUpToTheCapacity) {
  SmsFolder mine = Traits<SmsFolder>::Make(1), theirs = mine;
  uint32_t id = 0, their_id = 0;
  ASSERT_EQ(store_.AddSmsFolder(mine, id), 0);
  StoreHandle other(2);
  ASSERT_EQ(other.opened(), 0);
  ASSERT_EQ(other->AddSmsFolder(theirs, their_id), 0);  // the same name, user 2's

  _MimerQueryFilterItem item{ZU_FOLDER_SYSTEM, ZU_OP_EQ, {1}};
  _MimerQueryOrderItem order{ZU_FOLDER_ORDER_FDID, 2};
  MimerQueryFilter filter{1, &item, 1, 1, &order};
  uint32_t n = 0, ids[4] = {0, 0, 0, 0};
  ASSERT_EQ(QueryZuSmsFolderCount(&store_, &filter, &n), 0);
  EXPECT_EQ(n, 14u);
  ASSERT_EQ(QueryZuSmsFolderID(&store_, &filter, ids, 3, &n), 0) << LastError();
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(std::to_string(ids[0]) + "\n",
            Raw("select id from SmsFolder where UserID = 1 and FdId = 14"));
  EXPECT_EQ(ids[3], 0u);
  SmsFolder recs[16]{};
  ASSERT_EQ(QueryZuSmsFolder(&store_, &filter, recs, 16, &n), 0) << LastError();
  ASSERT_EQ(n, 14u);
  EXPECT_EQ(recs[0].FdId, 14);
  EXPECT_EQ(recs[13].FdId, 1);
  EXPECT_EQ(recs[14].id, 0);

  item = {ZU_FOLDER_FNAME, ZU_OP_EQ, {}};
  item.value.text = mine.fname;
  filter.orderCount = 0;
  ASSERT_EQ(QueryZuSmsFolder(&store_, &filter, recs, 16, &n), 0) << LastError();
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(recs[0].id, static_cast<int32_t>(id));
  EXPECT_EQ(recs[0].FdId, 15);

  const _MimerQueryFilterItem kBad[] = {
      {ZU_FOLDER_PASSWORD, ZU_OP_LIKE, {1}},    // a pattern on a number
      {ZU_FOLDER_SYSTEM, ZU_OP_EQ, {1 << 16}},  // outside the field's 16 bits
      {ZU_FOLDER_FNAME, 99, {}},                // no such operator
  };
  for (const _MimerQueryFilterItem& bad : kBad) {
    item = bad;
    n = 77;
    EXPECT_EQ(QueryZuSmsFolder(&store_, &filter, recs, 16, &n), -1);
    EXPECT_EQ(QueryZuSmsFolderID(&store_, &filter, ids, 4, &n), -1);
    EXPECT_EQ(QueryZuSmsFolderCount(&store_, &filter, &n), -1);
    EXPECT_EQ(n, 77u);
    EXPECT_FALSE(LastError().empty());
  }
  EXPECT_EQ(QueryZuSmsFolder(&store_, nullptr, recs, 16, &n), -1);
  EXPECT_EQ(QueryZuSmsFolderID(&store_, nullptr, ids, 4, &n), -1);
}

// Folders that cannot be written or numbered: the add fails with -1, its
// reason and nothing stored; an open cannot seed a new user's folders.
TEST_F(FolderTest, AFolderThatCannotBeWrittenOrNumberedFailsTheAdd) {
  Raw("create trigger refuse before insert on SmsFolder begin select raise(abort, 'no "
      "folders'); end");
  SmsFolder rec = Traits<SmsFolder>::Make(1);
  uint32_t id = 9;
  EXPECT_EQ(store_.AddSmsFolder(rec, id), -1);
  EXPECT_EQ(id, 9u);
  EXPECT_NE(LastError().find("no folders"), std::string::npos) << LastError();
  {
    const Deny deny(SQLITE_READ, "fid");  // the messages still naming a number
    EXPECT_EQ(store_.AddSmsFolder(rec, id), -1);
    EXPECT_NE(LastError().find("fid"), std::string::npos) << LastError();
  }
  {
    const Deny deny(SQLITE_FUNCTION, "max");  // the highest number
    EXPECT_EQ(store_.AddSmsFolder(rec, id), -1);
    EXPECT_NE(LastError().find("not authorized"), std::string::npos) << LastError();
  }
  SmsDatabase other(2);  // a new user's open that cannot seed its folders fails
  EXPECT_EQ(other.Open(), -1);
  EXPECT_NE(LastError().find("no folders"), std::string::npos) << LastError();
  other.Close();
  EXPECT_EQ(Raw("select count(*) from SmsFolder"), "14\n");
}

}  // namespace
}  // namespace zusms::testing
