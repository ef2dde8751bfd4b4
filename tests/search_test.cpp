// Searches and conversations answer from the index what reading every
// message answers, whoever changed the messages, the index behind or gone.
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "Exports.h"
#include "RecordTraits.h"
#include "TestDb.h"
#include "TextIndex.h"
#include "ZuSmsDB.h"

namespace zusms::testing {
namespace {

// The odd texts but the empty one, then the corpus sample (real messages,
// CC BY 4.0, see fixtures/README.md).
std::vector<std::u16string> Texts() {
  std::vector<std::u16string> texts(std::begin(kOddTexts) + 1, std::end(kOddTexts));
  std::ifstream corpus(ZUSMS_FIXTURES "/sms-corpus-sample.tsv");
  std::string line;
  std::getline(corpus, line);
  while (std::getline(corpus, line))
    texts.push_back(engine::ToUtf16(line.substr(line.find('\t') + 1)));
  return texts;
}

class SearchTest : public OpenStoreTest<SmsDatabase> {
 protected:
  uint32_t Add(const std::u16string& text, int batid = 0, int parts = 0, int index = 0,
               uint32_t user = 1) {
    SmsHead h{};
    h.fid = 1;
    h.batid = batid;
    h.longsms = static_cast<int16_t>(parts);
    h.index = static_cast<int16_t>(index);
    SetText(h.content, text.substr(0, 670));
    SetText(h.tel, kTels[random_() % std::size(kTels)]);
    SetText(h.name, kNames[random_() % std::size(kNames)]);
    SetText(h.recvtime, u"2024010" + std::u16string(1, u'1' + random_() % 9) + u"1200");
    uint32_t id = 0;
    StoreHandle other(user, user != 1);
    EXPECT_EQ((user == 1 ? &store_ : other)->AddSmsHead(h, id), 0) << LastError();
    return id;
  }

  // A term a person might type: part of a stored text, its case changed.
  std::u16string Term() {
    const std::u16string& t = texts_[random_() % texts_.size()];
    const size_t length = 1 + random_() % 6, at = random_() % t.size();
    std::u16string term = t.substr(at, length);
    for (char16_t& c : term)
      if (random_() % 3 == 0 && c < 0x80) c = static_cast<char16_t>(std::toupper(c));
    return term;
  }

