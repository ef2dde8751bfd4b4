// Filtered and ordered queries: the rows that come back, and the filters that
// are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "RecordTraits.h"
#include "SmsDatabase.h"
#include "TestDb.h"

namespace zusms::testing {
namespace {

_MimerQueryFilterItem Num(int32_t field, int32_t op, int64_t value) {
  return {field, op, {.number = value}};
}
_MimerQueryFilterItem Text(int32_t field, int32_t op, const char16_t* text) {
  return {field, op, {.text = text}};
}

struct Filter {
  std::vector<_MimerQueryFilterItem> items;
  std::vector<_MimerQueryOrderItem> orders;
  int32_t join = 1;
  MimerQueryFilter filter{};
  MimerQueryFilter& Get() {
    return filter = {static_cast<uint32_t>(items.size()), items.empty() ? nullptr : items.data(),
                     join, static_cast<uint32_t>(orders.size()),
                     orders.empty() ? nullptr : orders.data()};
  }
};

class QueryTest : public OpenStoreTest<SmsDatabase> {
 protected:
  void SetUp() override {
    OpenStoreTest::SetUp();
    // User 1: twelve heads over folders 1 to 3; user 2: the same heads, which
    // match every filter that user 1's match.
    StoreHandle other(2);
    ASSERT_EQ(other.opened(), 0);
    const char16_t* names[] = {u"Alice", u"Bob", u"alice%", u"Carol_1", u"\u674e\u96f7", u"Dave"};
    for (int i = 0; i < 12; ++i) {
      SmsHead h = Traits<SmsHead>::Make(i);
      h.fid = i % 3 + 1;
      h.index = static_cast<int16_t>(i);
      SetText(h.name, names[i % 6]);
      SetText(h.createtime, u"2024010" + std::u16string(1, u'0' + i % 10) + u"12000" +
                                std::u16string(1, u'0' + i / 10));
      SetText(h.content, i % 4 == 0 ? u"meet at 5% off_sale" : u"see you later");
      uint32_t id = 0;
      ASSERT_EQ(store_.AddSmsHead(h, id), 0);
      mine_.push_back(h);
      ASSERT_EQ(other->AddSmsHead(h, id), 0);
    }
  }

  // The ids of user 1's heads that `pred` picks.
  template <typename Pred>
  std::set<uint32_t> Expected(Pred pred) {
    std::set<uint32_t> out;
    for (const SmsHead& h : mine_)
      if (pred(h)) out.insert(static_cast<uint32_t>(h.id));
    return out;
  }
  std::set<uint32_t> Ids(MimerQueryFilter filter) {
    std::vector<uint32_t> ids(64, 0);
    uint32_t n = 0;
    EXPECT_EQ(store_.QuerySmsHeadID(filter, ids.data(), 64, n), 0) << LastError();
    uint32_t count = 999;
    EXPECT_EQ(store_.QuerySmsHeadCount(filter, count), 0);
    EXPECT_EQ(count, n);
    return std::set<uint32_t>(ids.begin(), ids.begin() + n);
  }

