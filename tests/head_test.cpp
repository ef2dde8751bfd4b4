// What only message heads do: the UUID, texts cut or refused, read state,
// multimedia messages.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "HexText.h"
#include "RecordFrame.h"
#include "RecordTraits.h"
#include "SmsDatabase.h"
#include "TestDb.h"
#include "UuidLibrary.h"

namespace zusms::testing {
namespace {

class HeadTest : public OpenStoreTest<SmsDatabase> {
 protected:
  void TearDown() override {
    g_uuid_library_name = platform::kUuidLibraryFile;
    OpenStoreTest::TearDown();
  }
  std::string Column(const std::string& column, uint32_t id) {
    return Raw("select " + column + " from SmsHead where id = " + std::to_string(id));
  }
  int32_t ReadState(SmsDatabase& store, uint32_t id) {
    int32_t read = -1;
    EXPECT_EQ(store.GetSmsHeadRead(id, read), 0) << LastError();
    return read;
  }
};

TEST_F(HeadTest, AValidUuidIsStoredAsGivenAndAnInvalidOneReplacedAndListedAsStored) {
  // Variants 10x (RFC 9562) and 110 (Microsoft; 0x88 is a GUID written in
  // Windows byte order) are kept; 0xx and 111 get a new random UUID.
  std::map<uint32_t, std::string> kept;
  for (const uint8_t variant : {0x80, 0x88, 0xBF, 0xC5, 0x00, 0x40, 0xE0}) {
    SCOPED_TRACE(static_cast<int>(variant));
    SmsHead rec = Traits<SmsHead>::Make(variant);
    if (variant < 0x80 || variant >= 0xE0) std::memset(rec.uuid, 0, 16);
    rec.uuid[8] = variant;
    const SmsHead given = rec;
    uint32_t id = 0, again = 0;
    ASSERT_EQ(store_.AddSmsHead(rec, id), 0);
    if (variant >= 0x80 && variant < 0xE0) {
      EXPECT_EQ(std::memcmp(rec.uuid, given.uuid, 16), 0);
    } else {
      EXPECT_EQ(rec.uuid[8] & 0xC0, 0x80);
      EXPECT_EQ(rec.uuid[6] >> 4, 4);  // version 4: random
    }
    EXPECT_EQ(Column("lower(hex(uuid))", id), ::Hex(rec.uuid) + "\n");
    ASSERT_EQ(store_.AddSmsHead(rec, again), 0);  // the same UUID in a second row
    kept[id] = kept[again] = std::string(reinterpret_cast<char*>(rec.uuid), 16);
  }
  stIDUUID list[16];
  uint32_t n = 0;
  ASSERT_EQ(GetAllZuSmsHeadIDUUID(&store_, list, 16, &n), 0);
  ASSERT_EQ(n, 14u);
  for (uint32_t i = 0; i < n; ++i)
    EXPECT_EQ(std::string(reinterpret_cast<char*>(list[i].uuid), 16), kept[list[i].id]);
  // The sync listings below the count: exactly that many, nothing beyond.
  std::memset(list, 0xAB, sizeof list);
  ASSERT_EQ(GetAllZuSmsHeadIDUUID(&store_, list, 4, &n), 0);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(list[4].id, 0xABABABABu);
  stIDModifyTime times[4];
  std::memset(times, 0xAB, sizeof times);
  ASSERT_EQ(GetAllZuSmsHeadIDModifyTime(&store_, times, 2, &n), 0);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(times[2].id, 0xABABABABu);

  // An update stores the UUID as given, valid or not.
  SmsHead rec = Traits<SmsHead>::Make(1);
  uint32_t id = 0;
  ASSERT_EQ(store_.AddSmsHead(rec, id), 0);
  std::memset(rec.uuid, 0, 16);
  ASSERT_EQ(store_.UpdateSmsHead(rec), 0);
  EXPECT_EQ(Column("lower(hex(uuid))", id), std::string(32, '0') + "\n");
}

// -1 naming the cause, record and id untouched, nothing stored; with a
// library that loads, an add with a valid UUID goes on.
TEST_F(HeadTest, WithoutAUuidLibraryThatWorksAnAddNeedingAUuidFailsAndTouchesNothing) {
  struct Case {
    const char16_t* library;
    std::string named;
    bool loads;
  };
  std::vector<Case> cases = {
      {u"libzusms-no-such-library", "libzusms-no-such-library", false},
      {kLibraryWithoutUuidFunctions, engine::ToUtf8(kLibraryWithoutUuidFunctions), false}};
#if !defined(_WIN32)  // a library whose random source fails, built for Linux only
  cases.push_back({u"libzuuuid-failing.so", "UUID", true});
#endif
  uint32_t stored = 0;
  for (const auto& [library, named, loads] : cases) {
    g_uuid_library_name = library;
    SmsHead rec = Traits<SmsHead>::Make(1);
    std::memset(rec.uuid, 0, 16);
    const SmsHead before = rec;
    uint32_t id = 77;
    EXPECT_EQ(AddZuSmsHead(&store_, &rec, &id), -1);
    EXPECT_EQ(id, 77u);
    EXPECT_EQ(std::memcmp(&rec, &before, sizeof rec), 0);
    EXPECT_NE(LastError().find(named), std::string::npos) << LastError();
    rec = Traits<SmsHead>::Make(2);
    if (loads) {
      EXPECT_EQ(AddZuSmsHead(&store_, &rec, &id), 0) << LastError();
      ++stored;
    }
  }
  EXPECT_EQ(Raw("select count(*) from SmsHead"), std::to_string(stored) + "\n");
}

// Unread only once marked, the user's own, stamped into ModifyTime when it
// changes, gone with its head; a row another program left never counts.
TEST_F(HeadTest, ReadStateIsKeptBesideTheHeadForItsUserOnly) {
  uint32_t a = 0, b = 0, n = 0, ids[4] = {};
  SmsHead ra = Traits<SmsHead>::Make(1), rb = Traits<SmsHead>::Make(2);
  ASSERT_EQ(store_.AddSmsHead(ra, a), 0);
  ASSERT_EQ(store_.AddSmsHead(rb, b), 0);
  EXPECT_EQ(ReadState(store_, a), 1);
  const std::string old = "2000-01-01 00:00:00";
  Raw("update SmsHead set ModifyTime = '" + old + "'");
  for (const uint32_t id : {a, b}) ASSERT_EQ(store_.SetSmsHeadRead(id, 0), 0) << LastError();
  EXPECT_NE(Column("ModifyTime", a), old + "\n");
  EXPECT_EQ(ReadState(store_, a), 0);
  Raw("update SmsHead set ModifyTime = '" + old + "'");
  ASSERT_EQ(store_.SetSmsHeadRead(a, 0), 0);  // unread already: nothing changes
  EXPECT_EQ(Column("ModifyTime", a), old + "\n");
  ASSERT_EQ(store_.GetAllSmsUnreadHeadID(ids, 4, n), 0);
  EXPECT_EQ(std::vector<uint32_t>(ids, ids + n), (std::vector<uint32_t>{a, b}));

  StoreHandle other(2);
  ASSERT_EQ(other.opened(), 0);
  int32_t read = -1;
  EXPECT_EQ(other->SetSmsHeadRead(a, 1), 100);
  EXPECT_EQ(other->GetSmsHeadRead(a, read), 100);
  ASSERT_EQ(other->GetSmsUnreadHeadCount(n), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(store_.SetSmsHeadRead(999999, 0), 100);
  EXPECT_FALSE(LastError().empty());

  ASSERT_EQ(store_.DeleteSmsHead(a), 0);
  EXPECT_EQ(Raw("select id from zu_head_unread"), std::to_string(b) + "\n");
  Raw("pragma foreign_keys=off; delete from SmsHead where id = " + std::to_string(b));
  ASSERT_EQ(store_.GetSmsUnreadHeadCount(n), 0);
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(store_.GetAllSmsUnreadHeadID(ids, 4, n), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Raw("select count(*) from zu_head_unread"), "1\n");
}

// Texts that read as SQL or patterns, and texts that begin or end with
// characters that show nothing, come back as given and match themselves
// literally (SQLite took a leading U+FEFF of a UTF-16 value for a byte
// order mark and dropped it). Unpaired surrogates cannot come back as
// given: refused, nothing stored.
TEST_F(HeadTest, OddTextsRoundTripExactlyAndMatchLiterallyBrokenOnesAreRefusedLongOnesCut) {
  std::vector<std::u16string> texts = {
      u"'; DROP TABLE SmsHead; --",
      u"100% _off_ \\ back\\slash \\%",
      u"\"quoted\" and 'single' ;;; ?? ?",
      u"select * from SmsHead where UserID=2",
      u"\U0001F600\U0001F468\u200D\U0001F469 \u4e2d\u6587 \uFFFD \u0001 \U0010FFFD",
  };
  for (const std::u16string c : {u"\uFEFF", u"\u200B", u"\u200C", u"\u200D", u"\u200E", u"\u200F",
                                 u"\u2060", u"\u00A0", u"\u0301", u"\uFEFF\uFEFF"})
    for (const std::u16string& text : {c + u"x", u"x" + c, c, c + u"x" + c}) texts.push_back(text);
  for (const std::u16string& text : texts) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<int>(text.begin(), text.end())));
    SmsHead rec = Traits<SmsHead>::Make(1);
    SetText(rec.content, text);
    SetText(rec.name, text.substr(0, 39));
    uint32_t id = 0;
    ASSERT_EQ(store_.AddSmsHead(rec, id), 0) << LastError();
    SmsHead back{};
    ASSERT_EQ(store_.GetSmsHead(id, back), 0);
    EXPECT_EQ(std::u16string(back.content), text);
    EXPECT_EQ(std::u16string(back.name), text.substr(0, 39));
    _MimerQueryFilterItem item{ZU_HEAD_CONTENT, ZU_OP_EQ, {.text = text.c_str()}};
    MimerQueryFilter filter{1, &item, 1, 0, nullptr};
    uint32_t n = 0;
    ASSERT_EQ(store_.QuerySmsHeadCount(filter, n), 0);
    EXPECT_EQ(n, 1u);
    ASSERT_EQ(store_.DeleteSmsHead(id), 0);
  }
  const std::u16string broken[] = {
      std::u16string(u"end ") + char16_t(0xD83D), std::u16string(1, char16_t(0xDE00)) + u" start",
      std::u16string(u"a") + char16_t(0xD800) + u"b", std::u16string(u"x") + char16_t(0xFFFF)};
  for (const std::u16string& text : broken) {
    SmsHead rec = Traits<SmsHead>::Make(2);
    SetText(rec.tel, text);
    uint32_t id = 0;
    EXPECT_EQ(store_.AddSmsHead(rec, id), -1);
    EXPECT_NE(LastError().find("a text holds"), std::string::npos) << LastError();
  }

