// One condition of a query filter: its text and its bound values.
#include <cstdint>
#include <string>

#include "Boundary.h"
#include "MimerDatabase.h"

namespace {

const char16_t* Comparison(int32_t op) {
  switch (op) {
    case ZU_OP_EQ:
      return u" = ?";
    case ZU_OP_NE:
      return u" <> ?";
    case ZU_OP_LT:
      return u" < ?";
    case ZU_OP_LE:
      return u" <= ?";
    case ZU_OP_GT:
      return u" > ?";
    case ZU_OP_GE:
      return u" >= ?";
    default:
      return nullptr;
  }
}

// The text with LIKE's wildcards and the escape character made literal.
std::u16string Literal(const char16_t* text) {
  std::u16string out;
  for (; *text; ++text) {
    if (*text == u'%' || *text == u'_' || *text == u'\\') out += u'\\';
    out += *text;
  }
  return out;
}

}  // namespace

int CMimerDatabase::SetQuery(MimerPropType type, const char* column,
                             const _MimerQueryFilterItem& item, std::u16string& condition,
                             CMimerParameterSet& params) const {
  condition.clear();
  if (!column) throw CMimerException(u"query filter: no column", -1);
  if (item.op == ZU_OP_NONE) return 0;
  if (item.op < ZU_OP_NONE || item.op > ZU_OP_BYTES_EQ) {
    throw CMimerException::Filter("unknown comparison " + std::to_string(item.op), column);
  }
  const std::u16string name = zusms::engine::ToUtf16(column);
  switch (type) {
    case MimerPropInt:
    case MimerPropShort:
    case MimerPropUShort: {
      const char16_t* comparison = Comparison(item.op);
      if (!comparison)
        throw CMimerException::Filter("this comparison does not apply to a number", column);
      const bool wide = type == MimerPropInt;
      const int64_t lo = wide ? INT32_MIN : INT16_MIN, hi = wide ? INT32_MAX : INT16_MAX;
      if (item.value.number < lo || item.value.number > hi) {
        throw CMimerException::Filter("the number does not fit the field", column);
      }
      condition = name + comparison;
      params.AppendParameter(static_cast<int32_t>(item.value.number));
      return 0;
    }
    case MimerPropBytes:
      if (item.op != ZU_OP_BYTES_EQ) {
        throw CMimerException::Filter("a column of bytes compares only with ZU_OP_BYTES_EQ",
                                      column);
      }
      if (!item.value.bytes) throw CMimerException::Filter("null bytes", column);
      condition = name + u" = ?";
      params.AppendParameter(item.value.bytes, 16);
      return 0;
    case MimerPropText: {
      if (item.op == ZU_OP_BYTES_EQ) {
        throw CMimerException::Filter("ZU_OP_BYTES_EQ applies to a column of bytes only", column);
      }
      if (!item.value.text) throw CMimerException::Filter("null text", column);
      if (const char16_t* comparison = Comparison(item.op)) {
        condition = name + comparison;
        params.AppendParameter(item.value.text);
      } else if (item.op == ZU_OP_LIKE) {
        condition = name + u" like ?";
        params.AppendParameter(item.value.text);
      } else if (item.op == ZU_OP_CONTAINS || item.op == ZU_OP_BEGINS) {
        condition = name + u" like ? escape '\\'";
        const std::u16string pattern =
            (item.op == ZU_OP_CONTAINS ? u"%" : u"") + Literal(item.value.text) + u"%";
        params.AppendParameter(pattern.c_str());
      } else {
        throw CMimerException::Filter("unknown comparison " + std::to_string(item.op), column);
      }
      return 0;
    }
    case MimerPropNone:
      break;
  }
  throw CMimerException::Filter("unknown value type " + std::to_string(static_cast<int>(type)),
                                column);
}
