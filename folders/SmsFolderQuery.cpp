// Queries over the user's folders by one filter, with field codes of their
// own: conditions 20 to 25, ordering 19 to 24, and the 16-bit columns bound
// as MimerPropShort.
#include "Exports.h"
#include "QueryFrame.h"
#include "SmsDatabase.h"

namespace {

using zusms::ConditionField;
using zusms::OrderField;

constexpr ConditionField kConditions[] = {
    {20, "id", MimerPropInt},         {21, "FdId", MimerPropInt},
    {22, "fname", MimerPropText},     {23, "system", MimerPropShort},
    {24, "password", MimerPropShort}, {25, "privmode", MimerPropShort},
};
constexpr OrderField kOrders[] = {
    {19, "id"}, {20, "FdId"}, {21, "fname"}, {22, "system"}, {23, "password"}, {24, "privmode"},
};

constexpr const char16_t* kCount = u"select count(*) as cnt from SmsFolder where (UserID=?)";
constexpr const char16_t* kRecords = u"select * from SmsFolder where (UserID=?)";
constexpr const char16_t* kIds = u"select id from SmsFolder where (UserID=?)";

}  // namespace

void SmsDatabase::CombSmsFolderQuery(const MimerQueryFilter& filter, char16_t* statement,
                                     CMimerParameterSet& params) {
  zusms::AppendConditions(*this, &filter, 1, kConditions, statement, params);
  zusms::AppendOrdering(&filter, 1, kOrders, statement);
}

int32_t SmsDatabase::QuerySmsFolderCount(MimerQueryFilter& filter, uint32_t& n) {
  return zusms::QueryCount(
      kCount, m_UserID,
      [&](char16_t* sql, CMimerParameterSet& params) { CombSmsFolderQuery(filter, sql, params); },
      n);
}

int32_t SmsDatabase::QuerySmsFolder(MimerQueryFilter& filter, SmsFolder* recs, uint32_t capacity,
                                    uint32_t& n) {
  return zusms::QueryRows(
      kRecords, m_UserID,
      [&](char16_t* sql, CMimerParameterSet& params) { CombSmsFolderQuery(filter, sql, params); },
      recs, capacity, n,
      [this](SmsFolder& r, CMimerRecordSet& rows) { GetSmsFolderAllFieldData(r, rows); });
}

int32_t SmsDatabase::QuerySmsFolderID(MimerQueryFilter& filter, uint32_t* ids, uint32_t capacity,
                                      uint32_t& n) {
  return zusms::QueryIds(
      kIds, m_UserID,
      [&](char16_t* sql, CMimerParameterSet& params) { CombSmsFolderQuery(filter, sql, params); },
      ids, capacity, n);
}

extern "C" {

ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsFolderCount(SmsDatabase* h, MimerQueryFilter* filter,
                                                   uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.QuerySmsFolderCount(zusms::Ref(filter, "filter"), zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsFolder(SmsDatabase* h, MimerQueryFilter* filter,
                                              SmsFolder* recs, uint32_t capacity, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.QuerySmsFolder(zusms::Ref(filter, "filter"), recs, capacity, zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsFolderID(SmsDatabase* h, MimerQueryFilter* filter,
                                                uint32_t* ids, uint32_t capacity, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.QuerySmsFolderID(zusms::Ref(filter, "filter"), ids, capacity, zusms::Ref(n, "n"));
  });
}

}  // extern "C"