  // The neighbouring field is never read as part of an unterminated text; one
  // longer than its field (another program's) is read cut.
  SmsHead rec = Traits<SmsHead>::Make(1);
  uint32_t id = 0;
  ASSERT_EQ(store_.AddSmsHead(rec, id), 0);
  SmsHead full = Traits<SmsHead>::Make(2);
  for (auto& c : full.operid) c = u'x';
  uint32_t unchanged = 5;
  EXPECT_EQ(store_.AddSmsHead(full, unchanged), -1);
  EXPECT_EQ(unchanged, 5u);
  full = rec;
  for (auto& c : full.tel) c = u'9';
  EXPECT_EQ(store_.UpdateSmsHead(full), -1);
  EXPECT_EQ(Raw("select count(*) from SmsHead"), "1\n");
  SmsHead back{};
  store_.GetSmsHead(id, back);
  EXPECT_EQ(std::memcmp(&back, &rec, sizeof back), 0);

  // 671 units, one past the field's 670: the cut falls inside U+1F600's pair.
  Raw("PRAGMA ignore_check_constraints=1; update SmsHead set content = printf('%.669c', 'a') || "
      "char(128512) where id = " +
      std::to_string(id));
  ASSERT_EQ(store_.GetSmsHead(id, back), 0) << LastError();
  EXPECT_EQ(std::u16string(back.content), std::u16string(669, u'a'));
  EXPECT_EQ(store_.UpdateSmsHead(back), 0) << LastError();  // what was read writes back
}

