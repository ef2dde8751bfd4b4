// Message contents: the plain record pattern; the count clears `n` first.
#include "FamilyMethods.h"

namespace {

using zusms::Field;

#define CONTENT_FIELDS                                                                           \
  ZU_FIELD(SmsContent, BatId), ZU_FIELD(SmsContent, type), ZU_FIELD(SmsContent, savepos),        \
      ZU_FIELD(SmsContent, rivmode), ZU_FIELD(SmsContent, location), ZU_FIELD(SmsContent, name), \
      ZU_FIELD(SmsContent, tel)

constexpr Field kFields[] = {CONTENT_FIELDS};
constexpr Field kRowFields[] = {ZU_FIELD(SmsContent, id), CONTENT_FIELDS};

#undef CONTENT_FIELDS

constexpr zusms::Family<SmsContent> kContent = {
    .insert =
        u"insert into SmsContent( BatId, type, savepos, rivmode, location, name, tel, "
        u"UserID) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
    .update =
        u"update SmsContent set BatId=?, type=?, savepos=?, rivmode=?, location=?, name=?, "
        u"tel=? where ID=? and UserID=?",
    ZU_STANDARD_STATEMENTS(SmsContent),
    .insert_fields = kFields,
    .update_fields = kFields,
    .row_fields = kRowFields,
};

}  // namespace

ZU_ADD_METHOD(SmsContent, SmsContent, kContent)
ZU_UPDATE_METHOD(SmsContent, SmsContent, kContent)
ZU_DELETE_METHODS(SmsContent, kContent)
ZU_GET_METHOD(SmsContent, SmsContent, kContent, GetSmsContentAllFieldData)
ZU_COUNT_METHOD(SmsContent, kContent)
ZU_LIST_METHODS(SmsContent, SmsContent, kContent, GetSmsContentAllFieldData)
ZU_ROW_MAPPER(SmsContent, GetSmsContentAllFieldData, kContent)

ZU_FAMILY_OF(SmsContent, kContent)

ZU_EXPORT_RECORD_FUNCTIONS(SmsContent, SmsContent)
