// Cell broadcast pages: the record pattern, except that the row mapper reads
// from its own copy of the caller's record set, made at the caller's row
// (Get and GetAll hand it one by calling it with their record set). The
// record's recvtime (33) is wider than its column (15): the engine refuses a
// longer one. The count clears `n` first.
#include "FamilyMethods.h"

namespace {

using zusms::Field;

#define PAGE_FIELDS                                                             \
  ZU_FIELD(SmsAreaBroadcast, status), ZU_FIELD(SmsAreaBroadcast, sn),           \
      ZU_FIELD(SmsAreaBroadcast, msgid), ZU_FIELD(SmsAreaBroadcast, pageindex), \
      ZU_FIELD(SmsAreaBroadcast, dctype), ZU_FIELD(SmsAreaBroadcast, recvtime), \
      ZU_FIELD(SmsAreaBroadcast, datalen), ZU_FIELD(SmsAreaBroadcast, data)

constexpr Field kFields[] = {PAGE_FIELDS};
constexpr Field kRowFields[] = {ZU_FIELD(SmsAreaBroadcast, id), PAGE_FIELDS};

#undef PAGE_FIELDS

constexpr zusms::Family<SmsAreaBroadcast> kAreaBroadcast = {
    .insert =
        u"insert into SmsAreaBroadcast( status, sn, msgid, pageindex, dctype, recvtime, "
        u"datalen, data, UserID) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
    .update =
        u"update SmsAreaBroadcast set status=?, sn=?, msgid=?, pageindex=?, dctype=?, "
        u"recvtime=?, datalen=?, data=? where ID=? and UserID=?",
    ZU_STANDARD_STATEMENTS(SmsAreaBroadcast),
    .insert_fields = kFields,
    .update_fields = kFields,
    .row_fields = kRowFields,
};

}  // namespace

ZU_ADD_METHOD(SmsAreaBroadcast, SmsAreaBroadcast, kAreaBroadcast)
ZU_UPDATE_METHOD(SmsAreaBroadcast, SmsAreaBroadcast, kAreaBroadcast)
ZU_DELETE_METHODS(SmsAreaBroadcast, kAreaBroadcast)
ZU_GET_METHOD(SmsAreaBroadcast, SmsAreaBroadcast, kAreaBroadcast, GetSmsAreaBroadcastAllFieldData)
ZU_COUNT_METHOD(SmsAreaBroadcast, kAreaBroadcast)
ZU_LIST_METHODS(SmsAreaBroadcast, SmsAreaBroadcast, kAreaBroadcast, GetSmsAreaBroadcastAllFieldData)

// `rows` is a copy, taken by value: it stands on the row the caller's set
// stood on when the copy was made, and is destroyed when the mapper returns.
void SmsDatabase::GetSmsAreaBroadcastAllFieldData(SmsAreaBroadcast& rec, CMimerRecordSet rows) {
  zusms::ReadFields(rows, &rec, kAreaBroadcast.row_fields);
}

ZU_FAMILY_OF(SmsAreaBroadcast, kAreaBroadcast)

ZU_EXPORT_RECORD_FUNCTIONS(SmsAreaBroadcast, SmsAreaBroadcast)