TEST_F(HeadTest, ListsStopAtTheLastRowWhenRowsVanishedAfterTheCount) {
  SmsHead rec{};
  uint32_t id = 0, n = 0;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(store_.AddSmsHead(rec = Traits<SmsHead>::Make(i), id), 0);
  // A count that announces more rows than the select finds.
  std::vector<SmsHead> recs(6);
  std::memset(recs.data(), 0x5A, recs.size() * sizeof(SmsHead));
  EXPECT_EQ(GetAllRows(
                u"select * from SmsHead where UserID=?", 1,
                [](uint32_t& total) {
                  total = 5;
                  return 0;
                },
                recs.data(), 6, n,
                [](SmsHead& r, CMimerRecordSet& rows) {
                  ReadFields(rows, &r, std::span<const Field>());
                  rows.GetValue("id", &r.id, sizeof r.id);
                }),
            0);
  EXPECT_EQ(n, 3u);
  std::vector<unsigned char> untouched(sizeof(SmsHead), 0x5A);
  EXPECT_EQ(std::memcmp(&recs[3], untouched.data(), sizeof(SmsHead)), 0);
}

// A head with the rows it owns: all or nothing, the user's own, gone with
// its head whoever deletes it.
TEST_F(HeadTest, AMultimediaMessageIsStoredWholeReadInPiecesAndGoesWithItsHead) {
  struct Input {
    SmsHead head = Traits<SmsHead>::Make(1);
    SmsMms mms{};
    SmsMmsAttribute attrs[2]{};
    SmsMmsPartData parts[2]{};
    SmsMmsAddress addrs[3]{};
    uint32_t addr_count = 3;
    int32_t Add(SmsDatabase& db, uint32_t& id) {
      return AddZuSmsMms(&db, &head, &mms, attrs, 2, parts, 2, addrs, addr_count, &id);
    }
  };
  std::vector<uint8_t> photo(300001);
  for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<uint8_t>(i * 31 + i / 997);
  Input in;
  SetText(in.mms.subject, u"Photos");
  SetText(in.mms.ctype, u"application/vnd.wap.multipart.related");
  in.mms.mtype = 132;
  SetText(in.attrs[0].name, u"m_id");
  SetText(in.attrs[0].value, u"x1");
  SetText(in.attrs[1].name, u"read");
  SetText(in.attrs[1].value, u"1");
  in.parts[0].part.seq = -1;
  SetText(in.parts[0].part.ctype, u"application/smil");
  in.parts[0].text = u"<smil>\U0001F600</smil>";
  SetText(in.parts[1].part.ctype, u"image/jpeg");
  SetText(in.parts[1].part.fname, u"photo.jpg");
  in.parts[1].data = photo.data();
  in.parts[1].part.datalen = static_cast<uint32_t>(photo.size());
  const int16_t roles[3] = {ZU_MMS_FROM, ZU_MMS_TO, ZU_MMS_CC};
  for (int i = 0; i < 3; ++i) {
    SetText(in.addrs[i].address, u"+4670000000" + std::u16string(1, u'0' + i));
    in.addrs[i].type = roles[i];
    SetText(in.addrs[i].charset, u"106");
  }
  auto rows = [&] {
    return Raw(
        "select (select count(*) from SmsHead), (select count(*) from zu_mms), (select "
        "count(*) from zu_mms_attr), (select count(*) from zu_mms_part), (select count(*) "
        "from zu_mms_addr)");
  };

  // Bad input: -1 with a reason, nothing stored, the caller's head as it was.
  using Bad = void (*)(Input&);
  const Bad kBad[] = {
      [](Input& i) { i.addr_count = 0; },                               // no address
      [](Input& i) { i.addrs[2].type = 1; },                            // an unknown role
      [](Input& i) { i.parts[1].part.datalen = ZU_MMS_PART_MAX + 1; },  // a part over the limit
      [](Input& i) { i.parts[1].data = nullptr; },                      // null data
      [](Input& i) { std::fill_n(i.mms.subject, std::size(i.mms.subject), u'x'); },  // unterminated
      [](Input& i) {
        static const std::u16string kLong(ZU_MMS_TEXT_MAX + 1, u'x');  // a text too long
        i.parts[0].text = kLong.c_str();
      },
  };
  // Attributes under the store's own names: what they name must be there,
  // once, and agree; what a backup writes from a column must agree with it.
  const std::u16string kLongAddress = u"+1555" + std::u16string(200, u'0');
  const struct {
    const char16_t *name, *value, *second;
  } kBadAttributes[] = {
      {u"addr:3", u"x1", nullptr},                         // no such address
      {u"part:01:cd", u"x1", nullptr},                     // no such part
      {u"part:1:cd", u"x1", u"part:1:cd"},                 // a part named twice
      {u"+", u"x1", nullptr},                              // a continuation of nothing
      {u"addr:0:address", kLongAddress.c_str(), nullptr},  // a value the column does not start
      {u"part:1:fn", u"x1", nullptr},                      // a column kept short
      {u"addr:0:type", u"x1", nullptr},                    // a role kept as text
      {u"sub", u"x1", nullptr},                            // another subject
      {u"ct_t", u"null", nullptr},                         // another content type
      {u"m_type", u"128", nullptr},                        // another message type
  };
  std::vector<Input> spoiled;
  for (const Bad spoil : kBad) spoil(spoiled.emplace_back(in));
  for (const auto& a : kBadAttributes) {
    Input& bad = spoiled.emplace_back(in);
    SetText(bad.attrs[0].name, a.name);
    SetText(bad.attrs[0].value, a.value);
    if (a.second) SetText(bad.attrs[1].name, a.second);
  }
  for (Input& bad : spoiled) {
    SCOPED_TRACE(&bad - spoiled.data());
    uint32_t id = 77;
    EXPECT_EQ(bad.Add(store_, id), -1);
    EXPECT_FALSE(LastError().empty());
    EXPECT_EQ(id, 77u);
    EXPECT_EQ(bad.head.id, in.head.id);
  }
  EXPECT_EQ(AddZuSmsMms(&store_, &in.head, nullptr, nullptr, 0, nullptr, 0, in.addrs, 1, nullptr),
            -1);
  EXPECT_EQ(rows(), "0|0|0|0|0\n");

  uint32_t id = 0;
  ASSERT_EQ(in.Add(store_, id), 0) << LastError();
  EXPECT_EQ(in.head.id, static_cast<int32_t>(id));
  EXPECT_EQ(rows(), "1|1|2|2|3\n");

  SmsMms mms{};
  uint32_t counts[3] = {};
  ASSERT_EQ(GetZuSmsMms(&store_, id, &mms, &counts[0], &counts[1], &counts[2]), 0);
  EXPECT_EQ(std::u16string(mms.subject), u"Photos");
  EXPECT_EQ(mms.mtype, 132);
  EXPECT_EQ(std::vector<uint32_t>(counts, counts + 3), (std::vector<uint32_t>{2, 2, 3}));
  SmsMmsAttribute attrs[3];
  SmsMmsPart parts[3];
  SmsMmsAddress addrs[4];
  uint32_t n = 0;
  ASSERT_EQ(GetAllZuSmsMmsAttribute(&store_, id, attrs, 3, &n), 0);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(std::u16string(attrs[1].name) + attrs[1].value, u"read1");
  ASSERT_EQ(GetAllZuSmsMmsPart(&store_, id, parts, 3, &n), 0);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(parts[0].seq, -1);
  EXPECT_EQ(parts[0].textlen, 15u);  // UTF-16 units
  EXPECT_EQ(parts[0].datalen, 0u);
  EXPECT_EQ(std::u16string(parts[1].fname), u"photo.jpg");
  EXPECT_EQ(parts[1].datalen, photo.size());
  ASSERT_EQ(GetAllZuSmsMmsAddress(&store_, id, addrs, 2, &n), 0);  // capacity holds
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(addrs[0].type, ZU_MMS_FROM);
  EXPECT_EQ(std::u16string(addrs[1].address), u"+46700000001");

  char16_t text[10];
  uint32_t length = 0;
  ASSERT_EQ(GetZuSmsMmsPartText(&store_, id, 0, text, 8, &length), 0);
  EXPECT_EQ(length, 15u);
  EXPECT_EQ(std::u16string(text), u"<smil>");  // never half a surrogate pair
  std::vector<uint8_t> back;
  uint8_t piece[65536];
  uint32_t read = 0;
  while (GetZuSmsMmsPartData(&store_, id, 1, back.size(), piece, sizeof piece, &read) == 0 &&
         read > 0)
    back.insert(back.end(), piece, piece + read);
  EXPECT_EQ(back, photo);
  EXPECT_EQ(GetZuSmsMmsPartData(&store_, id, 2, 0, piece, sizeof piece, &read), 100);
  EXPECT_EQ(GetZuSmsMms(&store_, id + 1000, &mms, &n, &n, &n), 100);
  EXPECT_EQ(GetZuSmsMmsPartData(&store_, id, 1, 0, nullptr, 1, &read), -1);

  // Another user sees nothing of it and deletes nothing of it.
  StoreHandle other(2);
  ASSERT_EQ(other.opened(), 0);
  EXPECT_EQ(GetZuSmsMms(other, id, &mms, &n, &n, &n), 100);
  EXPECT_EQ(GetZuSmsMmsPartData(other, id, 1, 0, piece, sizeof piece, &read), 100);
  EXPECT_EQ(GetAllZuSmsMmsPart(other, id, parts, 3, &n), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(DeleteZuSmsHead(other, id), 0);
  EXPECT_EQ(DeleteAllZuSmsHead(other), 0);
  EXPECT_EQ(rows(), "1|1|2|2|3\n");

  // Gone with its head: the library's delete, and another program's.
  EXPECT_EQ(DeleteZuSmsHead(&store_, id), 0);
  EXPECT_EQ(rows(), "0|0|0|0|0\n");
  ASSERT_EQ(in.Add(store_, id), 0);
  EXPECT_EQ(DeleteAllZuSmsHead(&store_), 0);
  EXPECT_EQ(rows(), "0|0|0|0|0\n");
  ASSERT_EQ(in.Add(store_, id), 0);
  Raw("delete from SmsHead");
  EXPECT_EQ(rows(), "0|0|0|0|0\n");

  // In a batch, a call that fails having written nothing leaves the batch
  // alone; one that fails having written fails it whole.
  ASSERT_EQ(BeginZuSmsBatch(&store_), 0);
  ASSERT_EQ(in.Add(store_, id), 0);
  EXPECT_EQ(GetZuSmsMms(&store_, id + 1000, &mms, &n, &n, &n), 100);
  ASSERT_EQ(in.Add(store_, id), 0) << LastError();
  ASSERT_EQ(CommitZuSmsBatch(&store_), 0) << LastError();
  EXPECT_EQ(rows(), "2|2|4|4|6\n");
  Raw("create trigger refuse before insert on zu_mms_addr begin select raise(abort, 'no'); end");
  SmsHead plain = Traits<SmsHead>::Make(2);
  ASSERT_EQ(BeginZuSmsBatch(&store_), 0);
  ASSERT_EQ(AddZuSmsHead(&store_, &plain, &id), 0);
  EXPECT_EQ(in.Add(store_, id), -1);
  EXPECT_EQ(AddZuSmsHead(&store_, &plain, &id), -1);
  EXPECT_EQ(CommitZuSmsBatch(&store_), -1);
  EXPECT_EQ(rows(), "2|2|4|4|6\n");
  EXPECT_EQ(Raw("select count(*) from SmsHead"), "2\n");
}

}  // namespace
}  // namespace zusms::testing