  std::vector<SmsHead> mine_;
};

TEST_F(QueryTest, OrderingsAndConditionsThatDoNotFitRunNothing) {
  // Newest first, after enough conditions that the direction word would be
  // cut off: the query is refused rather than run oldest first.
  for (int i = 0; i < 3; ++i) {
    SmsHead h{};
    h.fid = 1;
    h.content[0] = u'x';
    SetText(h.recvtime, u"202" + std::u16string(1, u'0' + i) + u"0101120000");
    uint32_t id = 0;
    ASSERT_EQ(store_.AddSmsHead(h, id), 0) << LastError();
  }
  for (size_t conditions = 40; conditions < 70; ++conditions) {
    std::vector<_MimerQueryFilterItem> items(conditions, Text(10, ZU_OP_EQ, u"x"));
    Filter f{items, {{9, 2}}, 1};
    SmsHead recs[2];
    uint32_t n = 77;
    if (store_.QuerySmsHead(f.Get(), recs, 2, n) == 0) {
      ASSERT_EQ(n, 2u);
      EXPECT_EQ(engine::ToUtf8(recs[0].recvtime).substr(0, 4), "2022") << conditions;
    } else {
      EXPECT_EQ(n, 77u);
      EXPECT_NE(LastError().find("1024"), std::string::npos) << LastError();
    }
  }
  std::vector<_MimerQueryOrderItem> orders(200, _MimerQueryOrderItem{10, 2});
  Filter f{{Num(4, ZU_OP_EQ, 1)}, orders, 1};
  uint32_t n = 77;
  EXPECT_EQ(store_.QuerySmsHeadCount(f.Get(), n), -1);
  EXPECT_EQ(n, 77u);
}

// Not even a joiner or a separator, which would break the statement. `index`
// (a keyword of SQL, a 16-bit column) >= 9 also catches numbers compared as
// texts ("10" < "9").
TEST_F(QueryTest, UnknownCodesAddNothing) {
  Filter f{{Num(0, ZU_OP_EQ, 1), Num(4, ZU_OP_NONE, 0), Num(19, ZU_OP_EQ, 1), Num(2, ZU_OP_GE, 9)},
           {{0, 1}, {2, 2}, {19, 2}, {15, 7}},
           1};
  EXPECT_EQ(Ids(f.Get()), Expected([](const SmsHead& h) { return h.index >= 9; }));
  SmsHead recs[4];
  uint32_t n = 0;
  ASSERT_EQ(store_.QuerySmsHead(f.Get(), recs, 4, n), 0) << LastError();
  ASSERT_EQ(n, 3u);
  EXPECT_EQ(recs[0].index, 11);
  EXPECT_EQ(recs[2].index, 9);
  EXPECT_EQ(Ids(Filter{{Num(4, ZU_OP_NONE, 0)}, {{99, 1}}, 0}.Get()).size(), mine_.size());
}

TEST_F(QueryTest, EveryComparisonOnATextAndTheUuidAsSixteenBytes) {
  const struct {
    int32_t field, op;
    const char16_t* text;
    bool (*pick)(const std::u16string& name, const std::u16string& content);
  } cases[] = {
      {8, ZU_OP_EQ, u"Alice", [](auto& n, auto&) { return n == u"Alice"; }},
      {8, ZU_OP_NE, u"Alice", [](auto& n, auto&) { return n != u"Alice"; }},
      // Code point order: every ASCII name sorts before the Chinese one.
      {8, ZU_OP_LT, u"\u4e00", [](auto& n, auto&) { return n < u"\u4e00"; }},
      {8, ZU_OP_GE, u"Bob", [](auto& n, auto&) { return n >= u"Bob"; }},
      {8, ZU_OP_LE, u"Bob", [](auto& n, auto&) { return n <= u"Bob"; }},
      {8, ZU_OP_GT, u"Bob", [](auto& n, auto&) { return n > u"Bob"; }},
      // LIKE takes the caller's wildcards, ignoring ASCII case.
      {8, ZU_OP_LIKE, u"ALI%", [](auto& n, auto&) { return n == u"Alice" || n == u"alice%"; }},
      // Contains and begins-with match % and _ literally.
      {10, ZU_OP_CONTAINS, u"5% off_", [](auto&, auto& c) { return c.find(u"5% off_") != c.npos; }},
      {8, ZU_OP_BEGINS, u"alice%", [](auto& n, auto&) { return n == u"alice%"; }},
      {8, ZU_OP_CONTAINS, u"_", [](auto& n, auto&) { return n == u"Carol_1"; }},
      {8, ZU_OP_BEGINS, u"\u674e", [](auto& n, auto&) { return n == u"\u674e\u96f7"; }},
  };
  for (const auto& c : cases) {
    Filter f{{Text(c.field, c.op, c.text)}, {}, 1};
    EXPECT_EQ(Ids(f.Get()), Expected([&](const SmsHead& h) { return c.pick(h.name, h.content); }))
        << c.op << " " << engine::ToUtf8(c.text);
  }
  Filter f{{{18, ZU_OP_BYTES_EQ, {.bytes = mine_[5].uuid}}}, {}, 1};
  EXPECT_EQ(Ids(f.Get()), std::set<uint32_t>{static_cast<uint32_t>(mine_[5].id)});
}

TEST_F(QueryTest, OrJoinedFiltersNeverReachAnotherUsersHeads) {
  Filter f{{Num(4, ZU_OP_EQ, 1), Text(8, ZU_OP_EQ, u"Alice"), Num(1, ZU_OP_GT, 0)}, {}, 0};
  // Every head of mine matches id > 0, none of theirs.
  EXPECT_EQ(Ids(f.Get()), Expected([](const SmsHead&) { return true; }));
  // Several filters must all match.
  Filter a{{Num(4, ZU_OP_EQ, 1)}, {}, 1}, b{{Text(10, ZU_OP_CONTAINS, u"meet")}, {}, 1};
  MimerQueryFilter both[] = {a.Get(), b.Get()};
  uint32_t ids[16], n = 0;
  ASSERT_EQ(store_.CombineQuerySmsHeadID(both, 2, ids, 16, n), 0);
  EXPECT_EQ(std::set<uint32_t>(ids, ids + n), Expected([](const SmsHead& h) {
              return h.fid == 1 && std::u16string(h.content).find(u"meet") == 0;
            }));
  EXPECT_GT(n, 0u);
  uint32_t count = 0;
  ASSERT_EQ(store_.CombineQuerySmsHeadCount(both, 2, count), 0);
  EXPECT_EQ(count, n);
}

TEST_F(QueryTest, RecordsComeInTheRequestedOrderWithinTheCapacity) {
  Filter f{{Num(4, ZU_OP_EQ, 1)}, {{6, 2}}, 1};  // folder 1, newest first
  MimerQueryFilter& filter = f.Get();
  SmsHead recs[8];
  std::memset(recs, 0x11, sizeof recs);
  uint32_t n = 0;
  ASSERT_EQ(store_.QuerySmsHead(filter, recs, 8, n), 0);
  ASSERT_EQ(n, 4u);
  for (uint32_t i = 1; i < n; ++i)
    EXPECT_GT(std::u16string(recs[i - 1].createtime), std::u16string(recs[i].createtime));
  EXPECT_EQ(recs[4].id, 0x11111111);  // nothing beyond the matches

  // Fewer places than matches: the first ones, in order.
  SmsHead two[2];
  ASSERT_EQ(store_.QuerySmsHead(filter, two, 2, n), 0);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(two[0].id, recs[0].id);
  EXPECT_EQ(two[1].id, recs[1].id);
  ASSERT_EQ(store_.QuerySmsHead(filter, nullptr, 0, n), 0);
  EXPECT_EQ(n, 0u);

  // No match: 0 everywhere, arrays untouched.
  uint32_t ids[2] = {7, 7};
  ASSERT_EQ(store_.QuerySmsHeadID(Filter{{Num(4, ZU_OP_EQ, 99)}, {}, 1}.Get(), ids, 2, n), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(ids[0], 7u);
  // An empty filter selects all of the user's heads; null orders with a
  // count are skipped.
  MimerQueryFilter all{0, nullptr, 1, 3, nullptr};
  ASSERT_EQ(store_.QuerySmsHeadCount(all, n), 0);
  EXPECT_EQ(n, 12u);
}

TEST_F(QueryTest, FiltersTheStoreCannotHonourGiveMinusOneAndRunNothing) {
  const std::vector<_MimerQueryFilterItem> bad = {
      Num(4, 11, 1),                  // unknown comparison
      Num(4, -1, 1),                  // unknown comparison
      Num(4, ZU_OP_LIKE, 1),          // LIKE on a number
      Num(4, ZU_OP_BYTES_EQ, 1),      // bytes on a number
      Text(8, ZU_OP_EQ, nullptr),     // null text
      Text(8, ZU_OP_BYTES_EQ, u"x"),  // bytes on a text
      Num(2, ZU_OP_EQ, 40000),        // beyond 16 bits
      Num(4, ZU_OP_EQ, 1LL << 31),    // beyond 32 bits
      Text(18, ZU_OP_EQ, u"x"),       // the UUID compares only as bytes
      {18, ZU_OP_BYTES_EQ, {}},       // null bytes
  };
  for (const auto& item : bad) {
    Filter f{{Num(4, ZU_OP_EQ, 1), item}, {}, 0};
    uint32_t n = 55, ids[4] = {};
    SmsHead recs[2];
    EXPECT_EQ(QueryZuSmsHeadCount(&store_, &f.Get(), &n), -1);
    EXPECT_EQ(QueryZuSmsHeadID(&store_, &f.filter, ids, 4, &n), -1);
    EXPECT_EQ(QueryZuSmsHead(&store_, &f.filter, recs, 2, &n), -1);
    EXPECT_EQ(n, 55u);
  }
  uint32_t n = 55;
  MimerQueryFilter broken{2, nullptr, 1, 0, nullptr};  // items missing
  EXPECT_EQ(QueryZuSmsHeadCount(&store_, &broken, &n), -1);
  EXPECT_EQ(QueryZuSmsHeadCount(&store_, nullptr, &n), -1);
  EXPECT_EQ(CombineZuQuerySmsHeadCount(&store_, nullptr, 1, &n), -1);
  MimerQueryFilter empty{};
  EXPECT_EQ(CombineZuQuerySmsHeadCount(&store_, &empty, 0, &n), -1);
  EXPECT_EQ(CombineZuQuerySmsHead(&store_, &empty, 1, nullptr, 3, &n), -1);
  EXPECT_EQ(n, 55u);
}

// Folders have codes of their own: a head's code, or one beyond, adds nothing.
TEST_F(QueryTest, FolderQueriesTakeTheFoldersCodes) {
  Filter by_id{{}, {{ZU_FOLDER_ORDER_ID, 0}, {30, 2}}, 0};
  MimerQueryFilter& all = by_id.Get();
  uint32_t n = 0;
  ASSERT_EQ(store_.QuerySmsFolderCount(all, n), 0);
  EXPECT_EQ(n, 14u);
  SmsFolder listed[14], queried[14];
  std::memset(listed, 0, sizeof listed);
  std::memset(queried, 0, sizeof queried);
  uint32_t m = 0;
  ASSERT_EQ(store_.GetAllSmsFolder(listed, 14, m), 0);
  ASSERT_EQ(store_.QuerySmsFolder(all, queried, 14, n), 0);
  ASSERT_EQ(n, m);
  EXPECT_EQ(std::memcmp(listed, queried, sizeof listed), 0);

  Filter desc{
      {Num(23, ZU_OP_EQ, 1), Num(21, ZU_OP_LE, 10), Num(19, ZU_OP_EQ, 1), Num(26, ZU_OP_EQ, 1)},
      {{20, 2}, {21, 0}, {18, 1}, {25, 1}},
      1};
  SmsFolder two[2];
  ASSERT_EQ(store_.QuerySmsFolder(desc.Get(), two, 2, n), 0);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(two[0].FdId, 10);
  EXPECT_EQ(two[1].FdId, 9);
  uint32_t ids[4];
  Filter either{{Text(22, ZU_OP_EQ, u"\u6536\u4ef6\u7bb1"), Num(21, ZU_OP_EQ, 14)}, {}, 0};
  ASSERT_EQ(store_.QuerySmsFolderID(either.Get(), ids, 4, n), 0);
  EXPECT_EQ(n, 2u);
}

}  // namespace
}  // namespace zusms::testing
