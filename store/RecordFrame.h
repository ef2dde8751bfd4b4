// The one shape of every record operation, written once.
//
// A record family is a declaration: its statements and three field tables
// (what the insert binds, what the update assigns, what the row mapper
// reads), each field naming its column, its place in the record, its kind and
// its capacity. Binding and reading follow from the tables. The standard
// operations below run a family that follows the pattern; a family that
// departs from it writes that operation in its own file out of the same
// building blocks (Execute, CountRows, PrepareNewId, ReadRow, ReadRows).
//
// Every operation returns 0, or -1 when the engine raised (after releasing
// its command). Statements restrict every row to the store's user.
#ifndef ZUSMS_STORE_RECORDFRAME_H_
#define ZUSMS_STORE_RECORDFRAME_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "Guard.h"
#include "MimerDatabase.h"

namespace zusms {

enum class FieldKind : uint8_t { kInt16, kInt32, kText, kBytes };

struct Field {
  const char* column;
  size_t offset;  // offsetof(Record, member)
  FieldKind kind;
  size_t size;  // sizeof(member): what binding and reading never go beyond
};

template <typename Member>
constexpr Field MakeField(const char* column, size_t offset) {
  if constexpr (std::is_same_v<Member, int16_t>) {
    return {column, offset, FieldKind::kInt16, sizeof(Member)};
  } else if constexpr (std::is_same_v<Member, int32_t>) {
    return {column, offset, FieldKind::kInt32, sizeof(Member)};
  } else if constexpr (std::is_array_v<Member> &&
                       std::is_same_v<std::remove_extent_t<Member>, char16_t>) {
    return {column, offset, FieldKind::kText, sizeof(Member)};
  } else {
    static_assert(std::is_array_v<Member> && std::is_same_v<std::remove_extent_t<Member>, uint8_t>,
                  "a record field is a 16- or 32-bit integer, a text or bytes");
    return {column, offset, FieldKind::kBytes, sizeof(Member)};
  }
}

// A field whose column has the member's name.
#define ZU_FIELD(Record, member) \
  ::zusms::MakeField<decltype(Record::member)>(#member, offsetof(Record, member))
// A field read from or written to a column of another name.
#define ZU_FIELD_AS(Record, member, column) \
  ::zusms::MakeField<decltype(Record::member)>(column, offsetof(Record, member))

// Appends the fields of `record` in table order. A text is bound up to its
// terminating zero and never beyond its field: a text that fills its field
// without one makes the engine raise.
void BindFields(CMimerParameterSet& params, const void* record, std::span<const Field> fields);
// Copies the columns of the current row into `record`, each within its field.
void ReadFields(CMimerRecordSet& rows, void* record, std::span<const Field> fields);

template <typename Record>
struct Family {
  const char16_t* insert;                // every column but id; UserID last
  const char16_t* update;                // ... where ID=? and UserID=?
  const char16_t* remove;                // where id=? and UserID=?
  const char16_t* remove_all;            // where UserID=?
  const char16_t* exists;                // count(*) as cnt ... where id=? and UserID=?
  const char16_t* select;                // select * ... where id=? and UserID=?
  const char16_t* count;                 // count(*) as cnt ... where UserID=?
  const char16_t* ids;                   // select ID ... where UserID=?
  const char16_t* all;                   // select * ... where UserID=?
  std::span<const Field> insert_fields;  // bound before the UserID
  std::span<const Field> update_fields;  // assigned, before the id and UserID
  std::span<const Field> row_fields;     // every column, in table order
};

// Each family's declaration, defined in the family's own file by
// ZU_FAMILY_OF: the schema test reads the field tables through it.
template <typename Record>
const Family<Record>& FamilyOf();
template <>
const Family<SmsHead>& FamilyOf<SmsHead>();
template <>
const Family<SmsContent>& FamilyOf<SmsContent>();
template <>
const Family<SmsAreaBroadcast>& FamilyOf<SmsAreaBroadcast>();
template <>
const Family<SmsFolder>& FamilyOf<SmsFolder>();
template <>
const Family<SmsFilter>& FamilyOf<SmsFilter>();
template <>
const Family<SmsRecieverHistory>& FamilyOf<SmsRecieverHistory>();
template <>
const Family<SmsPhrase>& FamilyOf<SmsPhrase>();

#define ZU_FAMILY_OF(Record, family)         \
  namespace zusms {                          \
  template <>                                \
  const Family<Record>& FamilyOf<Record>() { \
    return family;                           \
  }                                          \
  }

// The seven statements of a table that follow the pattern word for word.
#define ZU_STANDARD_STATEMENTS(Table)                                          \
  .remove = u"delete from " #Table " where id=? and UserID=?",                 \
  .remove_all = u"delete from " #Table " where UserID=?",                      \
  .exists = u"select count(*) as cnt from " #Table " where id=? and UserID=?", \
  .select = u"select * from " #Table " where id=? and UserID=?",               \
  .count = u"select count(*) as cnt from " #Table " where UserID=?",           \
  .ids = u"select ID from " #Table " where UserID=?",                          \
  .all = u"select * from " #Table " where UserID=?"

// Rows that a message head owns in a table of their own (a multimedia
// message's attributes, parts, addresses): keyed by the head's id and the
// user, and, when `numbered`, by the row's position among the head's rows,
// which the insert binds after them and the select orders by. The fields
// follow in table order; a row goes with its head.
template <typename Record>
struct OwnedRows {
  const char16_t* insert;      // HeadId, UserID[, position], the fields[, more]
  const char16_t* select;      // the fields[, more] ... where HeadId=? and UserID=?
  const char16_t* count;       // count(*) as cnt ... where HeadId=? and UserID=?
  const char16_t* remove;      // where HeadId=? and UserID=?
  const char16_t* remove_all;  // where UserID=?
  bool numbered;
  std::span<const Field> fields;
};

// The three statements of a table of owned rows that follow the pattern.
#define ZU_OWNED_STATEMENTS(Table)                                                \
  .count = u"select count(*) as cnt from " #Table " where HeadId=? and UserID=?", \
  .remove = u"delete from " #Table " where HeadId=? and UserID=?",                \
  .remove_all = u"delete from " #Table " where UserID=?"

// ---- Building blocks: each runs one statement on `cmd` and raises on error.

CMimerConnection& Conn();

// Runs a statement that changes rows; `bind` appends its values.
template <typename Bind>
void Execute(CMimerCommand& cmd, const char16_t* sql, Bind&& bind) {
  cmd.InitCommand(sql);
  bind(cmd);
  cmd.ExecuteNoQuery();
  cmd.UninitCommand();
}

// Runs a `count(*) as cnt` statement into `n`.
template <typename Bind>
void CountRows(CMimerCommand& cmd, const char16_t* sql, Bind&& bind, uint32_t& n) {
  CMimerRecordSet rows;
  cmd.InitCommand(sql);
  bind(cmd);
  cmd.ExecuteQuery(rows);
  rows.GetValue("cnt", &n, sizeof n);
  cmd.UninitCommand();
}

// Makes `cmd` ready to read, when run, the id that the thread's next insert
// draws into `newId`.
void PrepareNewId(CMimerCommand& cmd, uint32_t& newId);

// Runs a select and hands its first row to `map`.
template <typename Bind, typename Map>
void ReadRow(CMimerCommand& cmd, const char16_t* sql, Bind&& bind, Map&& map) {
  CMimerRecordSet rows;
  cmd.InitCommand(sql);
  bind(cmd);
  cmd.ExecuteQuery(rows);
  map(rows);
  cmd.UninitCommand();
}

// Runs a select and hands at most `n` rows to `map(rows, i)`, stopping early
// when the rows run out (rows removed since they were counted). Sets `n` to
// the number of rows handed over.
template <typename Bind, typename Map>
void ReadRows(CMimerCommand& cmd, const char16_t* sql, Bind&& bind, uint32_t& n, Map&& map) {
  CMimerRecordSet rows;
  cmd.InitCommand(sql);
  bind(cmd);
  cmd.ExecuteQuery(rows);
  uint32_t i = 0;
  for (; i < n && rows.HasRow(); ++i) {
    map(rows, i);
    rows.MoveNext();
  }
  n = i;
  cmd.UninitCommand();
}

// Runs `body(cmd)` as one guarded region: an engine error releases the
// command and gives -1, and nothing else escapes either.
template <typename Body>
int32_t Guarded(Body&& body) noexcept {
  return Guard([&]() -> int32_t {
    CMimerCommand cmd(&Conn());
    try {
      return body(cmd);
    } catch (const CMimerException&) {
      cmd.UninitCommand();
      return -1;
    }
  });
}

// Binds the store's user id.
inline auto User(uint32_t user) {
  return [user](CMimerCommand& cmd) { cmd.AppendParameter(user); };
}
inline auto IdUser(uint32_t id, uint32_t user) {
  return [id, user](CMimerCommand& cmd) {
    cmd.AppendParameter(id);
    cmd.AppendParameter(user);
  };
}

// Inserts `count` rows owned by head `head`, each at its position (from
// `first`); the
// fields are read from the start of each element, `more(cmd, element)`
// appends the values they do not hold.
template <typename Record, typename Element, typename More>
void InsertOwned(CMimerCommand& cmd, const OwnedRows<Record>& f, uint32_t head, uint32_t user,
                 const Element* elements, uint32_t count, More&& more, uint32_t first = 0) {
  for (uint32_t i = 0; i < count; ++i) {
    Execute(cmd, f.insert, [&](CMimerCommand& c) {
      c.AppendParameter(head);
      c.AppendParameter(user);
      if (f.numbered) c.AppendParameter(first + i);
      BindFields(c, &elements[i], f.fields);
      more(c, elements[i]);
    });
  }
}

// At most `n` of head `head`'s rows, in order, into `recs` through the
// fields and `more(rows, rec)`; `n` becomes the number read.
template <typename Record, typename More>
void ReadOwned(CMimerCommand& cmd, const OwnedRows<Record>& f, uint32_t head, uint32_t user,
               Record* recs, uint32_t& n, More&& more) {
  ReadRows(cmd, f.select, IdUser(head, user), n, [&](CMimerRecordSet& rows, uint32_t i) {
    ReadFields(rows, &recs[i], f.fields);
    more(rows, recs[i]);
  });
}

// A timestamp as the listings hand it out: to the second.
inline stDateTime DateTimeOf(const tagTIMESTAMP_STRUCT& t) {
  return {t.year,
          static_cast<int16_t>(t.month),
          static_cast<int16_t>(t.day),
          static_cast<int16_t>(t.hour),
          static_cast<int16_t>(t.minute),
          static_cast<int16_t>(t.second)};
}

// ---- The standard operations.

// Insert (`bind` appends every value), then the new id into `newId` and the
// record's id field. The id's statement is made ready before the insert:
// after the insert nothing is left that can fail (SQLite out of memory
// preparing it) and leave a stored row whose add returned -1.
template <typename Bind>
int32_t AddRow(const char16_t* insert, Bind&& bind, uint32_t& newId, int32_t& idField) {
  return Guarded([&](CMimerCommand& cmd) {
    CMimerCommand id(&Conn());
    PrepareNewId(id, newId);
    Execute(cmd, insert, bind);
    id.ExecuteNoQuery();
    id.UninitCommand();
    idField = static_cast<int32_t>(newId);
    return 0;
  });
}

template <typename Record>
int32_t AddRecord(const Family<Record>& f, uint32_t user, Record& rec, uint32_t& newId) {
  return AddRow(
      f.insert,
      [&](CMimerCommand& cmd) {
        BindFields(cmd, &rec, f.insert_fields);
        cmd.AppendParameter(user);
      },
      newId, rec.id);
}

// The departure of filters, phrases and recipient history: the record's id
// is first set to the value `newId` holds on entry, so that a failed add
// leaves that value in the record.
template <typename Record>
int32_t AddRecordSeedingId(const Family<Record>& f, uint32_t user, Record& rec, uint32_t& newId) {
  rec.id = static_cast<int32_t>(newId);
  return AddRecord(f, user, rec, newId);
}

// Pre-check; when the row exists, the update (`bind` appends the assigned
// values; the id and user follow). `missing` is the status when it does not.
template <typename Record, typename Bind>
int32_t UpdateRow(const Family<Record>& f, uint32_t user, const Record& rec, Bind&& bind,
                  int32_t missing) {
  const auto id = static_cast<uint32_t>(rec.id);
  return Guarded([&](CMimerCommand& cmd) {
    uint32_t count = 0;
    CountRows(cmd, f.exists, IdUser(id, user), count);
    if (count == 0) return missing;
    Execute(cmd, f.update, [&](CMimerCommand& c) {
      bind(c);
      IdUser(id, user)(c);
    });
    return 0;
  });
}

template <typename Record>
int32_t UpdateRecord(const Family<Record>& f, uint32_t user, const Record& rec) {
  return UpdateRow(
      f, user, rec, [&](CMimerCommand& cmd) { BindFields(cmd, &rec, f.update_fields); }, 0);
}

int32_t DeleteRecord(const char16_t* remove, uint32_t user, uint32_t id);
int32_t DeleteAllRecords(const char16_t* remove_all, uint32_t user);
// Count into `n`; `n` is left alone when the statement fails.
int32_t CountRecords(const char16_t* count, uint32_t user, uint32_t& n);

// Pre-check, then the row into `rec` through `map(rec, rows)`; `rec` is left
// as it was when the row does not exist (`missing` is then returned).
template <typename Record, typename Map>
int32_t GetRecord(const Family<Record>& f, uint32_t user, uint32_t id, Record& rec, Map&& map,
                  int32_t missing = 0) {
  return Guarded([&](CMimerCommand& cmd) {
    uint32_t count = 0;
    CountRows(cmd, f.exists, IdUser(id, user), count);
    if (count == 0) return missing;
    ReadRow(cmd, f.select, IdUser(id, user), [&](CMimerRecordSet& rows) { map(rec, rows); });
    return 0;
  });
}

// The family's own count fills the total; the rows read are at most the
// smaller of it and `capacity`, and `n` becomes the number of elements
// written. A listing that fails leaves `n` alone.
template <typename Count>
int32_t GetAllIds(const char16_t* ids_sql, uint32_t user, Count&& count, uint32_t* ids,
                  uint32_t capacity, uint32_t& n) {
  return Guarded([&](CMimerCommand& cmd) {
    if (!ids && capacity > 0) throw CMimerException(u"a null id array", -1);
    uint32_t total = 0;
    if (count(total) != 0) return -1;  // the count's reason is the last error
    uint32_t read = total < capacity ? total : capacity;
    ReadRows(cmd, ids_sql, User(user), read, [&](CMimerRecordSet& rows, uint32_t i) {
      rows.GetValue("id", &ids[i], sizeof ids[i]);
    });
    n = read;
    return 0;
  });
}

template <typename Element, typename Count, typename Map>
int32_t GetAllRows(const char16_t* all_sql, uint32_t user, Count&& count, Element* recs,
                   uint32_t capacity, uint32_t& n, Map&& map) {
  return Guarded([&](CMimerCommand& cmd) {
    if (!recs && capacity > 0) throw CMimerException(u"a null record array", -1);
    uint32_t total = 0;
    if (count(total) != 0) return -1;  // the count's reason is the last error
    uint32_t read = total < capacity ? total : capacity;
    ReadRows(cmd, all_sql, User(user), read,
             [&](CMimerRecordSet& rows, uint32_t i) { map(recs[i], rows); });
    n = read;
    return 0;
  });
}

}  // namespace zusms

#endif  // ZUSMS_STORE_RECORDFRAME_H_
