// Message heads: the record pattern, with two departures of their own. Add
// makes the record's UUID valid through the UUID library (loaded for each
// add) and stamps ModifyTime after the UserID; Update stamps ModifyTime and
// assigns the id its own value. The count does not clear `n` first. Delete
// and DeleteAll take what multimedia messages own with their heads, within
// the user, in one transaction.
#include "Boundary.h"
#include "FamilyMethods.h"
#include "RecordFrame.h"
#include "SmsDatabase.h"
#include "Transaction.h"
#include "UuidLibrary.h"

namespace {

using zusms::Field;

#define HEAD_FIELDS                                                                      \
  ZU_FIELD(SmsHead, index), ZU_FIELD(SmsHead, type), ZU_FIELD(SmsHead, fid),             \
      ZU_FIELD(SmsHead, batid), ZU_FIELD(SmsHead, createtime), ZU_FIELD(SmsHead, tel),   \
      ZU_FIELD(SmsHead, name), ZU_FIELD(SmsHead, recvtime), ZU_FIELD(SmsHead, content),  \
      ZU_FIELD(SmsHead, privmode), ZU_FIELD(SmsHead, ccid), ZU_FIELD(SmsHead, lockflag), \
      ZU_FIELD(SmsHead, oldfid), ZU_FIELD(SmsHead, impt), ZU_FIELD(SmsHead, longsms),    \
      ZU_FIELD(SmsHead, operid)

// The insert binds these, then the UUID once it is valid, the UserID and the
// modification time.
constexpr Field kInsertFields[] = {HEAD_FIELDS};
// The update assigns the id its own value, these, the UUID as given, then the
// modification time.
constexpr Field kUpdateFields[] = {ZU_FIELD(SmsHead, id), HEAD_FIELDS, ZU_FIELD(SmsHead, uuid)};
constexpr Field kRowFields[] = {ZU_FIELD(SmsHead, id), HEAD_FIELDS, ZU_FIELD(SmsHead, uuid)};

#undef HEAD_FIELDS

constexpr zusms::Family<SmsHead> kHead = {
    .insert =
        u"insert into SmsHead( index, type, fid, batid, createtime, tel, name, recvtime, "
        u"content, privmode, ccid, lockflag, oldfid, impt, longsms, operid, uuid, UserID, "
        u"ModifyTime) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
    .update =
        u"update SmsHead set id=?, index=?, type=?, fid=?, batid=?, createtime=?, tel=?, "
        u"name=?, recvtime=?, content=?, privmode=?, ccid=?, lockflag=?, oldfid=?, impt=?, "
        u"longsms=?, operid=?, uuid=?, ModifyTime=? where ID=? and UserID=?",
    ZU_STANDARD_STATEMENTS(SmsHead),
    .insert_fields = kInsertFields,
    .update_fields = kUpdateFields,
    .row_fields = kRowFields,
};

}  // namespace

int32_t SmsDatabase::AddSmsHead(SmsHead& rec, uint32_t& newId) {
  return zusms::Guard([&]() -> int32_t {
    zusms::UuidLibrary uuid;
    if (!uuid.Usable()) {
      zusms::engine::SetLastError(u"the UUID library " +
                                  std::u16string(zusms::g_uuid_library_name) +
                                  u" cannot be loaded or lacks IsUUIDValid or CreateUUID");
      return -1;
    }
    tagTIMESTAMP_STRUCT now{};
    return zusms::AddRow(
        kHead.insert,
        [&](CMimerCommand& cmd) {
          zusms::BindFields(cmd, &rec, kHead.insert_fields);
          uuid.MakeValid(rec.uuid);
          uuid.Release();
          cmd.AppendParameter(rec.uuid, sizeof rec.uuid);
          cmd.AppendParameter(m_UserID);
          cmd.AppendParameter(GetCurrentSysTime(now));
        },
        newId, rec.id);
  });
}

int32_t SmsDatabase::UpdateSmsHead(SmsHead& rec) {
  tagTIMESTAMP_STRUCT now{};
  return zusms::UpdateRow(
      kHead, m_UserID, rec,
      [&](CMimerCommand& cmd) {
        zusms::BindFields(cmd, &rec, kHead.update_fields);
        cmd.AppendParameter(GetCurrentSysTime(now));
      },
      0);
}

namespace {

// Runs `remove(cmd)` after what multimedia messages own is gone, all in one
// transaction.
template <typename Remove>
int32_t DeleteWithOwned(Remove&& remove) {
  return zusms::Guard([&]() -> int32_t {
    zusms::Transaction transaction;
    const int32_t status = zusms::Guarded([&](CMimerCommand& cmd) {
      remove(cmd);
      return 0;
    });
    if (status == 0) transaction.Commit();
    return status;
  });
}

}  // namespace

int32_t SmsDatabase::DeleteSmsHead(uint32_t id) {
  return DeleteWithOwned([&](CMimerCommand& cmd) {
    DeleteSmsMmsOf(cmd, &id);
    zusms::Execute(cmd, kHead.remove, zusms::IdUser(id, m_UserID));
  });
}

int32_t SmsDatabase::DeleteAllSmsHead() {
  return DeleteWithOwned([&](CMimerCommand& cmd) {
    DeleteSmsMmsOf(cmd, nullptr);
    zusms::Execute(cmd, kHead.remove_all, zusms::User(m_UserID));
  });
}

ZU_GET_METHOD(SmsHead, SmsHead, kHead, GetSmsHeadAllFieldData)
ZU_LIST_METHODS(SmsHead, SmsHead, kHead, GetSmsHeadAllFieldData)
ZU_ROW_MAPPER(SmsHead, GetSmsHeadAllFieldData, kHead)

// The count reads straight into `n`: a failed count leaves the caller's value.
int32_t SmsDatabase::GetSmsHeadCount(uint32_t& n) {
  return zusms::CountRecords(kHead.count, m_UserID, n);
}

ZU_FAMILY_OF(SmsHead, kHead)

ZU_EXPORT_RECORD_FUNCTIONS(SmsHead, SmsHead)
