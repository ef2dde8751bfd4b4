#include "QueryFrame.h"

#include <string>

namespace zusms {

namespace {

size_t Length(const char16_t* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Appends `piece` when it and the terminating zero fit; false otherwise.
bool Append(char16_t* statement, size_t& length, std::u16string_view piece) {
  if (length + piece.size() + 1 > kStatementCapacity) return false;
  for (char16_t c : piece) statement[length++] = c;
  statement[length] = 0;
  return true;
}

std::u16string Ascii(const char* text) {
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

}  // namespace

void AppendConditions(const CMimerDatabase& db, const MimerQueryFilter* filters,
                      uint32_t filterCount, std::span<const ConditionField> fields,
                      char16_t* statement, CMimerParameterSet& params) {
  size_t length = Length(statement);
  for (uint32_t f = 0; f < filterCount; ++f) {
    const MimerQueryFilter& filter = filters[f];
    if (filter.itemCount == 0) continue;
    if (!filter.items) throw CMimerException(u"query filter: items missing for itemCount", -1);
    const std::u16string joiner = filter.joinType == 1 ? u" and " : u" or ";
    std::u16string group, piece;
    for (uint32_t i = 0; i < filter.itemCount; ++i) {
      const _MimerQueryFilterItem& item = filter.items[i];
      for (const ConditionField& field : fields) {
        if (field.code != item.field) continue;
        db.SetQuery(field.type, field.column, item, piece, params);
        if (!piece.empty()) group += (group.empty() ? u"" : joiner) + piece;
      }
    }
    if (group.empty()) continue;
    if (!Append(statement, length, u" and (" + group + u") ")) {
      throw CMimerException(u"query filter: the conditions do not fit the 1024-character statement",
                            -1);
    }
  }
}

void AppendOrdering(const MimerQueryFilter* filters, uint32_t filterCount,
                    std::span<const OrderField> fields, char16_t* statement) {
  size_t length = Length(statement);
  bool first = true;
  for (uint32_t f = 0; f < filterCount; ++f) {
    const MimerQueryFilter& filter = filters[f];
    if (filter.orderCount == 0 || !filter.orders) continue;
    for (uint32_t i = 0; i < filter.orderCount; ++i) {
      const _MimerQueryOrderItem& item = filter.orders[i];
      const OrderField* field = nullptr;
      for (const OrderField& candidate : fields) {
        if (candidate.code == item.field) field = &candidate;
      }
      if (!field) continue;
      const char16_t* direction = item.direction == 2   ? u" desc"
                                  : item.direction == 1 ? u" asc"
                                                        : u"";
      // An ordering cut anywhere would return other rows than asked for
      // (a column without its direction sorts the other way round).
      if (!Append(statement, length,
                  (first ? u" order by " : u",") + Ascii(field->column) + direction)) {
        throw CMimerException(
            u"query filter: the ordering does not fit the 1024-character statement", -1);
      }
      first = false;
    }
  }
}

size_t OrderingStart(const std::u16string& statement) {
  const size_t at = statement.find(u" order by ");
  return at == std::u16string::npos ? statement.size() : at;
}

std::u16string BoundedCount(const Composed& q) {
  // "select * from T where ..." or "select id from T where ...": the count
  // reads the ids of the same rows.
  const size_t from = q.statement.find(u" from ");
  return u"select count(*) as cnt from (select id" +
         q.statement.substr(from, q.conditions_end - from) + u" limit ?)";
}

}  // namespace zusms
