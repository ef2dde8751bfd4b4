// Recipient history: the record pattern, except that Add first sets the
// record's id to the value the caller's new-id variable holds, so that a
// failed add leaves that value in the record. The record type is spelled
// SmsRecieverHistory, the methods ...SmsReceiverHistory. The count clears `n`
// first.
#include "FamilyMethods.h"

namespace {

using zusms::Field;

constexpr Field kFields[] = {ZU_FIELD(SmsRecieverHistory, tel), ZU_FIELD(SmsRecieverHistory, name),
                             ZU_FIELD(SmsRecieverHistory, privmode),
                             ZU_FIELD(SmsRecieverHistory, lastdate)};
constexpr Field kRowFields[] = {ZU_FIELD(SmsRecieverHistory, id), ZU_FIELD(SmsRecieverHistory, tel),
                                ZU_FIELD(SmsRecieverHistory, name),
                                ZU_FIELD(SmsRecieverHistory, privmode),
                                ZU_FIELD(SmsRecieverHistory, lastdate)};

constexpr zusms::Family<SmsRecieverHistory> kHistory = {
    .insert =
        u"insert into SmsReceiverHistory( tel, name, privmode, lastdate, UserID) VALUES (?, "
        u"?, ?, ?, ?)",
    .update =
        u"update SmsReceiverHistory set tel=?, name=?, privmode=?, lastdate=? where ID=? and "
        u"UserID=?",
    ZU_STANDARD_STATEMENTS(SmsReceiverHistory),
    .insert_fields = kFields,
    .update_fields = kFields,
    .row_fields = kRowFields,
};

}  // namespace

ZU_ADD_METHOD_SEEDING_ID(SmsRecieverHistory, SmsReceiverHistory, kHistory)
ZU_UPDATE_METHOD(SmsRecieverHistory, SmsReceiverHistory, kHistory)
ZU_DELETE_METHODS(SmsReceiverHistory, kHistory)
ZU_GET_METHOD(SmsRecieverHistory, SmsReceiverHistory, kHistory, GetSmsReceiverHistoryAllFieldData)
ZU_COUNT_METHOD(SmsReceiverHistory, kHistory)
ZU_LIST_METHODS(SmsRecieverHistory, SmsReceiverHistory, kHistory, GetSmsReceiverHistoryAllFieldData)
ZU_ROW_MAPPER(SmsRecieverHistory, GetSmsReceiverHistoryAllFieldData, kHistory)

ZU_FAMILY_OF(SmsRecieverHistory, kHistory)

ZU_EXPORT_RECORD_FUNCTIONS(SmsRecieverHistory, SmsReceiverHistory)
