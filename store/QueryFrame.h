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
#include <string>

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
// Where the ordering list starts in a composed statement (its length when it
// has none). Conditions carry their values as markers, never as text, so the
// ordering's lead-in appears nowhere before it.
size_t OrderingStart(const std::u16string& statement);

// The filters composed once behind `base`: the statement, where its ordering
// list starts, and its values (the user id, then the conditions' values).
struct Composed {
  std::u16string statement;
  size_t conditions_end = 0;
  CMimerParameterSet params;
};

// Composes `base` with `build(statement, params)`, which appends the filters.
template <typename Build>
Composed Compose(const char16_t* base, uint32_t user, Build&& build) {
  char16_t statement[kStatementCapacity] = {};
  size_t i = 0;
  for (; base[i] != 0 && i + 1 < kStatementCapacity; ++i) statement[i] = base[i];
  Composed q;
  q.params.AppendParameter(user);
  build(statement, q.params);
  q.statement = statement;
  q.conditions_end = OrderingStart(q.statement);
  return q;
}

// "How many rows match, up to `capacity`" for a composed row or id query: a
// count over the ids of the first `capacity` matches, so that it stops there
// (and without the ordering, which does not change how many there are).
std::u16string BoundedCount(const Composed& q);

// Reads at most `capacity` matching rows: `read(cmd, sql, bind, count)`
// reads their number bounded by the capacity and sets `count` to the rows
// it wrote, which `n` becomes on success (left alone on failure).
template <typename Build, typename Read>
int32_t QueryBounded(const char16_t* base, uint32_t user, Build&& build, uint32_t capacity,
                     uint32_t& n, Read&& read) {
  return Guard([&]() -> int32_t {
    const Composed q = Compose(base, user, build);
    const std::u16string count = BoundedCount(q);
    uint32_t total = 0;
    const int32_t counted = Guarded([&](CMimerCommand& cmd) {
      // A capacity beyond 2^31 binds as a negative limit, which is none.
      CountRows(
          cmd, count.c_str(),
          [&](CMimerCommand& c) {
            c.AppendParameter(q.params);
            c.AppendParameter(capacity);
          },
          total);
      return 0;
    });
    if (counted != 0) return -1;
    uint32_t rows = total < capacity ? total : capacity;
    if (rows == 0) {
      n = 0;
      return 0;
    }
    return Guarded([&](CMimerCommand& cmd) {
      cmd.SetMaxRows(rows);  // the engine need not find (or sort) more than are read
      read(
          cmd, q.statement.c_str(), [&q](CMimerCommand& c) { c.AppendParameter(q.params); }, rows);
      n = rows;
      return 0;
    });
  });
}

// The number of matches into `n` (left alone on failure).
template <typename Build>
int32_t QueryCount(const char16_t* base, uint32_t user, Build&& build, uint32_t& n) {
  return Guard([&]() -> int32_t {
    const Composed q = Compose(base, user, build);
    return Guarded([&](CMimerCommand& cmd) {
      CountRows(
          cmd, q.statement.c_str(), [&q](CMimerCommand& c) { c.AppendParameter(q.params); }, n);
      return 0;
    });
  });
}

// The matching rows, at most `capacity` of them: `n` becomes their number
// bounded by the capacity, and then the number of elements written.
template <typename Element, typename Build, typename Map>
int32_t QueryRows(const char16_t* base, uint32_t user, Build&& build, Element* recs,
                  uint32_t capacity, uint32_t& n, Map&& map) {
  if (!recs && capacity > 0) {
    return Guard([]() -> int32_t { throw CMimerException(u"a null record array", -1); });
  }
  return QueryBounded(base, user, build, capacity, n,
                      [&](CMimerCommand& cmd, const char16_t* sql, auto&& bind, uint32_t& count) {
                        ReadRows(cmd, sql, bind, count,
                                 [&](CMimerRecordSet& rows, uint32_t i) { map(recs[i], rows); });
                      });
}

// The ids of the matching rows, at most `capacity` of them.
template <typename Build>
int32_t QueryIds(const char16_t* base, uint32_t user, Build&& build, uint32_t* ids,
                 uint32_t capacity, uint32_t& n) {
  if (!ids && capacity > 0) {
    return Guard([]() -> int32_t { throw CMimerException(u"a null id array", -1); });
  }
  return QueryBounded(base, user, build, capacity, n,
                      [&](CMimerCommand& cmd, const char16_t* sql, auto&& bind, uint32_t& count) {
                        ReadRows(cmd, sql, bind, count, [&](CMimerRecordSet& rows, uint32_t i) {
                          rows.GetValue("id", &ids[i], sizeof ids[i]);
                        });
                      });
}

}  // namespace zusms

#endif  // ZUSMS_STORE_QUERYFRAME_H_
