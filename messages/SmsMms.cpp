// Multimedia messages: a message head like any other (folder, UUID,
// modification time, listings, change log, all as for a text message) and
// what it owns beside it, in four tables keyed by the head's id and the
// user: the message's own attributes (zu_mms), its further attributes as
// name/value pairs (zu_mms_attr), its parts (zu_mms_part, the data a BLOB)
// and its addresses (zu_mms_addr), each kept in the order given. A row goes
// with its head: a foreign key deletes it on every connection that enforces
// them, and the head deletions of the library delete it themselves, within
// the user. The tables are made at a writable open that finds them missing;
// a read-only file without them has no multimedia message.
//
// The departures of the family are all here: one add stores the head and
// every owned row in one transaction, after checking all of the input; a
// part's data is read in pieces at an offset, or whole through one handle
// handed to the caller a piece at a time, never held whole; a part's text is
// read apart and measured as it is read.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Boundary.h"
#include "Exports.h"
#include "RecordFrame.h"
#include "SmsDatabase.h"
#include "Transaction.h"

namespace {

using zusms::Field;

constexpr const char* kTables[] = {"zu_mms", "zu_mms_attr", "zu_mms_part", "zu_mms_addr"};

constexpr const char16_t* kCreate[] = {
    u"create table zu_mms( HeadId integer not null, UserID integer not null, subject "
    u"nvarchar(256), ctype nvarchar(128), mtype integer, constraint pk_zu_mms primary "
    u"key(HeadId, UserID), foreign key(HeadId) references SmsHead(id) on delete cascade )in "
    u"zu_sms_db;",
    u"create table zu_mms_attr( HeadId integer not null, UserID integer not null, AttrNo "
    u"integer not null, name nvarchar(64), value nvarchar(1024), constraint pk_zu_mms_attr "
    u"primary key(HeadId, UserID, AttrNo), foreign key(HeadId) references SmsHead(id) on "
    u"delete cascade )in zu_sms_db;",
    // PartId is the row's own key, by which a part's data is read in pieces.
    u"create table zu_mms_part( PartId integer, HeadId integer not null, UserID integer not "
    u"null, PartNo integer not null, seq integer, ctype nvarchar(128), name nvarchar(256), "
    u"fname nvarchar(256), charset nvarchar(32), cid nvarchar(128), cl nvarchar(256), text "
    u"nvarchar(65535), data blob(100M), constraint pk_zu_mms_part primary key(PartId), "
    u"foreign key(HeadId) references SmsHead(id) on delete cascade )in zu_sms_db;",
    u"create unique index zu_mms_part_no on zu_mms_part (HeadId, UserID, PartNo);",
    u"create table zu_mms_addr( HeadId integer not null, UserID integer not null, AddrNo "
    u"integer not null, address nvarchar(128), type smallint, charset nvarchar(32), constraint "
    u"pk_zu_mms_addr primary key(HeadId, UserID, AddrNo), foreign key(HeadId) references "
    u"SmsHead(id) on delete cascade )in zu_sms_db;",
};

constexpr Field kMessageFields[] = {ZU_FIELD(SmsMms, subject), ZU_FIELD(SmsMms, ctype),
                                    ZU_FIELD(SmsMms, mtype)};
constexpr Field kAttributeFields[] = {ZU_FIELD(SmsMmsAttribute, name),
                                      ZU_FIELD(SmsMmsAttribute, value)};
constexpr Field kPartFields[] = {ZU_FIELD(SmsMmsPart, seq),     ZU_FIELD(SmsMmsPart, ctype),
                                 ZU_FIELD(SmsMmsPart, name),    ZU_FIELD(SmsMmsPart, fname),
                                 ZU_FIELD(SmsMmsPart, charset), ZU_FIELD(SmsMmsPart, cid),
                                 ZU_FIELD(SmsMmsPart, cl)};
constexpr Field kAddressFields[] = {ZU_FIELD(SmsMmsAddress, address), ZU_FIELD(SmsMmsAddress, type),
                                    ZU_FIELD(SmsMmsAddress, charset)};
// A part is added with its description at the start of what is bound.
static_assert(offsetof(SmsMmsPartData, part) == 0);

constexpr zusms::OwnedRows<SmsMms> kMessage = {
    .insert = u"insert into zu_mms( HeadId, UserID, subject, ctype, mtype) VALUES (?, ?, ?, ?, ?)",
    .select = u"select subject, ctype, mtype from zu_mms where HeadId=? and UserID=?",
    ZU_OWNED_STATEMENTS(zu_mms),
    .numbered = false,
    .fields = kMessageFields,
};
constexpr zusms::OwnedRows<SmsMmsAttribute> kAttributes = {
    .insert =
        u"insert into zu_mms_attr( HeadId, UserID, AttrNo, name, value) VALUES (?, ?, ?, ?, ?)",
    .select = u"select name, value from zu_mms_attr where HeadId=? and UserID=? order by AttrNo",
    ZU_OWNED_STATEMENTS(zu_mms_attr),
    .numbered = true,
    .fields = kAttributeFields,
};
// The listing of parts reads their text (to measure it) and the length of
// their data, never the data.
constexpr zusms::OwnedRows<SmsMmsPart> kParts = {
    .insert =
        u"insert into zu_mms_part( HeadId, UserID, PartNo, seq, ctype, name, fname, charset, "
        u"cid, cl, text, data) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
    .select =
        u"select seq, ctype, name, fname, charset, cid, cl, text, length(data) as datalen from "
        u"zu_mms_part where HeadId=? and UserID=? order by PartNo",
    ZU_OWNED_STATEMENTS(zu_mms_part),
    .numbered = true,
    .fields = kPartFields,
};
constexpr zusms::OwnedRows<SmsMmsAddress> kAddresses = {
    .insert =
        u"insert into zu_mms_addr( HeadId, UserID, AddrNo, address, type, charset) VALUES (?, "
        u"?, ?, ?, ?, ?)",
    .select =
        u"select address, type, charset from zu_mms_addr where HeadId=? and UserID=? "
        u"order by AddrNo",
    ZU_OWNED_STATEMENTS(zu_mms_addr),
    .numbered = true,
    .fields = kAddressFields,
};

// The user's multimedia messages: how many, and their ids in id order.
constexpr const char16_t* kCount = u"select count(*) as cnt from zu_mms where UserID=?";
constexpr const char16_t* kIds = u"select HeadId as id from zu_mms where UserID=? order by HeadId";

// Part N is the N-th of the message's parts in the order of their numbers,
// as the listing gives them: the numbers of a message whose part another
// program deleted or renumbered have a gap, and every part left is read.
#define ZU_PART_AT(columns) \
  u"select " columns u" from zu_mms_part p where HeadId=? and UserID=? and (select count(*) " \
  u"from zu_mms_part q where q.HeadId=p.HeadId and q.UserID=p.UserID and q.PartNo<p.PartNo)=?"
constexpr const char16_t* kPartText = ZU_PART_AT(u"text");
constexpr const char16_t* kPartKey = ZU_PART_AT(u"PartId, length(data) as datalen");
#undef ZU_PART_AT

// The status of a message or part the user does not have.
constexpr int32_t kMissing = 100;

// A part's text is read through a field one character longer than any text
// the library stores: a longer one, written by another program, comes cut.
constexpr size_t kTextField = ZU_MMS_TEXT_MAX + 2;

auto IdUserPart(uint32_t id, uint32_t user, uint32_t part) {
  return [=](CMimerCommand& cmd) {
    zusms::IdUser(id, user)(cmd);
    cmd.AppendParameter(part);
  };
}

size_t TextLength(const char16_t* text, size_t limit) {
  size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

void Refuse(const std::string& why) { throw std::invalid_argument(why); }

// Raises when a text field of `record` has no terminating zero: found
// before anything is written.
void CheckFields(const void* record, std::span<const Field> fields, const char* what) {
  try {
    CMimerParameterSet unused;
    zusms::BindFields(unused, record, fields);
  } catch (const CMimerException&) {
    Refuse(std::string("a text field of ") + what + " has no terminating zero");
  }
}

// A column's text and capacity.
using Column = std::pair<std::u16string_view, size_t>;
template <size_t N>
Column Kept(const char16_t (&field)[N]) {
  return {field, N};
}

// The column that attribute `name` of a part (or an address) fills: nothing
// when it has none; capacity 0 for one never kept as an attribute.
std::optional<Column> ColumnOf(const SmsMmsPart* p, const SmsMmsAddress* a,
                               std::u16string_view name) {
  if (p) {
    if (name == u"ct") return Kept(p->ctype);
    if (name == u"name") return Kept(p->name);
    if (name == u"fn") return Kept(p->fname);
    if (name == u"chset") return Kept(p->charset);
    if (name == u"cid") return Kept(p->cid);
    if (name == u"cl") return Kept(p->cl);
    if (name == u"seq" || name == u"text" || name == u"data") return Column();
    return std::nullopt;
  }
  if (name == u"address") return Kept(a->address);
  if (name == u"charset") return Kept(a->charset);
  if (name == u"type") return Column();
  return std::nullopt;
}

// The rows of further attributes the store names itself: "part:N" holds
// the names of part N's attributes in order, "part:N:NAME" the value of its
// attribute NAME that has no column or is too long for its column (which
// then holds its start), "addr:N" and "addr:N:NAME" likewise for address N,
// and "+" goes on with the value of the row before it. Each must name a
// part or address the message has, once, and a value kept for a column
// must be the whole of which the column holds the start. The message's
// own attributes that a backup writes from a column (MessageColumn) must
// agree with it. The rows are checked with the message, but for a part's
// columns, which are checked when the part comes (PartCome): the parts may
// come one at a time.
class LayoutRows {
 public:
  LayoutRows(const SmsMms& mms, const SmsMmsAttribute* attrs, uint32_t attrCount,
             uint32_t partCount, const SmsMmsAddress* addrs, uint32_t addrCount)
      : attrs_(attrs), count_(attrCount) {
    std::set<std::u16string_view> seen;
    for (uint32_t i = 0; i < attrCount; ++i) {
      const std::u16string_view name(attrs[i].name);
      if (name == u"+") {
        if (i == 0) Refuse(What(i) + " goes on with no attribute before it");
        continue;
      }
      const bool part = name.starts_with(u"part:");
      if (!part && !name.starts_with(u"addr:")) {
        MessageColumn(i, mms);
        continue;
      }
      std::u16string_view rest = name.substr(5);
      const size_t digits = std::min(rest.find(u':'), rest.size());
      const std::u16string_view number = rest.substr(0, digits);
      uint64_t n = 0;
      const bool canonical = !number.empty() && number.size() <= 9 &&
                             (number.size() == 1 || number[0] != u'0') &&
                             std::all_of(number.begin(), number.end(), [&](char16_t c) {
                               n = n * 10 + (c - u'0');
                               return c >= u'0' && c <= u'9';
                             });
      if (!canonical || n >= (part ? partCount : addrCount)) {
        Refuse(What(i) + ": the message has no " + (part ? "part " : "address ") +
               zusms::engine::ToUtf8(number));
      }
      if (digits < rest.size() && digits + 1 == rest.size())
        Refuse(What(i) + ": no attribute name");
      if (!seen.insert(name).second) Refuse(What(i) + " is given twice");
      if (digits == rest.size()) continue;
      if (part) {
        parts_.push_back({static_cast<uint32_t>(n), i, rest.substr(digits + 1)});
      } else if (const auto column = ColumnOf(nullptr, &addrs[n], rest.substr(digits + 1))) {
        CheckWhole(i, *column);
      }
    }
  }

  // Checks the rows kept for the columns of part `index`.
  void PartCome(uint32_t index, const SmsMmsPart& part) const {
    for (const PartRow& row : parts_) {
      if (row.part != index) continue;
      if (const auto column = ColumnOf(&part, nullptr, row.name)) CheckWhole(row.at, *column);
    }
  }

 private:
  struct PartRow {
    uint32_t part;  // the part it names
    uint32_t at;    // its position among the attributes
    std::u16string_view name;
  };

  std::string What(uint32_t i) const {
    return "attribute " + std::to_string(i) + " (\"" +
           zusms::engine::ToUtf8(std::u16string_view(attrs_[i].name)) + "\")";
  }

  // The value of attribute i with the rows that go on with it.
  std::u16string Whole(uint32_t i) const {
    std::u16string value(attrs_[i].value);
    for (uint32_t k = i + 1; k < count_ && std::u16string_view(attrs_[k].name) == u"+"; ++k)
      value += attrs_[k].value;
    return value;
  }

  // Whether `value` is too long for `column`, which holds as much of it as
  // fits, never half a surrogate pair.
  static bool StartIn(std::u16string_view value, Column column) {
    const auto [start, capacity] = column;
    size_t fits = capacity - 1;
    if (capacity > 1 && value.size() > fits && value[fits - 1] >= 0xD800 &&
        value[fits - 1] <= 0xDBFF)
      --fits;
    return capacity > 0 && value.size() > capacity - 1 && start.size() == fits &&
           value.starts_with(start);
  }

  void CheckWhole(uint32_t i, Column column) const {
    if (!StartIn(Whole(i), column))
      Refuse(What(i) + ": not the whole of which its column holds the start");
  }

  // A message attribute that a backup writes from a column, where the value
  // kept would take the column's place, must agree with it: sub with the
  // subject and ct_t with the content type (the same text, the whole of
  // which the column holds the start, or "null", the backups' word for
  // none, with the column empty), m_type with the message type (its
  // decimal, leading zeros allowed; a value that is no number in 32 bits,
  // with the type 0).
  void MessageColumn(uint32_t i, const SmsMms& mms) const {
    const std::u16string_view name(attrs_[i].name);
    const bool subject = name == u"sub";
    if (!subject && name != u"ct_t" && name != u"m_type") return;
    const std::u16string value = Whole(i);
    bool agrees = false;
    if (name == u"m_type") {
      std::optional<int64_t> n;
      const std::u16string_view digits = std::u16string_view(value).substr(value.starts_with(u'-'));
      if (!digits.empty() && digits.size() <= 18 &&
          std::all_of(digits.begin(), digits.end(),
                      [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
        n = 0;
        for (char16_t c : digits) *n = *n * 10 + (c - u'0');
        if (value.starts_with(u'-')) *n = -*n;
        if (*n < INT32_MIN || *n > INT32_MAX) n.reset();
      }
      agrees = n ? *n == mms.mtype : mms.mtype == 0;
    } else {
      const Column column = subject ? Kept(mms.subject) : Kept(mms.ctype);
      agrees = value == column.first || StartIn(value, column) ||
               (value == u"null" && column.first.empty());
    }
    if (!agrees)
      Refuse(What(i) + ": disagrees with the message's " +
             (subject           ? "subject"
              : name == u"ct_t" ? "content type"
                                : "message type"));
  }

  const SmsMmsAttribute* attrs_;
  uint32_t count_;
  std::vector<PartRow> parts_;
};

// Raises for a part that cannot be stored, from its description (its
// position `i`, its text's length).
void CheckDescription(const SmsMmsPart& p, uint32_t i, size_t textlen) {
  CheckFields(&p, kPartFields, "a part");
  if (p.datalen > ZU_MMS_PART_MAX)
    Refuse("part " + std::to_string(i) + " holds " + std::to_string(p.datalen) +
           " bytes, more than " + std::to_string(ZU_MMS_PART_MAX));
  if (textlen > ZU_MMS_TEXT_MAX)
    Refuse("part " + std::to_string(i) + " has a text longer than " +
           std::to_string(ZU_MMS_TEXT_MAX) + " characters");
}

// ... from the part as it is added.
void CheckPart(const SmsMmsPartData& p, uint32_t i) {
  CheckDescription(p.part, i, p.text ? TextLength(p.text, ZU_MMS_TEXT_MAX + 1) : 0);
  if (!p.data && p.part.datalen > 0) Refuse("part " + std::to_string(i) + " has null data");
}

// Raises for what cannot be stored of a message but its parts.
void CheckMessage(const SmsHead& head, const SmsMms& mms, const SmsMmsAttribute* attrs,
                  uint32_t attrCount, const SmsMmsAddress* addrs, uint32_t addrCount) {
  if ((!attrs && attrCount > 0) || !addrs) Refuse("null attributes, parts or addresses");
  if (addrCount == 0) Refuse("a multimedia message without an address");
  CheckFields(&head, zusms::FamilyOf<SmsHead>().update_fields, "the head");
  CheckFields(&mms, kMessageFields, "the message");
  for (uint32_t i = 0; i < attrCount; ++i) CheckFields(&attrs[i], kAttributeFields, "an attribute");
  for (uint32_t i = 0; i < addrCount; ++i) {
    CheckFields(&addrs[i], kAddressFields, "an address");
    const int16_t type = addrs[i].type;
    if (type != ZU_MMS_FROM && type != ZU_MMS_TO && type != ZU_MMS_CC && type != ZU_MMS_BCC)
      Refuse("address " + std::to_string(i) + " has the unknown type " + std::to_string(type));
  }
}

// What a table binds or reads beyond its fields: nothing.
constexpr auto Nothing = [](auto&, const auto&) {};

bool TablesThere() {
  CMimerConnection& conn = CMimerDatabase::GetConn(MimerConnDefault);
  return std::all_of(std::begin(kTables), std::end(kTables),
                     [&](const char* table) { return conn.HasTable(table); });
}

// The row key of part `part` of the user's message `id` and the length of
// its data (0 when it has none), read inside the caller's transaction;
// false when there is no such part.
bool FindPart(CMimerCommand& cmd, uint32_t id, uint32_t user, uint32_t part, uint32_t& key,
              uint32_t& length) {
  bool there = false;
  zusms::ReadRow(cmd, kPartKey, IdUserPart(id, user, part), [&](CMimerRecordSet& rows) {
    there = rows.HasRow();
    if (!there) return;
    rows.GetValue("PartId", &key, sizeof key);
    rows.GetValue("datalen", &length, sizeof length);
  });
  return there;
}

}  // namespace

int32_t SmsDatabase::OpenMms() {
  if (IsReadOnly() || MmsInPlace()) return 0;
  return zusms::Guarded([](CMimerCommand& cmd) {
    for (const char16_t* statement : kCreate) zusms::Execute(cmd, statement, [](CMimerCommand&) {});
    return 0;
  });
}

bool SmsDatabase::MmsInPlace() { return TablesThere(); }

void SmsDatabase::DeleteSmsMmsOf(CMimerCommand& cmd, const uint32_t* id) {
  auto remove = [&](const auto& f) {
    if (id) {
      zusms::Execute(cmd, f.remove, zusms::IdUser(*id, m_UserID));
    } else {
      zusms::Execute(cmd, f.remove_all, zusms::User(m_UserID));
    }
  };
  remove(kAddresses);
  remove(kParts);
  remove(kAttributes);
  remove(kMessage);
}

int32_t SmsDatabase::AddSmsMms(SmsHead& head, const SmsMms& mms, const SmsMmsAttribute* attrs,
                               uint32_t attrCount, const SmsMmsPartData* parts, uint32_t partCount,
                               const SmsMmsAddress* addrs, uint32_t addrCount, uint32_t& newId) {
  return zusms::Guard([&]() -> int32_t {
    if (!parts && partCount > 0) Refuse("null attributes, parts or addresses");
    CheckMessage(head, mms, attrs, attrCount, addrs, addrCount);
    const LayoutRows layout(mms, attrs, attrCount, partCount, addrs, addrCount);
    for (uint32_t i = 0; i < partCount; ++i) {
      CheckPart(parts[i], i);
      layout.PartCome(i, parts[i].part);
    }
    return AddMms(
        head, mms, attrs, attrCount, partCount,
        [parts](uint32_t i) -> const SmsMmsPartData* { return &parts[i]; }, addrs, addrCount,
        newId);
  });
}

int32_t SmsDatabase::CheckSmsMms(const SmsHead& head, const SmsMms& mms,
                                 const SmsMmsAttribute* attrs, uint32_t attrCount,
                                 const SmsMmsPart* parts, uint32_t partCount,
                                 const SmsMmsAddress* addrs, uint32_t addrCount) {
  return zusms::Guard([&]() -> int32_t {
    if (!parts && partCount > 0) Refuse("null attributes, parts or addresses");
    CheckMessage(head, mms, attrs, attrCount, addrs, addrCount);
    const LayoutRows layout(mms, attrs, attrCount, partCount, addrs, addrCount);
    for (uint32_t i = 0; i < partCount; ++i) {
      CheckDescription(parts[i], i, parts[i].textlen);
      layout.PartCome(i, parts[i]);
    }
    return 0;
  });
}

int32_t SmsDatabase::AddSmsMmsFrom(SmsHead& head, const SmsMms& mms, const SmsMmsAttribute* attrs,
                                   uint32_t attrCount, uint32_t partCount, ZuSmsPartSource source,
                                   void* context, const SmsMmsAddress* addrs, uint32_t addrCount,
                                   uint32_t& newId) {
  return zusms::Guard([&]() -> int32_t {
    if (!source) Refuse("a null source");
    CheckMessage(head, mms, attrs, attrCount, addrs, addrCount);
    const LayoutRows layout(mms, attrs, attrCount, partCount, addrs, addrCount);
    SmsMmsPartData part{};
    return AddMms(
        head, mms, attrs, attrCount, partCount,
        [&](uint32_t i) -> const SmsMmsPartData* {
          part = SmsMmsPartData{};
          int32_t given = 0;
          {
            zusms::SinkScope scope;
            given = source(context, i, &part);
          }
          if (given != 0) return nullptr;
          CheckPart(part, i);
          layout.PartCome(i, part.part);
          return &part;
        },
        addrs, addrCount, newId);
  });
}

template <typename Parts>
int32_t SmsDatabase::AddMms(SmsHead& head, const SmsMms& mms, const SmsMmsAttribute* attrs,
                            uint32_t attrCount, uint32_t partCount, Parts&& part,
                            const SmsMmsAddress* addrs, uint32_t addrCount, uint32_t& newId) {
  // The caller's head changes only when everything is stored.
  SmsHead stored = head;
  uint32_t id = 0;
  zusms::Transaction transaction;
  if (AddSmsHead(stored, id) != 0) return -1;
  const int32_t status = zusms::Guarded([&](CMimerCommand& cmd) {
    zusms::InsertOwned(cmd, kMessage, id, m_UserID, &mms, 1, Nothing);
    zusms::InsertOwned(cmd, kAttributes, id, m_UserID, attrs, attrCount, Nothing);
    // One part at a time: a caller's source holds one part's data, never all.
    for (uint32_t i = 0; i < partCount; ++i) {
      const SmsMmsPartData* p = part(i);
      if (!p) return ZU_STOPPED;
      // The data goes into the row's zeros in place: SQLite's record of a
      // row holding it would be a copy of the whole part.
      zusms::InsertOwned(
          cmd, kParts, id, m_UserID, p, 1,
          [](CMimerCommand& c, const SmsMmsPartData& d) {
            c.AppendParameter(d.text ? d.text : u"");
            c.AppendParameterZeros(d.part.datalen);
          },
          i);
      uint32_t key = 0, length = 0;
      if (p->part.datalen > 0) {
        if (!FindPart(cmd, id, m_UserID, i, key, length))
          throw CMimerException(u"a part just added is not there", -1);
        CMimerBlob blob(&GetConn(MimerConnDefault));
        blob.Open("zu_mms_part", "data", key, true);
        blob.Write(0, p->data, p->part.datalen);
      }
    }
    zusms::InsertOwned(cmd, kAddresses, id, m_UserID, addrs, addrCount, Nothing);
    return 0;
  });
  if (status != 0) return status;
  transaction.Commit();
  head = stored;
  newId = id;
  return 0;
}

int32_t SmsDatabase::GetSmsMms(uint32_t id, SmsMms& mms, uint32_t& attrCount, uint32_t& partCount,
                               uint32_t& addrCount) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    if (!TablesThere()) return kMissing;
    zusms::Transaction transaction(zusms::Transaction::Lock::kRead);
    SmsMms found{};
    bool there = false;
    zusms::ReadRow(cmd, kMessage.select, zusms::IdUser(id, m_UserID), [&](CMimerRecordSet& rows) {
      there = rows.HasRow();
      if (there) zusms::ReadFields(rows, &found, kMessage.fields);
    });
    if (!there) return kMissing;
    uint32_t counts[3] = {};
    zusms::CountRows(cmd, kAttributes.count, zusms::IdUser(id, m_UserID), counts[0]);
    zusms::CountRows(cmd, kParts.count, zusms::IdUser(id, m_UserID), counts[1]);
    zusms::CountRows(cmd, kAddresses.count, zusms::IdUser(id, m_UserID), counts[2]);
    transaction.Commit();
    mms = found;
    attrCount = counts[0];
    partCount = counts[1];
    addrCount = counts[2];
    return 0;
  });
}

