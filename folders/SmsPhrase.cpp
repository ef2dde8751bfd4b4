// Phrases: the record pattern, except that Add first sets the record's id to
// the value the caller's new-id variable holds, so that a failed add leaves
// that value in the record. The count clears `n` first.
#include "FamilyMethods.h"

namespace {

using zusms::Field;

constexpr Field kFields[] = {ZU_FIELD(SmsPhrase, content), ZU_FIELD(SmsPhrase, impBool)};
constexpr Field kRowFields[] = {ZU_FIELD(SmsPhrase, id), ZU_FIELD(SmsPhrase, content),
                                ZU_FIELD(SmsPhrase, impBool)};

constexpr zusms::Family<SmsPhrase> kPhrase = {
    .insert = u"insert into SmsPhrase( content, impBool, UserID) VALUES (?, ?, ?)",
    .update = u"update SmsPhrase set content=?, impBool=? where id=? and UserID=?",
    ZU_STANDARD_STATEMENTS(SmsPhrase),
    .insert_fields = kFields,
    .update_fields = kFields,
    .row_fields = kRowFields,
};

}  // namespace

ZU_ADD_METHOD_SEEDING_ID(SmsPhrase, SmsPhrase, kPhrase)
ZU_UPDATE_METHOD(SmsPhrase, SmsPhrase, kPhrase)
ZU_DELETE_METHODS(SmsPhrase, kPhrase)
ZU_GET_METHOD(SmsPhrase, SmsPhrase, kPhrase, GetSmsPhraseAllFieldData)
ZU_COUNT_METHOD(SmsPhrase, kPhrase)
ZU_LIST_METHODS(SmsPhrase, SmsPhrase, kPhrase, GetSmsPhraseAllFieldData)
ZU_ROW_MAPPER(SmsPhrase, GetSmsPhraseAllFieldData, kPhrase)

ZU_FAMILY_OF(SmsPhrase, kPhrase)

ZU_EXPORT_RECORD_FUNCTIONS(SmsPhrase, SmsPhrase)
