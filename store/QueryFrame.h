// Filtered and ordered queries: the statement composed from the caller's
// filters in a buffer of 1024 characters, then run like the record lists.
//
// Composition: the base statement ("... where (UserID=?)"), then for each
// filter its conditions as one parenthesised group joined by " and " to what
// stands before, so no filter can widen the user restriction; then one
// ordering list made of every filter's ordering items. Each condition comes
// from CMimerDatabase::SetQuery with its values. A group that does not fit
// the buffer raises (the query must not run wider than the caller asked), and
// so does an ordering that does not fit whole (a cut ordering returns other
// rows than asked for).
#ifndef ZUSMS_STORE_QUERYFRAME_H_
#define ZUSMS_STORE_QUERYFRAME_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "RecordFrame.h"

namespace zusms {

constexpr size_t kStatementCapacity = 1024;  // characters, the terminating zero included

struct ConditionField {
  int32_t code;
  const char* column;
  MimerPropType type;
};

struct OrderField {
  int32_t code;
  const char* column;
};

// Appends each filter's condition group to `statement`.
void AppendConditions(const CMimerDatabase& db, const MimerQueryFilter* filters,
                      uint32_t filterCount, std::span<const ConditionField> fields,
                      char16_t* statement, CMimerParameterSet& params);
// Appends the ordering list of all the filters to `statement`; raises when it
// does not fit whole.
void AppendOrdering(const MimerQueryFilter* filters, uint32_t filterCount,
                    std::span<const OrderField> fields, char16_t* statement);

// Runs `base` composed by `build(statement, params)` (which appends the
// filters) with the values bound; `body(cmd, statement, params)` runs it.
template <typename Build, typename Body>
int32_t RunComposed(const char16_t* base, uint32_t user, Build&& build, Body&& body) {
  return Guard([&]() -> int32_t {
    char16_t statement[kStatementCapacity] = {};
    size_t i = 0;
    for (; base[i] != 0 && i + 1 < kStatementCapacity; ++i) statement[i] = base[i];
    CMimerParameterSet params;
    params.AppendParameter(user);
    build(statement, params);
    auto bind = [&params](CMimerCommand& cmd) { cmd.AppendParameter(params); };
    return Guarded([&](CMimerCommand& cmd) { return body(cmd, statement, bind); });
  });
}

// The number of matches into `n` (left alone on failure).
template <typename Build>
int32_t QueryCount(const char16_t* base, uint32_t user, Build&& build, uint32_t& n) {
  return RunComposed(base, user, build, [&](CMimerCommand& cmd, const char16_t* sql, auto& bind) {
    CountRows(cmd, sql, bind, n);
    return 0;
  });
}

// The matching rows: `count(n)` puts the number of matches into `n`, which
// then becomes the smaller of it and `capacity`, and the number of elements
// written once the rows are read.
template <typename Element, typename Build, typename Count, typename Map>
int32_t QueryRows(const char16_t* base, uint32_t user, Build&& build, Count&& count, Element* recs,
                  uint32_t capacity, uint32_t& n, Map&& map) {
  if (!recs && capacity > 0) {
    return Guard([]() -> int32_t { throw CMimerException(u"a null record array", -1); });
  }
  if (count(n) != 0) return -1;
  if (capacity < n) n = capacity;
  if (n == 0) return 0;
  return RunComposed(base, user, build, [&](CMimerCommand& cmd, const char16_t* sql, auto& bind) {
    cmd.SetMaxRows(n);  // the engine need not find (or sort) more than are read
    ReadRows(cmd, sql, bind, n, [&](CMimerRecordSet& rows, uint32_t i) { map(recs[i], rows); });
    return 0;
  });
}

// The ids of the matching rows; the count goes to a local total first.
template <typename Build, typename Count>
int32_t QueryIds(const char16_t* base, uint32_t user, Build&& build, Count&& count, uint32_t* ids,
                 uint32_t capacity, uint32_t& n) {
  if (!ids && capacity > 0) {
    return Guard([]() -> int32_t { throw CMimerException(u"a null id array", -1); });
  }
  uint32_t total = 0;
  if (count(total) != 0) return -1;
  if (total == 0) {
    n = 0;
    return 0;
  }
  n = total < capacity ? total : capacity;
  if (n == 0) return 0;
  return RunComposed(base, user, build, [&](CMimerCommand& cmd, const char16_t* sql, auto& bind) {
    cmd.SetMaxRows(n);
    ReadRows(cmd, sql, bind, n, [&](CMimerRecordSet& rows, uint32_t i) {
      rows.GetValue("id", &ids[i], sizeof ids[i]);
    });
    return 0;
  });
}

}  // namespace zusms

#endif  // ZUSMS_STORE_QUERYFRAME_H_