int32_t SmsDatabase::GetSmsMmsCount(uint32_t& n) {
  n = 0;
  if (!TablesThere()) return 0;
  return zusms::CountRecords(kCount, m_UserID, n);
}

int32_t SmsDatabase::GetAllSmsMmsID(uint32_t* ids, uint32_t capacity, uint32_t& n) {
  return zusms::GetAllIds(
      kIds, m_UserID, [this](uint32_t& total) { return GetSmsMmsCount(total); }, ids, capacity, n);
}

namespace {

// At most `capacity` of the rows head `id` of `user` owns into `recs`.
template <typename Record, typename More>
int32_t GetAllOwned(const zusms::OwnedRows<Record>& f, uint32_t id, uint32_t user, Record* recs,
                    uint32_t capacity, uint32_t& n, More&& more) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    if (!recs && capacity > 0) throw CMimerException(u"a null record array", -1);
    uint32_t read = TablesThere() ? capacity : 0;
    if (read > 0) zusms::ReadOwned(cmd, f, id, user, recs, read, more);
    n = read;
    return 0;
  });
}

}  // namespace

namespace {

// The numbers of a message's parts and of its addresses, in order.
constexpr const char16_t* kNumbers[] = {
    u"select PartNo as n from zu_mms_part where HeadId=? and UserID=? order by PartNo",
    u"select AddrNo as n from zu_mms_addr where HeadId=? and UserID=? order by AddrNo"};

// The store's own rows of a message whose parts (`prefix` "part:") or
// addresses ("addr:") another program deleted or renumbered, made to name
// each by its position, as the reads do: "part:N" and "part:N:NAME" of the
// part numbered N name it by its position, and the rows of a part no longer
// there, with those that go on with them, are left out. `numbers`: the
// parts' numbers in order. Returns how many rows are left.
uint32_t ByPosition(SmsMmsAttribute* recs, uint32_t n, std::u16string_view prefix,
                    const std::vector<int64_t>& numbers) {
  // Numbered densely, the rows name the parts as they are, but for those of
  // parts deleted from the end.
  uint32_t kept = 0;
  bool dropped = false;  // the row before was left out
  for (uint32_t i = 0; i < n; ++i) {
    std::u16string name(recs[i].name);
    if (name == u"+") {
      if (!dropped) recs[kept++] = recs[i];
      continue;
    }
    dropped = false;
    if (name.starts_with(prefix)) {
      const size_t end = std::min(name.find(u':', prefix.size()), name.size());
      const std::u16string digits = name.substr(prefix.size(), end - prefix.size());
      if (!digits.empty() && digits.size() <= 9 &&
          std::all_of(digits.begin(), digits.end(),
                      [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
        const int64_t number = std::stoll(zusms::engine::ToUtf8(digits));
        const auto at = std::lower_bound(numbers.begin(), numbers.end(), number);
        if (at == numbers.end() || *at != number) {
          dropped = true;
          continue;
        }
        name = std::u16string(prefix) +
               zusms::engine::ToUtf16(std::to_string(at - numbers.begin())) + name.substr(end);
        std::fill(std::begin(recs[i].name), std::end(recs[i].name), u'\0');
        std::copy(name.begin(), name.end(), recs[i].name);
      }
    }
    recs[kept++] = recs[i];
  }
  return kept;
}

}  // namespace

int32_t SmsDatabase::GetAllSmsMmsAttribute(uint32_t id, SmsMmsAttribute* recs, uint32_t capacity,
                                           uint32_t& n) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    if (!recs && capacity > 0) throw CMimerException(u"a null record array", -1);
    uint32_t read = TablesThere() ? capacity : 0;
    if (read == 0) {
      n = 0;
      return 0;
    }
    // The rows and the numbers from one state of the file.
    zusms::Transaction transaction(zusms::Transaction::Lock::kRead);
    zusms::ReadOwned(cmd, kAttributes, id, m_UserID, recs, read, Nothing);
    std::vector<int64_t> numbers[2];
    for (int k = 0; k < 2; ++k) {
      uint32_t most = UINT32_MAX;
      zusms::ReadRows(cmd, kNumbers[k], zusms::IdUser(id, m_UserID), most,
                      [&](CMimerRecordSet& rows, uint32_t) {
                        int32_t number = 0;
                        rows.GetValue("n", &number, sizeof number);
                        numbers[k].push_back(number);
                      });
    }
    transaction.Commit();
    read = ByPosition(recs, read, u"part:", numbers[0]);
    n = ByPosition(recs, read, u"addr:", numbers[1]);
    return 0;
  });
}

