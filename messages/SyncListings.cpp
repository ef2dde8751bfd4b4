// What a synchronisation partner compares: message heads' ids with their
// modification times and UUIDs. The other families have neither column;
// their listings return 0 and write nothing.
#include "Exports.h"
#include "RecordFrame.h"
#include "SmsDatabase.h"

int32_t SmsDatabase::GetAllSmsHeadIDModifyTime(stIDModifyTime* recs, uint32_t capacity,
                                               uint32_t& n) {
  return zusms::GetAllRows(
      u"select ID, ModifyTime from SmsHead where UserID=?", m_UserID,
      [this](uint32_t& total) { return GetSmsHeadCount(total); }, recs, capacity, n,
      [](stIDModifyTime& e, CMimerRecordSet& rows) {
        tagTIMESTAMP_STRUCT t{};
        rows.GetValue("ID", &e.id, sizeof e.id);
        rows.GetValue("ModifyTime", &t, sizeof t);
        e.modifyTime = zusms::DateTimeOf(t);
      });
}

int32_t SmsDatabase::GetAllSmsHeadIDUUID(stIDUUID* recs, uint32_t capacity, uint32_t& n) {
  return zusms::GetAllRows(
      u"select ID, UUID from SmsHead where UserID=?", m_UserID,
      [this](uint32_t& total) { return GetSmsHeadCount(total); }, recs, capacity, n,
      [](stIDUUID& e, CMimerRecordSet& rows) {
        rows.GetValue("ID", &e.id, sizeof e.id);
        rows.GetValue("UUID", e.uuid, sizeof e.uuid);
      });
}

int32_t SmsDatabase::GetSmsHeadModifyTime(uint32_t id, stDateTime& t) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    uint32_t count = 0;
    zusms::CountRows(cmd, u"select count(*) as cnt from SmsHead where ID=? and UserID=?",
                     zusms::IdUser(id, m_UserID), count);
    if (count == 0) return 100;
    zusms::ReadRow(cmd, u"select ModifyTime from SmsHead where ID=? and UserID=?",
                   zusms::IdUser(id, m_UserID), [&](CMimerRecordSet& rows) {
                     tagTIMESTAMP_STRUCT stamp{};
                     rows.GetValue("ModifyTime", &stamp, sizeof stamp);
                     t = zusms::DateTimeOf(stamp);
                   });
    return 0;
  });
}

#define ZU_NO_SYNC_LISTINGS(Family)                                                         \
  int32_t SmsDatabase::GetAll##Family##IDModifyTime(stIDModifyTime*, uint32_t, uint32_t&) { \
    return 0;                                                                               \
  }                                                                                         \
  int32_t SmsDatabase::GetAll##Family##IDUUID(stIDUUID*, uint32_t, uint32_t&) { return 0; } \
  int32_t SmsDatabase::Get##Family##ModifyTime(uint32_t, stDateTime&) { return 0; }

ZU_NO_SYNC_LISTINGS(SmsContent)
ZU_NO_SYNC_LISTINGS(SmsAreaBroadcast)
ZU_NO_SYNC_LISTINGS(SmsFolder)
ZU_NO_SYNC_LISTINGS(SmsFilter)
ZU_NO_SYNC_LISTINGS(SmsReceiverHistory)
ZU_NO_SYNC_LISTINGS(SmsPhrase)

extern "C" {

ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsHeadIDModifyTime(SmsDatabase* h, stIDModifyTime* recs,
                                                         uint32_t capacity, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.GetAllSmsHeadIDModifyTime(recs, capacity, zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsHeadIDUUID(SmsDatabase* h, stIDUUID* recs,
                                                   uint32_t capacity, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.GetAllSmsHeadIDUUID(recs, capacity, zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL GetZuSmsHeadModifyTime(SmsDatabase* h, uint32_t id, stDateTime* t) {
  return zusms::Call(
      h, [&](SmsDatabase& db) { return db.GetSmsHeadModifyTime(id, zusms::Ref(t, "t")); });
}

}  // extern "C"
