// Changes since a token: the change log on message heads and folders, set up
// when a store opens, and the listings a synchronisation partner polls.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Boundary.h"
#include "ChangeLog.h"
#include "Exports.h"
#include "RecordFrame.h"
#include "SmsDatabase.h"

namespace {

// The log files heads under family 1 with their UUID as the key, folders
// under 2 without one.
constexpr CMimerTrackedTable kHeads = {1, "SmsHead", "uuid", "ModifyTime"};
constexpr CMimerTrackedTable kFolders = {2, "SmsFolder", nullptr, nullptr};
constexpr CMimerTrackedTable kTracked[] = {kHeads, kFolders};

// The kinds of stSmsChange.
constexpr int32_t kAddedOrChanged = 1;
constexpr int32_t kDeleted = 2;

static_assert(sizeof(stSmsChange::uuid) == CMimerChange::kKeyBytes);

constexpr int64_t kDefaultTombstoneDays = 180;

// ZUSMS_TOMBSTONE_DAYS: how long a deleted record's tombstone is kept; a
// value that is not a whole number from 0 up keeps the default.
int64_t TombstoneDays() {
  const char* text = std::getenv("ZUSMS_TOMBSTONE_DAYS");
  if (!text || !*text) return kDefaultTombstoneDays;
  char* end = nullptr;
  const long long days = std::strtoll(text, &end, 10);
  if (*end != '\0' || days < 0) return kDefaultTombstoneDays;
  return days;
}

int32_t ListChanges(const CMimerTrackedTable& table, uint32_t user, uint64_t since,
                    stSmsChange* items, uint32_t capacity, uint32_t& n, uint64_t& next) {
  return zusms::Guard([&]() -> int32_t {
    if (!items && capacity > 0) throw CMimerException(u"a null change array", -1);
    std::vector<CMimerChange> changes;
    const char* why = nullptr;
    if (!CMimerChangeLog::List(table, user, since, capacity, changes, next, why)) {
      zusms::engine::SetLastErrorUtf8(std::string("list everything again: ") + why);
      return ZU_RESYNC;
    }
    for (size_t i = 0; i < changes.size(); ++i) {
      const CMimerChange& change = changes[i];
      items[i].id = change.id;
      std::memcpy(items[i].uuid, change.key, sizeof items[i].uuid);
      items[i].kind = change.deleted ? kDeleted : kAddedOrChanged;
      items[i].modifyTime = zusms::DateTimeOf(change.time);
    }
    n = static_cast<uint32_t>(changes.size());
    return 0;
  });
}

// The exported listings of both families: the handle and the out-values
// checked, then the method.
int32_t ForwardList(SmsDatabase* h,
                    int32_t (SmsDatabase::*list)(uint64_t, stSmsChange*, uint32_t, uint32_t&,
                                                 uint64_t&),
                    uint64_t since, stSmsChange* items, uint32_t capacity, uint32_t* n,
                    uint64_t* next) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return (db.*list)(since, items, capacity, zusms::Ref(n, "n"), zusms::Ref(next, "next"));
  });
}

}  // namespace

int32_t SmsDatabase::OpenChangeLog() {
  return zusms::Guard([] {
    CMimerChangeLog::Ensure(kTracked);
    CMimerChangeLog::Prune(TombstoneDays());
    return 0;
  });
}

bool SmsDatabase::ChangeLogInPlace() { return CMimerChangeLog::InPlace(kTracked, TombstoneDays()); }

int32_t SmsDatabase::GetSmsChangeToken(uint64_t& token) {
  return zusms::Guard([&]() -> int32_t {
    if (CMimerChangeLog::Token(token)) return 0;
    zusms::engine::SetLastError(u"list everything again: the file keeps no change log");
    return ZU_RESYNC;
  });
}

int32_t SmsDatabase::ListSmsHeadChanges(uint64_t since, stSmsChange* items, uint32_t capacity,
                                        uint32_t& n, uint64_t& next) {
  return ListChanges(kHeads, m_UserID, since, items, capacity, n, next);
}

int32_t SmsDatabase::ListSmsFolderChanges(uint64_t since, stSmsChange* items, uint32_t capacity,
                                          uint32_t& n, uint64_t& next) {
  return ListChanges(kFolders, m_UserID, since, items, capacity, n, next);
}

extern "C" {

ZUSMS_API int32_t ZUSMS_CALL GetZuSmsChangeToken(SmsDatabase* h, uint64_t* token) {
  return zusms::Call(
      h, [&](SmsDatabase& db) { return db.GetSmsChangeToken(zusms::Ref(token, "token")); });
}

ZUSMS_API int32_t ZUSMS_CALL ListZuSmsHeadChanges(SmsDatabase* h, uint64_t since,
                                                  stSmsChange* items, uint32_t capacity,
                                                  uint32_t* n, uint64_t* next) {
  return ForwardList(h, &SmsDatabase::ListSmsHeadChanges, since, items, capacity, n, next);
}

ZUSMS_API int32_t ZUSMS_CALL ListZuSmsFolderChanges(SmsDatabase* h, uint64_t since,
                                                    stSmsChange* items, uint32_t capacity,
                                                    uint32_t* n, uint64_t* next) {
  return ForwardList(h, &SmsDatabase::ListSmsFolderChanges, since, items, capacity, n, next);
}

}  // extern "C"