int32_t SmsDatabase::GetAllSmsMmsAddress(uint32_t id, SmsMmsAddress* recs, uint32_t capacity,
                                         uint32_t& n) {
  return GetAllOwned(kAddresses, id, m_UserID, recs, capacity, n, Nothing);
}

int32_t SmsDatabase::GetAllSmsMmsPart(uint32_t id, SmsMmsPart* recs, uint32_t capacity,
                                      uint32_t& n) {
  std::vector<char16_t> text;
  return GetAllOwned(kParts, id, m_UserID, recs, capacity, n,
                     [&](CMimerRecordSet& rows, SmsMmsPart& part) {
                       text.resize(kTextField);
                       rows.GetValue("text", text.data(), kTextField * sizeof(char16_t));
                       part.textlen = static_cast<uint32_t>(TextLength(text.data(), kTextField));
                       rows.GetValue("datalen", &part.datalen, sizeof part.datalen);
                     });
}

int32_t SmsDatabase::GetSmsMmsPartText(uint32_t id, uint32_t part, char16_t* buf, uint32_t capacity,
                                       uint32_t& length) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    if (!buf && capacity > 0) throw CMimerException(u"a null buffer", -1);
    if (!TablesThere()) return kMissing;
    std::vector<char16_t> text(kTextField);
    bool there = false;
    zusms::ReadRow(cmd, kPartText, IdUserPart(id, m_UserID, part), [&](CMimerRecordSet& rows) {
      there = rows.HasRow();
      if (there) rows.GetValue("text", text.data(), kTextField * sizeof(char16_t));
    });
    if (!there) return kMissing;
    const size_t full = TextLength(text.data(), kTextField);
    length = static_cast<uint32_t>(full);
    if (capacity > 0) {
      size_t n = std::min<size_t>(full, capacity - 1);
      // Never half of a surrogate pair.
      if (n > 0 && n < full && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
      std::copy_n(text.data(), n, buf);
      buf[n] = 0;
    }
    return 0;
  });
}

