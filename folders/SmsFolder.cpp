// Folders: the record pattern with departures of their own. The store numbers
// folders itself (FdId, one above the user's highest, past the numbers that
// messages or filter rules of a deleted folder still name), seeds the fourteen
// default folders, and never deletes them (system 1). A missing folder is
// 100 for Update and -1 for Get, whose pre-check binds the user first; the
// count clears `n` first.
#include "Boundary.h"
#include "FamilyMethods.h"
#include "RecordFrame.h"
#include "SmsDatabase.h"
#include "Transaction.h"

namespace {

using zusms::Field;

constexpr Field kInsertFields[] = {ZU_FIELD(SmsFolder, FdId), ZU_FIELD(SmsFolder, fname),
                                   ZU_FIELD(SmsFolder, system), ZU_FIELD(SmsFolder, password),
                                   ZU_FIELD(SmsFolder, privmode)};
// FdId and system never change once a folder exists.
constexpr Field kUpdateFields[] = {ZU_FIELD(SmsFolder, fname), ZU_FIELD(SmsFolder, password),
                                   ZU_FIELD(SmsFolder, privmode)};
constexpr Field kRowFields[] = {ZU_FIELD(SmsFolder, id),       ZU_FIELD(SmsFolder, FdId),
                                ZU_FIELD(SmsFolder, fname),    ZU_FIELD(SmsFolder, system),
                                ZU_FIELD(SmsFolder, password), ZU_FIELD(SmsFolder, privmode)};

constexpr zusms::Family<SmsFolder> kFolder = {
    .insert =
        u"insert into SmsFolder( fdid, fname, system, password, privmode, UserID) VALUES "
        u"(?, ?, ?, ?, ?, ?)",
    .update = u"update SmsFolder set fname=?, password=?, privmode=? where ID=? and UserID=?",
    .remove = u"delete from SmsFolder where id=? and UserID=? and system<>1",
    .remove_all = u"delete from SmsFolder where UserID=? and system<>1",
    .exists = u"select count(*) as cnt from SmsFolder where ID=? and UserID=?",
    .select = u"select * from SmsFolder where id=? and UserID=?",
    .count = u"select count(*) as cnt from SmsFolder where UserID=?",
    .ids = u"select ID from SmsFolder where UserID=?",
    .all = u"select * from SmsFolder where UserID=?",
    .insert_fields = kInsertFields,
    .update_fields = kUpdateFields,
    .row_fields = kRowFields,
};

// The read's pre-check binds the user first.
constexpr const char16_t* kReadExists =
    u"select count(*) as cnt from SmsFolder where UserID=? and id=?";
constexpr const char16_t* kHighest = u"select max(fdid) as maxid from SmsFolder where UserID=?";
// Whether messages or filter rules of the user still name a folder number
// (of a folder deleted under them): a new folder does not take it.
constexpr const char16_t* kNamedByHeads =
    u"select count(*) as cnt from SmsHead where fid=? and UserID=?";
constexpr const char16_t* kNamedByFilters =
    u"select count(*) as cnt from SmsFilter where folderid=? and UserID=?";

// The default folders; the position is the folder number. The names are
// data, written as code points so that no editor can change their bytes:
// inbox, card 1, card 1 not activated, card 2, card 2 not activated, outbox,
// sent, drafts, discarded, cell broadcast, voice mailbox (C), voice mailbox
// (G), notifications, expansion card.
constexpr const char16_t* kDefaultFolders[14] = {
    u"\u6536\u4ef6\u7bb1",
    u"\u5361"
    u"1",
    u"\u5361"
    u"1\u672a\u6fc0\u6d3b",
    u"\u5361"
    u"2",
    u"\u5361"
    u"2\u672a\u6fc0\u6d3b",
    u"\u53d1\u4ef6\u7bb1",
    u"\u5df2\u53d1\u9001",
    u"\u8349\u7a3f\u7bb1",
    u"\u5e9f\u4ef6\u7bb1",
    u"\u5c0f\u533a\u5e7f\u64ad",
    u"\u8bed\u97f3\u4fe1\u7bb1(C)",
    u"\u8bed\u97f3\u4fe1\u7bb1(G)",
    u"\u901a\u77e5\u7bb1",
    u"\u6269\u5c55\u5361",
};
constexpr uint32_t kDefaultFolderCount = 14;

}  // namespace

