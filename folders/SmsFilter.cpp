// Filter rules: the record pattern, except that Add first sets the record's
// id to the value the caller's new-id variable holds, so that a failed add
// leaves that value in the record. The row mapper's name is spelled so. The
// count clears `n` first.
#include "FamilyMethods.h"

namespace {

using zusms::Field;

constexpr Field kFields[] = {ZU_FIELD(SmsFilter, folderid), ZU_FIELD(SmsFilter, ftype),
                             ZU_FIELD(SmsFilter, fattr), ZU_FIELD(SmsFilter, tel),
                             ZU_FIELD(SmsFilter, name)};
constexpr Field kRowFields[] = {ZU_FIELD(SmsFilter, id),    ZU_FIELD(SmsFilter, folderid),
                                ZU_FIELD(SmsFilter, ftype), ZU_FIELD(SmsFilter, fattr),
                                ZU_FIELD(SmsFilter, tel),   ZU_FIELD(SmsFilter, name)};

constexpr zusms::Family<SmsFilter> kFilter = {
    .insert =
        u"insert into SmsFilter( folderid, ftype, fattr, tel, name, UserID) VALUES (?, ?, "
        u"?, ?, ?, ?)",
    .update =
        u"update SmsFilter set folderid=?, ftype=?, fattr=?, tel=?, name=? where ID=? and "
        u"UserID=?",
    ZU_STANDARD_STATEMENTS(SmsFilter),
    .insert_fields = kFields,
    .update_fields = kFields,
    .row_fields = kRowFields,
};

}  // namespace

ZU_ADD_METHOD_SEEDING_ID(SmsFilter, SmsFilter, kFilter)
ZU_UPDATE_METHOD(SmsFilter, SmsFilter, kFilter)
ZU_DELETE_METHODS(SmsFilter, kFilter)
ZU_GET_METHOD(SmsFilter, SmsFilter, kFilter, GetSmsFilterAllFielderData)
ZU_COUNT_METHOD(SmsFilter, kFilter)
ZU_LIST_METHODS(SmsFilter, SmsFilter, kFilter, GetSmsFilterAllFielderData)
ZU_ROW_MAPPER(SmsFilter, GetSmsFilterAllFielderData, kFilter)

ZU_FAMILY_OF(SmsFilter, kFilter)

ZU_EXPORT_RECORD_FUNCTIONS(SmsFilter, SmsFilter)