int32_t SmsDatabase::GetSmsMmsPartData(uint32_t id, uint32_t part, uint64_t offset, uint8_t* buf,
                                       uint32_t size, uint32_t& read) {
  return zusms::Guarded([&](CMimerCommand& cmd) {
    if (!buf && size > 0) throw CMimerException(u"a null buffer", -1);
    if (!TablesThere()) return kMissing;
    // The part's key and its bytes from one state of the file.
    zusms::Transaction transaction(zusms::Transaction::Lock::kRead);
    uint32_t key = 0, length = 0;
    if (!FindPart(cmd, id, m_UserID, part, key, length)) return kMissing;
    size_t n = 0;
    if (offset < length && size > 0) {
      CMimerBlob blob(&GetConn(MimerConnDefault));
      blob.Open("zu_mms_part", "data", key);
      n = blob.Read(offset, buf, size);
    }
    transaction.Commit();
    read = static_cast<uint32_t>(n);
    return 0;
  });
}

int32_t SmsDatabase::StreamSmsMmsPartData(uint32_t id, uint32_t part, uint8_t* buf, uint32_t size,
                                          ZuSmsPartSink sink, void* context, uint64_t& total) {
  return zusms::Guarded([&](CMimerCommand& cmd) -> int32_t {
    if (!buf || size == 0 || !sink) throw CMimerException(u"a null buffer or sink, or size 0", -1);
    total = 0;
    if (!TablesThere()) return kMissing;
    // One handle reads the whole value: SQLite finds each piece from the
    // overflow pages the handle has passed, where a handle opened anew
    // walks them from the first.
    zusms::Transaction transaction(zusms::Transaction::Lock::kRead);
    uint32_t key = 0, length = 0;
    if (!FindPart(cmd, id, m_UserID, part, key, length)) return kMissing;
    int32_t status = 0;
    if (length > 0) {
      CMimerBlob blob(&GetConn(MimerConnDefault));
      blob.Open("zu_mms_part", "data", key);
      zusms::SinkScope scope;
      for (uint64_t offset = 0; status == 0;) {
        const size_t n = blob.Read(offset, buf, size);
        if (n == 0) break;
        offset += n;
        status = sink(context, buf, static_cast<uint32_t>(n)) == 0 ? 0 : ZU_STOPPED;
        total = offset;
      }
    }
    transaction.Commit();
    return status;
  });
}