int32_t SmsDatabase::GetMaxFolderId(uint32_t& highest) {
  uint32_t count = 0;
  const int32_t status = GetSmsFolderCount(count);
  if (count == 0) {
    highest = 0;
    return status;
  }
  return zusms::Guarded([&](CMimerCommand& cmd) {
    zusms::ReadRow(cmd, kHighest, zusms::User(m_UserID), [&](CMimerRecordSet& rows) {
      rows.GetValue("maxid", &highest, sizeof highest);
    });
    return 0;
  });
}

bool SmsDatabase::HasDefaultFolders() {
  uint32_t highest = 0;
  return GetMaxFolderId(highest) == 0 && highest >= kDefaultFolderCount;
}

int32_t SmsDatabase::InitFolder() {
  uint32_t highest = 0;
  if (GetMaxFolderId(highest) != 0) return -1;
  if (highest >= kDefaultFolderCount) return 0;
  if (IsReadOnly()) {
    zusms::engine::SetLastError(u"the store is read-only and lacks the user's folders");
    return -1;
  }
  SmsFolder rec{};
  rec.system = 1;
  for (uint32_t number = highest + 1; number <= kDefaultFolderCount; ++number) {
    const char16_t* name = kDefaultFolders[number - 1];
    size_t i = 0;
    for (; name[i] != 0 && i + 1 < std::size(rec.fname); ++i) rec.fname[i] = name[i];
    rec.fname[i] = 0;
    rec.FdId = static_cast<int32_t>(number);
    uint32_t newId = 0;
    // A store without its default folders misfiles every message: the open
    // that cannot make them fails, naming why.
    if (AddSmsFolderBase(rec, newId) != 0) {
      zusms::engine::SetLastError(u"the user's default folders could not be created: " +
                                  zusms::engine::LastError());
      return -1;
    }
  }
  return 0;
}

int32_t SmsDatabase::AddSmsFolder(SmsFolder& rec, uint32_t& newId) {
  return zusms::Guard([&]() -> int32_t {
    // Reading the highest number and inserting above it is one unit against
    // other adders, in this process or another: no two folders of a user
    // ever get the same number.
    zusms::Transaction transaction;
    uint32_t highest = 0;
    if (GetMaxFolderId(highest) != 0) return -1;
    if (highest == 0) {
      zusms::engine::SetLastError(u"the user has no folder to number a new one after");
      return -1;
    }
    // Messages left behind by a folder deleted under them (by another
    // program, say) never join the new one: it skips their number.
    uint32_t named = 0;
    do {
      ++highest;
      named = 0;
      for (const char16_t* sql : {kNamedByHeads, kNamedByFilters}) {
        uint32_t n = 0;
        if (zusms::Guarded([&](CMimerCommand& cmd) {
              zusms::CountRows(cmd, sql, zusms::IdUser(highest, m_UserID), n);
              return 0;
            }) != 0) {
          return -1;
        }
        named += n;
      }
    } while (named > 0);
    rec.FdId = static_cast<int32_t>(highest);
    rec.system = 0;
    const int32_t status = AddSmsFolderBase(rec, newId);
    transaction.Commit();
    return status;
  });
}

// Inserts the record with the number and system flag it holds.
int32_t SmsDatabase::AddSmsFolderBase(SmsFolder& rec, uint32_t& newId) {
  return zusms::AddRecord(kFolder, m_UserID, rec, newId);
}

int32_t SmsDatabase::UpdateSmsFolder(SmsFolder& rec) {
  return zusms::UpdateRow(
      kFolder, m_UserID, rec,
      [&](CMimerCommand& cmd) { zusms::BindFields(cmd, &rec, kFolder.update_fields); }, 100);
}

ZU_DELETE_METHODS(SmsFolder, kFolder)  // system<>1 keeps the default folders

int32_t SmsDatabase::GetSmsFolder(uint32_t id, SmsFolder& rec) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    uint32_t count = 0;
    zusms::CountRows(
        cmd, kReadExists,
        [&](CMimerCommand& c) {
          c.AppendParameter(m_UserID);
          c.AppendParameter(id);
        },
        count);
    if (count == 0) return -1;
    zusms::ReadRow(cmd, kFolder.select, zusms::IdUser(id, m_UserID),
                   [&](CMimerRecordSet& rows) { GetSmsFolderAllFieldData(rec, rows); });
    return 0;
  });
}

ZU_COUNT_METHOD(SmsFolder, kFolder)
ZU_LIST_METHODS(SmsFolder, SmsFolder, kFolder, GetSmsFolderAllFieldData)
ZU_ROW_MAPPER(SmsFolder, GetSmsFolderAllFieldData, kFolder)

ZU_FAMILY_OF(SmsFolder, kFolder)

ZU_EXPORT_RECORD_FUNCTIONS(SmsFolder, SmsFolder)
