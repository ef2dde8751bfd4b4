// Finding messages by their text, and by the person they are with: the
// index on message heads (search/TextIndex.h) and the exported search and
// conversation listings.
#include <algorithm>
#include <functional>
#include <iterator>
#include <vector>

#include "Boundary.h"
#include "Exports.h"
#include "SmsDatabase.h"
#include "TextIndex.h"

namespace {

// Heads as the search reads them: a long message's parts share their
// batid and number, are joined in index order, and the message is found
// by its first part's id. Followed in the change log as family 1, as the
// synchronisation listings file them. A message is locked by its lockflag,
// unread by its row in zu_head_unread (messages/ReadState.cpp, whose
// changes stamp the head), and its person is read by the user's setting
// "region" (store/Settings.cpp).
constexpr CMimerTextSource kHeads = {
    {1, "SmsHead", "uuid", "ModifyTime"},
    "content",
    "tel",
    "name",
    "recvtime",
    "batid",
    "longsms",
    "index",
    "lockflag",
    "zu_head_unread",
    "SELECT SettingValue FROM tbl_zu_sms_setting WHERE UserID = ?1 AND SettingName = 'region'"};

constexpr uint32_t kFlags = ZU_SEARCH_ACCENTS | ZU_SEARCH_ANYWHERE | ZU_SEARCH_OLDEST;

}  // namespace

const CMimerTextSource& zusms::HeadSearchSource() { return kHeads; }

int32_t SmsDatabase::SearchSmsHead(const char16_t* terms, uint32_t flags, uint32_t* ids,
                                   uint32_t capacity, uint32_t& n, uint64_t* total) {
  return zusms::Guard([&] {
    if (!terms) throw CMimerException(u"null search terms", -1);
    if (!ids && capacity > 0) throw CMimerException(u"a null id array", -1);
    if ((flags & ~kFlags) != 0) throw CMimerException(u"unknown search flags", -1);
    CMimerTextQuery query;
    query.terms = terms;
    query.accents = (flags & ZU_SEARCH_ACCENTS) != 0;
    query.anywhere = (flags & ZU_SEARCH_ANYWHERE) != 0;
    query.oldest = (flags & ZU_SEARCH_OLDEST) != 0;
    std::vector<uint32_t> found;
    uint64_t all = 0;
    CMimerTextIndex::Search(kHeads, m_UserID, query, capacity, found, total ? &all : nullptr);
    std::copy(found.begin(), found.end(), ids);
    n = static_cast<uint32_t>(found.size());
    if (total) *total = all;
    return 0;
  });
}

int32_t SmsDatabase::ListSmsPersons(uint32_t offset, stSmsPerson* items, uint32_t capacity,
                                    uint32_t& n, uint64_t* total) {
  return zusms::Guard([&] {
    if (!items && capacity > 0) throw CMimerException(u"a null person array", -1);
    std::vector<CMimerPerson> persons;
    uint64_t all = 0;
    CMimerTextIndex::Persons(kHeads, m_UserID, offset, capacity, persons, total ? &all : nullptr);
    for (size_t i = 0; i < persons.size(); ++i) {
      stSmsPerson& out = items[i];
      const std::u16string& key = persons[i].key;
      size_t cut = std::min<size_t>(key.size(), ZU_PERSON_MAX);
      // Never half of a surrogate pair.
      if (cut < key.size() && cut > 0 && key[cut - 1] >= 0xD800 && key[cut - 1] <= 0xDBFF) --cut;
      std::fill(std::begin(out.person), std::end(out.person), u'\0');
      std::copy_n(key.begin(), cut, out.person);
      out.messages = static_cast<uint32_t>(persons[i].entries);
      out.unread = static_cast<uint32_t>(persons[i].unread);
      out.locked = static_cast<uint32_t>(persons[i].locked);
      out.newest = static_cast<uint32_t>(persons[i].newest);
    }
    n = static_cast<uint32_t>(persons.size());
    if (total) *total = all;
    return 0;
  });
}

int32_t SmsDatabase::ListSmsConversation(const char16_t* number, uint32_t offset, uint32_t* ids,
                                         uint32_t capacity, uint32_t& n, uint64_t* total) {
  return zusms::Guard([&] {
    if (!number) throw CMimerException(u"a null number", -1);
    if (!ids && capacity > 0) throw CMimerException(u"a null id array", -1);
    std::vector<uint32_t> found;
    uint64_t all = 0;
    CMimerTextIndex::Conversation(kHeads, m_UserID, number, offset, capacity, found,
                                  total ? &all : nullptr);
    std::copy(found.begin(), found.end(), ids);
    n = static_cast<uint32_t>(found.size());
    if (total) *total = all;
    return 0;
  });
}

int32_t SmsDatabase::RefreshSmsIndexes(const std::function<void(uint64_t)>& progress) {
  return zusms::Guard([&] {
    CMimerTextIndex::Refresh(kHeads, m_UserID, progress);
    return 0;
  });
}

int32_t SmsDatabase::CheckSmsIndexes(int32_t repair) {
  return zusms::Guard([&] {
    const std::string problem = CMimerTextIndex::Verify(kHeads, m_UserID);
    if (problem.empty()) return 0;
    if (repair) CMimerTextIndex::Discard();
    zusms::engine::SetLastErrorUtf8(problem);
    return 1;
  });
}

extern "C" {

ZUSMS_API int32_t ZUSMS_CALL SearchZuSmsHead(SmsDatabase* h, const char16_t* terms, uint32_t flags,
                                             uint32_t* ids, uint32_t capacity, uint32_t* n,
                                             uint64_t* total) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.SearchSmsHead(terms, flags, ids, capacity, zusms::Ref(n, "n"), total);
  });
}

ZUSMS_API int32_t ZUSMS_CALL RefreshZuSmsIndexes(SmsDatabase* h,
                                                 void(ZUSMS_CALL* progress)(uint64_t, void*),
                                                 void* context) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.RefreshSmsIndexes([&](uint64_t done) {
      if (progress) progress(done, context);
    });
  });
}

ZUSMS_API int32_t ZUSMS_CALL ListZuSmsPersons(SmsDatabase* h, uint32_t offset, stSmsPerson* items,
                                              uint32_t capacity, uint32_t* n, uint64_t* total) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.ListSmsPersons(offset, items, capacity, zusms::Ref(n, "n"), total);
  });
}

ZUSMS_API int32_t ZUSMS_CALL ListZuSmsConversation(SmsDatabase* h, const char16_t* number,
                                                   uint32_t offset, uint32_t* ids,
                                                   uint32_t capacity, uint32_t* n,
                                                   uint64_t* total) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.ListSmsConversation(number, offset, ids, capacity, zusms::Ref(n, "n"), total);
  });
}

ZUSMS_API int32_t ZUSMS_CALL CheckZuSmsIndexes(SmsDatabase* h, int32_t repair) {
  return zusms::Call(h, [&](SmsDatabase& db) { return db.CheckSmsIndexes(repair); });
}

}  // extern "C"