extern "C" {

ZUSMS_API int32_t ZUSMS_CALL AddZuSmsMms(SmsDatabase* h, SmsHead* head, const SmsMms* mms,
                                         const SmsMmsAttribute* attrs, uint32_t attrCount,
                                         const SmsMmsPartData* parts, uint32_t partCount,
                                         const SmsMmsAddress* addrs, uint32_t addrCount,
                                         uint32_t* newId) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.AddSmsMms(zusms::Ref(head, "head"), zusms::Ref(mms, "mms"), attrs, attrCount, parts,
                        partCount, addrs, addrCount, zusms::Ref(newId, "newId"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL AddZuSmsMmsFrom(SmsDatabase* h, SmsHead* head, const SmsMms* mms,
                                             const SmsMmsAttribute* attrs, uint32_t attrCount,
                                             uint32_t partCount, ZuSmsPartSource source,
                                             void* context, const SmsMmsAddress* addrs,
                                             uint32_t addrCount, uint32_t* newId) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.AddSmsMmsFrom(zusms::Ref(head, "head"), zusms::Ref(mms, "mms"), attrs, attrCount,
                            partCount, source, context, addrs, addrCount,
                            zusms::Ref(newId, "newId"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL CheckZuSmsMms(SmsDatabase* h, const SmsHead* head, const SmsMms* mms,
                                           const SmsMmsAttribute* attrs, uint32_t attrCount,
                                           const SmsMmsPart* parts, uint32_t partCount,
                                           const SmsMmsAddress* addrs, uint32_t addrCount) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.CheckSmsMms(zusms::Ref(head, "head"), zusms::Ref(mms, "mms"), attrs, attrCount, parts,
                          partCount, addrs, addrCount);
  });
}

ZUSMS_API int32_t ZUSMS_CALL GetZuSmsMms(SmsDatabase* h, uint32_t id, SmsMms* mms,
                                         uint32_t* attrCount, uint32_t* partCount,
                                         uint32_t* addrCount) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.GetSmsMms(id, zusms::Ref(mms, "mms"), zusms::Ref(attrCount, "attrCount"),
                        zusms::Ref(partCount, "partCount"), zusms::Ref(addrCount, "addrCount"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL GetZuSmsMmsCount(SmsDatabase* h, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) { return db.GetSmsMmsCount(zusms::Ref(n, "n")); });
}

ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsMmsID(SmsDatabase* h, uint32_t* ids, uint32_t capacity,
                                              uint32_t* n) {
  return zusms::Call(
      h, [&](SmsDatabase& db) { return db.GetAllSmsMmsID(ids, capacity, zusms::Ref(n, "n")); });
}

ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsMmsAttribute(SmsDatabase* h, uint32_t id,
                                                     SmsMmsAttribute* recs, uint32_t capacity,
                                                     uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.GetAllSmsMmsAttribute(id, recs, capacity, zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsMmsPart(SmsDatabase* h, uint32_t id, SmsMmsPart* recs,
                                                uint32_t capacity, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.GetAllSmsMmsPart(id, recs, capacity, zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL GetAllZuSmsMmsAddress(SmsDatabase* h, uint32_t id, SmsMmsAddress* recs,
                                                   uint32_t capacity, uint32_t* n) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.GetAllSmsMmsAddress(id, recs, capacity, zusms::Ref(n, "n"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL GetZuSmsMmsPartText(SmsDatabase* h, uint32_t id, uint32_t part,
                                                 char16_t* buf, uint32_t capacity,
                                                 uint32_t* length) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.GetSmsMmsPartText(id, part, buf, capacity, zusms::Ref(length, "length"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL GetZuSmsMmsPartData(SmsDatabase* h, uint32_t id, uint32_t part,
                                                 uint64_t offset, uint8_t* buf, uint32_t size,
                                                 uint32_t* read) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.GetSmsMmsPartData(id, part, offset, buf, size, zusms::Ref(read, "read"));
  });
}

ZUSMS_API int32_t ZUSMS_CALL StreamZuSmsMmsPartData(SmsDatabase* h, uint32_t id, uint32_t part,
                                                    uint8_t* buf, uint32_t size, ZuSmsPartSink sink,
                                                    void* context, uint64_t* total) {
  return zusms::Call(h, [&](SmsDatabase& db) {
    return db.StreamSmsMmsPartData(id, part, buf, size, sink, context, zusms::Ref(total, "total"));
  });
}

}  // extern "C"