  // Index and reading every message agree on random queries.
  void Agree(int queries) {
    // The index answers (a SQLite without FTS5 would read every row).
    std::vector<uint32_t> page;
    ASSERT_EQ(CMimerTextIndex::Search(HeadSearchSource(), 1, {u"a"}, 1, page, nullptr),
              CMimerTextWay::kIndex);
    for (int q = 0; q < queries; ++q) {
      std::u16string terms = Term();
      if (random_() % 2) terms += u" " + Term();
      if (random_() % 4 == 0) terms = u"\"" + terms + u"\"";
      const uint32_t flags = random_() % 8;
      std::vector<uint32_t> ids(20);
      uint32_t n = 0;
      uint64_t total = 0;
      const int32_t status =
          SearchZuSmsHead(&store_, terms.c_str(), flags, ids.data(), 20, &n, &total);
      CMimerTextQuery query{terms, (flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0};
      std::vector<uint32_t> scanned;
      uint64_t scanned_total = 0;
      try {
        CMimerTextIndex::Search(HeadSearchSource(), 1, query, 20, scanned, &scanned_total, true);
      } catch (const CMimerException&) {
        EXPECT_EQ(status, -1);  // nothing to look for
        continue;
      }
      ASSERT_EQ(status, 0) << LastError();
      ids.resize(n);
      ASSERT_EQ(ids, scanned) << engine::ToUtf8(terms) << " flags " << flags;
      ASSERT_EQ(total, scanned_total) << engine::ToUtf8(terms) << " flags " << flags;
    }
    AgreeOnConversations();
  }

  // The persons and a page of each one's messages, from the index and by
  // reading every message.
  void AgreeOnConversations() {
    std::vector<CMimerPerson> persons[2];
    uint64_t totals[2] = {0, 0};
    ASSERT_EQ(CMimerTextIndex::Persons(HeadSearchSource(), 1, 0, 100, persons[0], &totals[0]),
              CMimerTextWay::kIndex);
    CMimerTextIndex::Persons(HeadSearchSource(), 1, 0, 100, persons[1], &totals[1], true);
    ASSERT_EQ(totals[0], totals[1]);
    ASSERT_EQ(persons[0].size(), persons[1].size());
    for (size_t i = 0; i < persons[0].size(); ++i) {
      const CMimerPerson &a = persons[0][i], &b = persons[1][i];
      ASSERT_EQ(std::tie(a.key, a.entries, a.unread, a.locked, a.newest),
                std::tie(b.key, b.entries, b.unread, b.locked, b.newest))
          << engine::ToUtf8(a.key) << " / " << engine::ToUtf8(b.key);
    }
    for (const char16_t* number : kTels) {
      const uint64_t offset = random_() % 4;
      std::vector<uint32_t> ids[2];
      uint64_t total[2] = {0, 0};
      CMimerTextIndex::Conversation(HeadSearchSource(), 1, number, offset, 7, ids[0], &total[0]);
      CMimerTextIndex::Conversation(HeadSearchSource(), 1, number, offset, 7, ids[1], &total[1],
                                    true);
      ASSERT_EQ(ids[0], ids[1]) << engine::ToUtf8(number);
      ASSERT_EQ(total[0], total[1]) << engine::ToUtf8(number);
    }
  }

  // One person written four ways (in a store of region CN), a short code,
  // a sender's name.
  static constexpr const char16_t* kTels[] = {
      u"+8613800138000", u"138 0013 8000", u"0086-138-0013-8000",
      u"13800138000",    u"10086",         u"Amaz\u00f3n"};
  static constexpr const char16_t* kNames[] = {u"Jos\u00e9", u"\u5f20\u4e09", u""};
  std::mt19937 random_{7};
  std::vector<std::u16string> texts_ = Texts();
};

TEST_F(SearchTest, IndexAnswersWhatReadingEveryMessageAnswers) {
  std::vector<uint32_t> ids;
  for (int round = 0; round < 12; ++round) {
    // Another user's index beside it, from round 1 on: the user's own
    // start over then takes out its entries alone, not the whole index.
    if (round % 2) CMimerTextIndex::Refresh(HeadSearchSource(), 2);
    for (int i = 0; i < 40; ++i) {
      const std::u16string& text = texts_[random_() % texts_.size()];
      switch (random_() % 8) {
        case 6:  // read or unread, by the library
          if (!ids.empty()) store_.SetSmsHeadRead(ids[random_() % ids.size()], random_() % 2);
          break;
        case 7:  // locked by another program
          if (!ids.empty()) {
            Raw("UPDATE SmsHead SET lockflag = 1 - lockflag WHERE id = " +
                std::to_string(ids[random_() % ids.size()]));
          }
          break;
        case 0: {  // a long message, its text cut anywhere
          const int batid = 1 + static_cast<int>(random_() % 5);
          const std::u16string whole = text + texts_[random_() % texts_.size()];
          const size_t cut = random_() % whole.size();
          ids.push_back(Add(whole.substr(0, cut), batid, 2, 1));
          ids.push_back(Add(whole.substr(cut), batid, 2, 2));
          break;
        }
        case 1:  // another user's message
          Add(text, 0, 0, 0, 2);
          break;
        case 2:  // changed by the library
          if (!ids.empty()) {
            SmsHead h{};
            const uint32_t id = ids[random_() % ids.size()];
            if (store_.GetSmsHead(id, h) == 0) {
              SetText(h.content, text.substr(0, 670));
              EXPECT_EQ(store_.UpdateSmsHead(h), 0);
            }
          }
          break;
        case 3:  // changed and deleted by another program
          if (!ids.empty()) {
            const std::string id = std::to_string(ids[random_() % ids.size()]);
            static const std::string kChanges[] = {
                "DELETE FROM SmsHead WHERE id = ",
                "UPDATE SmsHead SET batid = 3, longsms = 2, \"index\" = 2 WHERE id = ",
                // A zero inside a text: the record's text ends there.
                "UPDATE SmsHead SET content = 'zebra' || char(0) || 'after' WHERE id = "};
            Raw(kChanges[random_() % 3] + id);
          }
          break;
        default:
          ids.push_back(Add(text));
      }
    }
    // The index behind, gone, or of another version: made anew.
    if (round == 4) Raw("DROP TABLE zu_search");
    if (round == 6) Raw("UPDATE zu_search_state SET token = token + 1000000");
    // Another region: the numbers are other persons.
    static const std::map<int, const char16_t*> kRegions = {{3, u"cn"}, {7, u"US"}, {11, u"CN"}};
    if (kRegions.contains(round)) {
      EXPECT_EQ(SetZuSmsSetting(&store_, u"region", kRegions.at(round)), 0);
    }
    if (round == 8) Raw("DROP TABLE zu_change_state");
    if (round == 2) {  // inside a batch, its own message found, by reading
      ASSERT_EQ(BeginZuSmsBatch(&store_), 0);
      Add(u"zq batch only");
      uint32_t found = 0, n = 0;
      EXPECT_EQ(SearchZuSmsHead(&store_, u"ZQ BATCH", 0, &found, 1, &n, nullptr), 0);
      EXPECT_EQ(n, 1u);
      ASSERT_EQ(RollbackZuSmsBatch(&store_), 0);
    }
    if (round == 8) {
      store_.Close();
      ASSERT_EQ(store_.Open(), 0) << LastError();
    }
    // Damage to the index: found by the check, made anew; damage a search
    // meets: the rows answer and the index is made anew.
    if (round == 10) {
      Raw("INSERT INTO zu_search_grams (zu_search_grams) VALUES ('delete-all')");
      EXPECT_EQ(CheckZuSmsIndexes(&store_, 0), 1);
      EXPECT_EQ(CheckZuSmsIndexes(&store_, 1), 1) << LastError();
    }
    if (round == 9) Raw("UPDATE zu_search_grams_data SET block = X'00' WHERE id > 10");
    // Damage that keeps FTS5 from opening the trigram index at all.
    if (round == 5) Raw("DROP TABLE zu_search_grams_idx");
    if (round == 1) Raw("UPDATE zu_search_grams_config SET v = 99 WHERE k = 'version'");
    // Another object where the index keeps a table, a table moved away.
    if (round == 7) Raw("DROP TABLE zu_search_persons; CREATE VIEW zu_search_persons AS SELECT 1");
    if (round % 4 == 1) {  // a trigger may share a table's name
      Raw("CREATE TRIGGER zu_search_state AFTER DELETE ON tbl_zu_user BEGIN SELECT 1; END");
    }
    if (round == 11) Raw("ALTER TABLE zu_search RENAME TO zu_search_moved");
    Agree(40);
    EXPECT_EQ(CheckZuSmsIndexes(&store_, 0), 0) << LastError();
  }
}

}  // namespace
}  // namespace zusms::testing
