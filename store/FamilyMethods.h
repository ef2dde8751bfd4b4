// The SmsDatabase methods of a record family that follow the pattern
// exactly, one macro per operation kind. A family's file lists the standard
// ones and writes out in full, beside them, each operation that departs.
#ifndef ZUSMS_STORE_FAMILYMETHODS_H_
#define ZUSMS_STORE_FAMILYMETHODS_H_

#include "Exports.h"
#include "RecordFrame.h"
#include "SmsDatabase.h"

// Add: the insert with the fields, then the UserID; the new id read back.
#define ZU_ADD_METHOD(Record, Name, family)                      \
  int32_t SmsDatabase::Add##Name(Record& rec, uint32_t& newId) { \
    return ::zusms::AddRecord(family, m_UserID, rec, newId);     \
  }

// Add that first sets the record's id to the caller's new-id value.
#define ZU_ADD_METHOD_SEEDING_ID(Record, Name, family)                \
  int32_t SmsDatabase::Add##Name(Record& rec, uint32_t& newId) {      \
    return ::zusms::AddRecordSeedingId(family, m_UserID, rec, newId); \
  }

// Update: the pre-check, then the update; a missing row gives 0.
#define ZU_UPDATE_METHOD(Record, Name, family)           \
  int32_t SmsDatabase::Update##Name(Record& rec) {       \
    return ::zusms::UpdateRecord(family, m_UserID, rec); \
  }

#define ZU_DELETE_METHODS(Name, family)                            \
  int32_t SmsDatabase::Delete##Name(uint32_t id) {                 \
    return ::zusms::DeleteRecord(family.remove, m_UserID, id);     \
  }                                                                \
  int32_t SmsDatabase::DeleteAll##Name() {                         \
    return ::zusms::DeleteAllRecords(family.remove_all, m_UserID); \
  }

// Get: the pre-check, then the row through the family's mapper; a missing
// row gives 0 and leaves the record alone.
#define ZU_GET_METHOD(Record, Name, family, Mapper)                                           \
  int32_t SmsDatabase::Get##Name(uint32_t id, Record& rec) {                                  \
    return ::zusms::GetRecord(family, m_UserID, id, rec,                                      \
                              [this](Record& r, CMimerRecordSet& rows) { Mapper(r, rows); }); \
  }

// Count: `n` is set to 0 before the statement.
#define ZU_COUNT_METHOD(Name, family)                        \
  int32_t SmsDatabase::Get##Name##Count(uint32_t& n) {       \
    n = 0;                                                   \
    return ::zusms::CountRecords(family.count, m_UserID, n); \
  }

// The id list and the record list, both counted by the family's own count.
#define ZU_LIST_METHODS(Record, Name, family, Mapper)                                            \
  int32_t SmsDatabase::GetAll##Name##ID(uint32_t* ids, uint32_t capacity, uint32_t& n) {         \
    return ::zusms::GetAllIds(                                                                   \
        family.ids, m_UserID, [this](uint32_t& total) { return Get##Name##Count(total); }, ids,  \
        capacity, n);                                                                            \
  }                                                                                              \
  int32_t SmsDatabase::GetAll##Name(Record* recs, uint32_t capacity, uint32_t& n) {              \
    return ::zusms::GetAllRows(                                                                  \
        family.all, m_UserID, [this](uint32_t& total) { return Get##Name##Count(total); }, recs, \
        capacity, n, [this](Record& r, CMimerRecordSet& rows) { Mapper(r, rows); });             \
  }

// The row mapper: every column of the row, in table order.
#define ZU_ROW_MAPPER(Record, Mapper, family)                    \
  void SmsDatabase::Mapper(Record& rec, CMimerRecordSet& rows) { \
    ::zusms::ReadFields(rows, &rec, family.row_fields);          \
  }

#endif  // ZUSMS_STORE_FAMILYMETHODS_H_
