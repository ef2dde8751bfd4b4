// Queries over the user's message heads, by one filter or by several that
// must all match.
#include "Exports.h"
#include "QueryFrame.h"
#include "SmsDatabase.h"

namespace {

using zusms::ConditionField;
using zusms::OrderField;

// Selector, the column a condition names (with how its value binds), and the
// column the ordering names.
constexpr ConditionField kConditions[] = {
    {1, "id", MimerPropInt},           {2, "index", MimerPropUShort},
    {3, "type", MimerPropUShort},      {4, "fid", MimerPropInt},
    {5, "batid", MimerPropInt},        {6, "createTime", MimerPropText},
    {7, "tel", MimerPropText},         {8, "name", MimerPropText},
    {9, "recvTime", MimerPropText},    {10, "content", MimerPropText},
    {11, "privMode", MimerPropUShort}, {12, "ccid", MimerPropUShort},
    {13, "lockFlag", MimerPropUShort}, {14, "oldfId", MimerPropInt},
    {15, "Impt", MimerPropUShort},     {16, "longSms", MimerPropUShort},
    {17, "operid", MimerPropText},     {18, "uuid", MimerPropBytes},
};
constexpr OrderField kOrders[] = {
    {1, "Id"},         {2, "Index"},   {3, "Type"},      {4, "Fid"},      {5, "BatId"},
    {6, "CreateTime"}, {7, "Tel"},     {8, "Name"},      {9, "RecvTime"}, {10, "Content"},
    {11, "PrivMode"},  {12, "Ccid"},   {13, "LockFlag"}, {14, "OldfId"},  {15, "Impt"},
    {16, "LongSms"},   {17, "OperId"}, {18, "Uuid"},
};

constexpr const char16_t* kCount = u"select count(*) as cnt from SmsHead where (UserID=?)";
constexpr const char16_t* kRecords = u"select * from SmsHead where (UserID=?)";
constexpr const char16_t* kIds = u"select id from SmsHead where (UserID=?)";

int32_t NoFilters() {
  return zusms::Guard([]() -> int32_t { throw CMimerException(u"no query filter given", -1); });
}

}  // namespace

void SmsDatabase::CombSmsHeadQuery(const MimerQueryFilter* filters, uint32_t filterCount,
                                   char16_t* statement, CMimerParameterSet& params) {
  zusms::AppendConditions(*this, filters, filterCount, kConditions, statement, params);
  zusms::AppendOrdering(filters, filterCount, kOrders, statement);
}

int32_t SmsDatabase::CombineQuerySmsHeadCount(MimerQueryFilter* filters, uint32_t filterCount,
                                              uint32_t& n) {
  if (!filters || filterCount == 0) return NoFilters();
  return zusms::QueryCount(
      kCount, m_UserID,
      [&](char16_t* sql, CMimerParameterSet& params) {
        CombSmsHeadQuery(filters, filterCount, sql, params);
      },
      n);
}

int32_t SmsDatabase::CombineQuerySmsHead(MimerQueryFilter* filters, uint32_t filterCount,
                                         SmsHead* recs, uint32_t capacity, uint32_t& n) {
  if (!filters || filterCount == 0) return NoFilters();
  return zusms::QueryRows(
      kRecords, m_UserID,
      [&](char16_t* sql, CMimerParameterSet& params) {
        CombSmsHeadQuery(filters, filterCount, sql, params);
      },
      recs, capacity, n,
      [this](SmsHead& r, CMimerRecordSet& rows) { GetSmsHeadAllFieldData(r, rows); });
}

int32_t SmsDatabase::CombineQuerySmsHeadID(MimerQueryFilter* filters, uint32_t filterCount,
                                           uint32_t* ids, uint32_t capacity, uint32_t& n) {
  if (!filters || filterCount == 0) return NoFilters();
  return zusms::QueryIds(
      kIds, m_UserID,
      [&](char16_t* sql, CMimerParameterSet& params) {
        CombSmsHeadQuery(filters, filterCount, sql, params);
      },
      ids, capacity, n);
}

// One filter is a list of one.
int32_t SmsDatabase::QuerySmsHeadCount(MimerQueryFilter& filter, uint32_t& n) {
  return CombineQuerySmsHeadCount(&filter, 1, n);
}

int32_t SmsDatabase::QuerySmsHead(MimerQueryFilter& filter, SmsHead* recs, uint32_t capacity,
                                  uint32_t& n) {
  return CombineQuerySmsHead(&filter, 1, recs, capacity, n);
}

int32_t SmsDatabase::QuerySmsHeadID(MimerQueryFilter& filter, uint32_t* ids, uint32_t capacity,
                                    uint32_t& n) {
  return CombineQuerySmsHeadID(&filter, 1, ids, capacity, n);
}

extern "C" {

ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsHeadCount(SmsDatabase* h, MimerQueryFilter* filter,
                                                 uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.QuerySmsHeadCount(zusms::Ref(filter, "filter"), zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsHead(SmsDatabase* h, MimerQueryFilter* filter, SmsHead* recs,
                                            uint32_t capacity, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.QuerySmsHead(zusms::Ref(filter, "filter"), recs, capacity, zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL QueryZuSmsHeadID(SmsDatabase* h, MimerQueryFilter* filter,
                                              uint32_t* ids, uint32_t capacity, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.QuerySmsHeadID(zusms::Ref(filter, "filter"), ids, capacity, zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL CombineZuQuerySmsHeadCount(SmsDatabase* h, MimerQueryFilter* filters,
                                                        uint32_t filterCount, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.CombineQuerySmsHeadCount(filters, filterCount, zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL CombineZuQuerySmsHead(SmsDatabase* h, MimerQueryFilter* filters,
                                                   uint32_t filterCount, SmsHead* recs,
                                                   uint32_t capacity, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.CombineQuerySmsHead(filters, filterCount, recs, capacity, zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL CombineZuQuerySmsHeadID(SmsDatabase* h, MimerQueryFilter* filters,
                                                     uint32_t filterCount, uint32_t* ids,
                                                     uint32_t capacity, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.CombineQuerySmsHeadID(filters, filterCount, ids, capacity, zusms::Ref(n, "n"));
  });
}

}  // extern "C"
