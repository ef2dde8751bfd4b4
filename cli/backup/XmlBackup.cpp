// Messages in the XML of SMS backup apps: the import in two passes over the
// file (check every record, then add), the export as a stream.
#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "backup/Interchange.h"
#include "backup/MmsRecord.h"
#include "backup/StoredMessages.h"
#include "backup/XmlReader.h"
#include "model/Messages.h"
#include "model/ReadState.h"
#include "text/Base64.h"
#include "text/Print.h"

namespace zusms::cli {

namespace {

// Early enough for every real phone message; a time in seconds read as
// milliseconds (before about 2052) still falls before it.
constexpr int64_t kFirstMillis = 2678400000;      // 1970-02-01
constexpr int64_t kLastMillis = 253402300799999;  // 9999-12-31 23:59:59.999

// XML message types and the default folders they live in.
int32_t FolderOfType(int type) {
  switch (type) {
    case 2:
      return 7;  // sent
    case 3:
      return 8;  // drafts
    case 4:
    case 5:
    case 6:
      return 6;  // outbox: outgoing, failed, queued
    default:
      return 1;  // inbox
  }
}
int TypeOfHead(const SmsHead& h) {
  if (h.type >= 1 && h.type <= 6) return h.type;
  switch (h.fid) {
    case 7:
      return 2;
    case 8:
      return 3;
    case 6:
      return 4;
    default:
      return 1;
  }
}

// An attribute's text as the file meant it: the filter's markers become the
// characters they stand for, or make the record invalid.
std::u16string Decode(std::string_view value, const char* what) {
  std::u16string text = Utf16(value);
  if (value.find('\xF4') == std::string_view::npos) return text;
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDF00) {
      const char32_t c = 0x10000 + ((text[i] - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      if (c == kLiteral && i + 3 < text.size()) {  // the file's own character follows
        out += text.substr(i + 2, 2);
        i += 3;
        continue;
      }
      if (c == kBadCharacter) {
        throw Failure(std::string(what) + ": a lone surrogate or a reference to no character");
      }
      if (c == kBadByte) {
        throw Failure(std::string(what) +
                      ": bytes that are not UTF-8 (text in Latin-1, or surrogates in CESU-8?)");
      }
      if (c >= kControlBase && c <= kControlBase + 0x21) {
        const char32_t control = c - kControlBase;
        if (control == 0) throw Failure(std::string(what) + ": a NUL character");
        if (control >= 0x20) {  // SQLite would give it back as U+FFFD
          throw Failure(std::string(what) + ": the noncharacter U+FFFE or U+FFFF");
        }
        out += char16_t(control);
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::optional<int64_t> Number(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// A message's time in milliseconds, 0 for none; a Failure when it is
// missing or no time.
int64_t Date(std::optional<std::string_view> text) {
  if (!text) throw Failure("date: missing");
  const auto date = Number(*text);
  if (!date) throw Failure(fmt::format("date: \"{}\" is not a number", OneLine(*text)));
  // 0 is what a message without a time is written as (our own export
  // writes it so for a time the store holds that is no time).
  if (*date != 0 && (*date < kFirstMillis || *date > kLastMillis)) {
    throw Failure(fmt::format(
        "date: {} is not a time in milliseconds between February 1970 and 9999 (seconds or "
        "microseconds?)",
        *date));
  }
  return *date;
}

struct Converted {
  Message message;
  bool name_cut = false;
};

// One <sms> as the heads that store it (a long message's parts with a
// batid still to be given); a Failure names what is wrong. Without their
// UUIDs unless `whole`: the first pass needs the text only.
Converted Convert(const XmlSms& sms, bool whole = true) {
  if (sms.Get(kBadName)) {
    throw Failure("an attribute name: bytes that are not UTF-8 (text in Latin-1?)");
  }
  const auto address = sms.Get("address");
  if (!address) throw Failure("address: missing");
  const auto date = Date(sms.Get("date"));
  int64_t sent = 0;  // 0, missing or out of range: unknown
  if (const auto sent_text = sms.Get("date_sent")) sent = Number(*sent_text).value_or(0);
  if (sent < kFirstMillis || sent > kLastMillis) sent = 0;
  int type = 1;
  if (const auto type_text = sms.Get("type")) {
    const auto t = Number(*type_text);
    if (!t || *t < 1 || *t > 6)
      throw Failure(fmt::format("type: \"{}\" is not 1 to 6", OneLine(*type_text)));
    type = static_cast<int>(*t);
  }
  std::u16string name = Decode(sms.Get("contact_name").value_or(""), "contact_name");
  if (name == u"null" || name == u"(Unknown)") name.clear();
  const std::u16string tel = Decode(*address, "address");
  const std::u16string body = Decode(sms.Get("body").value_or(""), "body");

  SmsHead h;
  std::memset(&h, 0, sizeof h);
  if (tel.size() + 1 > std::size(h.tel)) {
    throw Failure("address: longer than " + Counted(std::size(h.tel) - 1, "character"));
  }
  Converted out;
  if (name.size() + 1 > std::size(h.name)) {
    size_t keep = std::size(h.name) - 1;
    if (name[keep - 1] >= 0xD800 && name[keep - 1] <= 0xDBFF) --keep;
    name.resize(keep);
    out.name_cut = true;
  }
  std::copy(tel.begin(), tel.end(), h.tel);
  std::copy(name.begin(), name.end(), h.name);
  if (date != 0) SetText(h.recvtime, TimeText(date / 1000));
  if (sent != 0) SetText(h.createtime, TimeText(sent / 1000));
  h.type = static_cast<int16_t>(type);
  h.fid = FolderOfType(type);
  h.lockflag = sms.Get("locked").value_or("0") == "1" ? 1 : 0;
  const std::u16string_view time(h.recvtime);
  // The UUID comes from what the store keeps, not from what XML writes.
  uint8_t uuid[16];
  if (whole) DerivedUuid(MessageKey(tel, time, body), uuid);
  out.message.parts = SplitMessage(h, body, whole ? uuid : nullptr, 1);
  out.message.unread = sms.Get("read").value_or("1") == "0";
  return out;
}

// Copies `text` into a field; a Failure names `what` when it does not fit.
template <size_t N>
void Put(char16_t (&field)[N], std::u16string_view text, const std::string& what) {
  if (text.size() + 1 > N) throw Failure(what + ": longer than " + Counted(N - 1, "character"));
  std::copy(text.begin(), text.end(), field);
}

std::optional<int64_t> SignedNumber(std::string_view text) {
  if (text.starts_with('-')) {
    const auto v = Number(text.substr(1));
    return v ? std::optional<int64_t>(-*v) : std::nullopt;
  }
  return Number(text);
}

// The field of a part's attribute that has a column of its own, with its
// capacity; nothing for the others.
template <typename Part>
auto ColumnOf(Part& p, std::string_view name)
    -> std::optional<std::pair<decltype(&p.ctype[0]), size_t>> {
  const auto f = [](auto& field) { return std::make_pair(&field[0], std::size(field)); };
  if (name == "ct") return f(p.ctype);
  if (name == "name") return f(p.name);
  if (name == "fn") return f(p.fname);
  if (name == "chset") return f(p.charset);
  if (name == "cid") return f(p.cid);
  if (name == "cl") return f(p.cl);
  return std::nullopt;
}

// The names of an element's attributes, in order, as one text.
std::u16string Layout(const XmlElement& e) {
  std::u16string names;
  for (const auto& [name, value] : e.attributes) {
    if (!names.empty()) names += u' ';
    names += Utf16(name);
  }
  return names;
}

// Keeps an attribute that has no column under `prefix` + its name.
void Extra(MmsRecord& m, const std::u16string& prefix, const std::string& name,
           std::string_view value) {
  AddAttribute(m.attrs, prefix + Utf16(name), Decode(value, name.c_str()));
}

// Sets a part's or an address's column; a value too long for it is kept
// whole under `prefix` + its name too, the column holding its start.
// Returns the value.
std::u16string Column(MmsRecord& m, char16_t* field, size_t capacity, const std::u16string& prefix,
                      const std::string& name, std::string_view value) {
  std::u16string v = Decode(value, name.c_str());
  const std::u16string_view start = Cut(v, capacity - 1);
  std::copy(start.begin(), start.end(), field);
  if (start.size() < v.size()) AddAttribute(m.attrs, prefix + Utf16(name), v);
  return v;
}

// One <mms> as the records that store it, with its identity; a Failure
// names what is wrong with it.
std::pair<MmsRecord, std::string> ConvertMms(XmlMms& x) {
  const XmlElement& e = x.element;
  const auto bad = [](const XmlElement& el) { return el.Get(kBadName).has_value(); };
  if (bad(e) || std::any_of(x.parts.begin(), x.parts.end(), bad) ||
      std::any_of(x.addrs.begin(), x.addrs.end(), bad)) {
    throw Failure("an attribute name: bytes that are not UTF-8 (text in Latin-1?)");
  }
  MmsRecord m;
  const int64_t date = Date(e.Get("date"));
  int box = 1;
  if (const auto box_text = e.Get("msg_box")) {
    const auto b = Number(*box_text);
    if (!b || *b < 1 || *b > 6) {
      throw Failure(fmt::format("msg_box: \"{}\" is not 1 to 6", OneLine(*box_text)));
    }
    box = static_cast<int>(*b);
  }
  for (const auto& [name, value] : e.attributes) {
    const std::u16string name16 = Utf16(name);
    if (IsLayoutName(name16)) throw Failure("an attribute named " + name);
    AddAttribute(m.attrs, name16, Decode(value, name.c_str()));
  }
  std::u16string subject = Decode(e.Get("sub").value_or(""), "sub");
  if (subject == u"null") subject.clear();
  Put(m.mms.subject, Cut(subject, std::size(m.mms.subject) - 1), "sub");
  Put(m.mms.ctype, Cut(Decode(e.Get("ct_t").value_or(""), "ct_t"), std::size(m.mms.ctype) - 1),
      "ct_t");
  // A type that is no number in 32 bits is kept as the attribute alone.
  const auto mtype = SignedNumber(e.Get("m_type").value_or(""));
  if (mtype && *mtype >= INT32_MIN && *mtype <= INT32_MAX)
    m.mms.mtype = static_cast<int32_t>(*mtype);

  if (x.addrs.empty()) throw Failure("no address: the message has no <addr> element");
  std::vector<std::u16string> addresses;  // each <addr>'s whole
  for (size_t i = 0; i < x.addrs.size(); ++i) {
    const XmlElement& a = x.addrs[i];
    const std::string what = fmt::format("addr {}: ", i + 1);
    SmsMmsAddress addr{};
    const std::u16string prefix = Utf16(fmt::format("addr:{}", i));
    AddAttribute(m.attrs, prefix, Layout(a));
    for (const auto& [name, value] : a.attributes) {
      if (name == "address") {
        addresses.push_back(
            Column(m, addr.address, std::size(addr.address), prefix + u":", name, value));
      } else if (name == "type") {
        const auto t = Number(value);
        if (!t || (*t != ZU_MMS_FROM && *t != ZU_MMS_TO && *t != ZU_MMS_CC && *t != ZU_MMS_BCC)) {
          throw Failure(
              fmt::format("{}type \"{}\" is not 137 (from), 151 (to), 130 (cc) or 129 (bcc)", what,
                          OneLine(value)));
        }
        addr.type = static_cast<int16_t>(*t);
      } else if (name == "charset") {
        Column(m, addr.charset, std::size(addr.charset), prefix + u":", name, value);
      } else {
        Extra(m, prefix + u":", name, value);
      }
    }
    if (!a.Get("type")) throw Failure(what + "type: missing");
    if (addresses.size() == i) addresses.emplace_back();
    m.addrs.push_back(addr);
  }

  std::u16string text;  // of the text parts, for the head
  for (size_t i = 0; i < x.parts.size(); ++i) {
    XmlPart& p = x.parts[i];
    const std::string what = fmt::format("part {}: ", i + 1);
    MmsPart part;
    const std::u16string prefix = Utf16(fmt::format("part:{}", i));
    AddAttribute(m.attrs, prefix, Layout(p));
    for (const auto& [name, value] : p.attributes) {
      if (name == "data") continue;
      if (name == "seq") {
        const auto seq = SignedNumber(value);
        if (!seq || *seq < INT32_MIN || *seq > INT32_MAX) {
          throw Failure(fmt::format("{}seq: \"{}\" is not a number", what, OneLine(value)));
        }
        part.desc.seq = static_cast<int32_t>(*seq);
      } else if (name == "text") {
        part.text = Decode(value, "text");
        part.has_text = true;
        if (part.text.size() > ZU_MMS_TEXT_MAX) {
          throw Failure(what + "text: longer than " + Counted(ZU_MMS_TEXT_MAX, "character"));
        }
      } else if (const auto column = ColumnOf(part.desc, name)) {
        Column(m, column->first, column->second, prefix + u":", name, value);
      } else {
        Extra(m, prefix + u":", name, value);
      }
    }
    if (p.has_data) {
      if (!p.data_problem.empty()) throw Failure(what + "data: " + p.data_problem);
      if (p.data_size > ZU_MMS_PART_MAX) {
        throw Failure(fmt::format("{}data: {} bytes, more than the {} a part may hold", what,
                                  p.data_size, ZU_MMS_PART_MAX));
      }
      part.data = std::move(p.data);
    }
    part.desc.datalen = static_cast<uint32_t>(part.data.size);
    // Phone backups write "null" for no text.
    if (std::u16string_view(part.desc.ctype).starts_with(u"text/plain") && part.has_text &&
        part.text != u"null") {
      if (!text.empty()) text += u'\n';
      text += part.text;
    }
    m.parts.push_back(std::move(part));
  }

  SmsHead& h = m.head;
  // The other party: the element's address, else the recipients of a
  // message the user sent and the sender of one received. A group whose
  // members do not fit the head's number is filed under its first member;
  // a number cut would send replies elsewhere, as for a text message.
  std::u16string tel = Decode(e.Get("address").value_or(""), "address");
  std::string where = "address";
  const bool derived = tel.empty();
  for (size_t i = 0; derived && i < m.addrs.size(); ++i) {
    if ((m.addrs[i].type == ZU_MMS_FROM) != (box == 1) || addresses[i].empty()) continue;
    if (tel.empty()) {
      where = fmt::format("addr {}: address", i + 1);
    } else {
      tel += u'~';
    }
    tel += addresses[i];
  }
  if (tel.size() + 1 > std::size(h.tel)) tel = tel.substr(0, tel.find(u'~'));
  Put(h.tel, tel, where);
  std::u16string name = Decode(e.Get("contact_name").value_or(""), "contact_name");
  if (name == u"null" || name == u"(Unknown)") name.clear();
  name = Cut(name, std::size(h.name) - 1);
  std::copy(name.begin(), name.end(), h.name);
  const std::u16string_view content = Cut(text, std::size(h.content) - 1);
  std::copy(content.begin(), content.end(), h.content);
  if (date != 0) SetText(h.recvtime, TimeText(date / 1000));
  // Phones write the time sent in seconds.
  int64_t sent = Number(e.Get("date_sent").value_or("")).value_or(0);
  if (sent * 1000 >= kFirstMillis && sent * 1000 <= kLastMillis) sent *= 1000;
  if (sent >= kFirstMillis && sent <= kLastMillis) SetText(h.createtime, TimeText(sent / 1000));
  h.type = static_cast<int16_t>(box);
  h.fid = FolderOfType(box);
  h.lockflag = e.Get("locked").value_or("0") == "1" ? 1 : 0;
  m.unread = e.Get("read").value_or("1") == "0";
  std::string identity = MmsIdentity(m);
  DerivedUuid("mms" + identity, h.uuid);
  return {std::move(m), std::move(identity)};
}

// Escapes a text for an attribute value; what XML 1.0 cannot carry becomes
// U+FFFD and is counted in `replaced`.
void AppendEscaped(std::string& out, std::u16string_view text, size_t& replaced) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (!XmlCarries(text, i)) {
      c = 0xFFFD;
      ++replaced;
    } else if (c >= 0xD800 && c <= 0xDBFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        if (c < 0x80) {
          out += static_cast<char>(c);
        } else {
          std::u16string one;
          if (c >= 0x10000) {
            one += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            one += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
          } else {
            one += static_cast<char16_t>(c);
          }
          out += Utf8(one.c_str(), one.size());
        }
    }
  }
}

int64_t MillisOf(const char16_t* time_text, size_t capacity) {
  const int64_t seconds = ParseTimeText(Utf8(time_text, capacity));
  return seconds < 0 ? 0 : seconds * 1000;
}

std::u16string NumberText(int64_t v) { return Utf16(std::to_string(v)); }

// Whether `name` may stand as an attribute's name: XML's name characters
// (`:` left out: a prefix would need its namespace declared).
bool IsXmlName(std::u16string_view name) {
  const auto in = [](char32_t c, std::initializer_list<std::pair<char32_t, char32_t>> ranges) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [c](const auto& r) { return c >= r.first && c <= r.second; });
  };
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char32_t c = name[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
        name[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[++i] - 0xDC00);
    }
    const bool start = in(c, {{'A', 'Z'},
                              {'_', '_'},
                              {'a', 'z'},
                              {0xC0, 0xD6},
                              {0xD8, 0xF6},
                              {0xF8, 0x2FF},
                              {0x370, 0x37D},
                              {0x37F, 0x1FFF},
                              {0x200C, 0x200D},
                              {0x2070, 0x218F},
                              {0x2C00, 0x2FEF},
                              {0x3001, 0xD7FF},
                              {0xF900, 0xFDCF},
                              {0xFDF0, 0xFFFD},
                              {0x10000, 0xEFFFF}});
    const bool more =
        in(c, {{'-', '.'}, {'0', '9'}, {0xB7, 0xB7}, {0x300, 0x36F}, {0x203F, 0x2040}});
    if (!start && (i == 0 || !more)) return false;
  }
  return true;
}

// Writes a stored multimedia message as an <mms> element, its parts' data
// read and encoded a piece at a time. The element's attributes are written
// back as the file gave them, but for what the store may have changed
// since: the time (to the second), the box (from the folder), read and locked.
void WriteMms(Store& store, std::ostream& out, const MmsRecord& m, bool unread, size_t& replaced,
              size_t& left_out) {
  const SmsHead& h = m.head;
  std::string line = "  <mms";
  // Each name once, and only names XML allows: another program may have
  // stored any text as an attribute's name (counted in `left_out`).
  std::set<std::u16string, std::less<>> written;
  const auto put = [&](std::u16string_view name, std::u16string_view value) {
    if (!IsXmlName(name)) {
      ++left_out;
      return false;
    }
    if (!written.emplace(name).second) return false;
    line += ' ';
    AppendEscaped(line, name, replaced);
    line += "=\"";
    AppendEscaped(line, value, replaced);
    line += '"';
    return true;
  };
  const int64_t date = MillisOf(h.recvtime, std::size(h.recvtime));
  const auto flag = [](std::u16string_view v, bool on, std::u16string_view yes) {
    return (v == yes) == on ? std::u16string(v)
                            : std::u16string(on            ? yes
                                             : yes == u"1" ? u"0"
                                                           : u"1");
  };
  const auto attrs = JoinedAttributes(m);
  std::map<std::u16string_view, std::u16string_view> layout;
  for (const auto& [name, kept] : attrs) {
    if (IsLayoutName(name)) {
      layout.emplace(name, kept);
      continue;
    }
    std::u16string value = kept;
    if (name == u"date") {
      const auto given = Number(Utf8(value.c_str(), value.size()));
      if (!given || *given / 1000 != date / 1000) value = NumberText(date);
    } else if (name == u"msg_box") {
      const auto given = Number(Utf8(value.c_str(), value.size()));
      if (!given || FolderOfType(static_cast<int>(*given)) != h.fid)
        value = NumberText(TypeOfHead(h));
    } else if (name == u"read") {
      value = flag(value, !unread, u"1");
    } else if (name == u"locked") {
      value = flag(value, h.lockflag != 0, u"1");
    }
    if (!put(name, value) && IsXmlName(name)) ++left_out;  // a name given twice
  }
  // An attribute kept without a column, or too long for its column (else `column`).
  const auto extra = [&](const std::string& prefix, size_t i, std::u16string_view name,
                         std::u16string_view column = u"null") {
    const auto kept = layout.find(Utf16(fmt::format("{}:{}:", prefix, i)) + std::u16string(name));
    return kept == layout.end() ? column : kept->second;
  };
  // Whether the head's number is what its addresses give (a group's a~b~c).
  const auto from_addresses = [&](std::u16string_view tel) {
    for (size_t from = 0; from <= tel.size();) {
      const size_t end = std::min(tel.find(u'~', from), tel.size());
      bool found = false;
      for (size_t i = 0; i < m.addrs.size() && !found; ++i)
        found = extra("addr", i, u"address",
                      FieldText(m.addrs[i].address, std::size(m.addrs[i].address))) ==
                tel.substr(from, end - from);
      if (!found) return false;
      from = end + 1;
    }
    return true;
  };
  // Whatever attributes were kept, what the store knows of the message is
  // written where they leave it out; one stored without any (by another
  // program) gets the usual set.
  const bool bare = written.empty();
  const auto known = [&](std::u16string_view name, std::u16string_view value, bool says) {
    if (bare || says) put(name, value);
  };
  known(u"date", NumberText(date), true);
  known(u"msg_box", NumberText(TypeOfHead(h)), true);
  const std::u16string_view tel = FieldText(h.tel, std::size(h.tel));
  known(u"address", tel, !tel.empty() && !from_addresses(tel));
  known(u"m_type", NumberText(m.mms.mtype), m.mms.mtype != 0);
  const std::u16string_view subject = FieldText(m.mms.subject, std::size(m.mms.subject));
  known(u"sub", subject.empty() ? u"null" : subject, !subject.empty());
  const std::u16string_view ctype = FieldText(m.mms.ctype, std::size(m.mms.ctype));
  known(u"ct_t", ctype.empty() ? u"null" : ctype, !ctype.empty());
  known(u"read", unread ? u"0" : u"1", unread);
  known(u"locked", h.lockflag ? u"1" : u"0", h.lockflag != 0);
  const std::u16string_view contact = FieldText(h.name, std::size(h.name));
  known(u"contact_name", contact.empty() ? u"(Unknown)" : contact, !contact.empty());
  line += ">\n    <parts>\n";
  // The attributes of part or address `i`, by the names kept (else `names`).
  const auto each = [&](const std::string& prefix, size_t i, std::u16string_view names,
                        const std::function<void(std::u16string_view)>& one) {
    const auto kept = layout.find(Utf16(fmt::format("{}:{}", prefix, i)));
    if (kept != layout.end()) names = kept->second;
    for (size_t from = 0; from < names.size();) {
      const size_t end = std::min(names.find(u' ', from), names.size());
      if (end > from) one(names.substr(from, end - from));
      from = end + 1;
    }
  };
  // Then the attributes the names kept leave out: those the store has a
  // value for (`says`), and those kept without a column.
  const auto rest = [&](const std::string& prefix, size_t i,
                        std::initializer_list<std::pair<std::u16string_view, bool>> says,
                        const std::function<void(std::u16string_view)>& one) {
    for (const auto& [name, has] : says) {
      if (has && !written.contains(name)) one(name);
    }
    const std::u16string start = Utf16(fmt::format("{}:{}:", prefix, i));
    for (auto it = layout.lower_bound(start); it != layout.end() && it->first.starts_with(start);
         ++it) {
      if (!written.contains(it->first.substr(start.size()))) one(it->first.substr(start.size()));
    }
  };
  for (size_t i = 0; i < m.parts.size(); ++i) {
    const MmsPart& p = m.parts[i];
    written.clear();  // names are each element's own
    line += "      <part";
    const bool data = p.desc.datalen > 0;
    const auto one = [&](std::u16string_view name) {
      const std::string n = Utf8(name.data(), name.size());
      if (n == "seq") {
        put(name, NumberText(p.desc.seq));
      } else if (n == "text") {
        put(name, p.has_text || layout.contains(Utf16(fmt::format("part:{}", i)))
                      ? std::u16string_view(p.text)
                      : u"null");
      } else if (const auto column = ColumnOf(p.desc, n)) {
        put(name, extra("part", i, name, FieldText(column->first, column->second)));
      } else if (n == "data") {
        if (!written.emplace(name).second) return;
        line += " data=\"";
        out << line;
        line.clear();
        ReadPartData(store, static_cast<uint32_t>(h.id), static_cast<uint32_t>(i), p.desc.datalen,
                     [&](const uint8_t* bytes, size_t size) {
                       line.clear();
                       AppendBase64(line, bytes, size);
                       out << line;
                     });
        line = "\"";
      } else {
        put(name, extra("part", i, name));
      }
    };
    each("part", i,
         data ? u"seq ct name chset cd fn cid cl ctt_s ctt_t text data"
              : u"seq ct name chset cd fn cid cl ctt_s ctt_t text",
         one);
    const auto has = [](const auto& field) { return field[0] != 0; };
    rest("part", i,
         {{u"seq", p.desc.seq != 0},
          {u"ct", has(p.desc.ctype)},
          {u"name", has(p.desc.name)},
          {u"chset", has(p.desc.charset)},
          {u"fn", has(p.desc.fname)},
          {u"cid", has(p.desc.cid)},
          {u"cl", has(p.desc.cl)},
          {u"text", p.has_text},
          {u"data", data}},
         one);
    line += " />\n";
  }
  line += "    </parts>\n    <addrs>\n";
  for (size_t i = 0; i < m.addrs.size(); ++i) {
    const SmsMmsAddress& a = m.addrs[i];
    written.clear();
    line += "      <addr";
    const auto one = [&](std::u16string_view name) {
      if (name == u"address") {
        put(name, extra("addr", i, name, FieldText(a.address, std::size(a.address))));
      } else if (name == u"type") {
        put(name, NumberText(a.type));
      } else if (name == u"charset") {
        put(name, extra("addr", i, name, FieldText(a.charset, std::size(a.charset))));
      } else {
        put(name, extra("addr", i, name));
      }
    };
    each("addr", i, u"address type charset", one);
    rest("addr", i,
         {{u"address", a.address[0] != 0}, {u"type", true}, {u"charset", a.charset[0] != 0}}, one);
    line += " />\n";
  }
  line += "    </addrs>\n  </mms>\n";
  out << line;
}

// The messages of a backup file, one <sms> at a time.
class XmlFormat final : public BackupFormat {
 public:
  explicit XmlFormat(const InputFile& file) : file_(file) {}
  bool MessagesHaveUuids() const override { return false; }

  FirstPass CheckFile(Importer& import) override {
    const XmlReadResult read = ReadXmlBackup(
        *file_.Open(),
        [&](const XmlSms& sms) {
          import.Next();
          try {
            import.Seen(Convert(sms, false).message);
            import.Checked({});
          } catch (const Failure& e) {
            import.Checked(fmt::format("sms at line {}: {}", sms.line, e.what()));
          }
        },
        [&](XmlMms& mms) {
          import.Next();
          try {
            const auto [m, identity] = ConvertMms(mms);
            import.SeenMms(m, identity);
            import.Checked({});
          } catch (const Failure& e) {
            import.Checked(fmt::format("mms at line {}: {}", mms.line, e.what()));
          }
        },
        [&](size_t bytes) { import.Bytes(bytes); });
    import.report().others = read.others;
    // A file without its root element, or cut before its first record,
    // holds nothing to import, whatever is skipped.
    if (!read.root) return {read.error, read.error.empty() ? kNoRoot : read.error};
    return {read.error, read.sms + read.mms == 0 ? read.error : ""};
  }

  void AddFile(Importer& import) override {
    ReadXmlBackup(
        *file_.Open(),
        [&](const XmlSms& sms) {
          import.Next();
          Converted m;
          try {
            m = Convert(sms);
          } catch (const Failure&) {
            return;  // reported by the first pass
          }
          if (import.AddMessage(m.message, fmt::format("adding the sms at line {}", sms.line)) &&
              m.name_cut) {
            ++import.report().names_cut;
          }
        },
        [&](XmlMms& mms) {
          import.Next();
          std::pair<MmsRecord, std::string> m;
          try {
            m = ConvertMms(mms);
          } catch (const Failure&) {
            return;  // reported by the first pass
          }
          import.AddMms(m.first, m.second, fmt::format("adding the mms at line {}", mms.line));
        },
        [&](size_t bytes) { import.Bytes(bytes); });
  }

 private:
  static constexpr const char* kNoRoot = "the file has no <smses> element";
  const InputFile& file_;
};

}  // namespace

std::vector<SmsHead> SmsHeads(const XmlSms& sms) { return Convert(sms).message.parts; }

MmsRecord MmsRecordOf(XmlMms& mms) { return ConvertMms(mms).first; }

ImportReport ImportXml(Store& store, const InputFile& file, const ImportOptions& o) {
  XmlFormat format(file);
  return Import(store, file, o, format);
}

ExportReport ExportXml(Store& store, std::ostream& out, bool progress_shown, const HeadIds* only) {
  const auto each = [&](MessageAssembler& messages) {
    store.ForEachHead([&](const SmsHead& h) {
      if (!only || only->contains(h.id)) messages.Add(h);
    });
    messages.Finish();
  };
  size_t count = 0;
  {
    MessageAssembler counter([&](Message&&) { ++count; });
    each(counter);
  }
  const UnreadHeads unread(store);
  Progress progress("exporting", count, progress_shown);
  out << "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n"
      << "<smses count=\"" << count << "\">\n";
  size_t replaced = 0, left_out = 0;
  std::string line;
  MessageAssembler writer([&](Message&& m) {
    const SmsHead& h = m.head();
    if (m.parts.size() == 1) {
      if (const auto mms = ReadMms(store, h)) {
        WriteMms(store, out, *mms, unread.Unread(m), replaced, left_out);
        progress.Step();
        return;
      }
    }
    const int64_t date = MillisOf(h.recvtime, std::size(h.recvtime));
    const int64_t sent = MillisOf(h.createtime, std::size(h.createtime));
    const std::time_t seconds = static_cast<std::time_t>(date / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char readable[64];
    std::strftime(readable, sizeof readable, "%Y-%m-%d %H:%M:%S UTC", &utc);
    const std::u16string name(std::u16string_view(h.name));
    line = "  <sms protocol=\"0\" address=\"";
    AppendEscaped(line, std::u16string_view(h.tel), replaced);
    line += fmt::format("\" date=\"{}\" type=\"{}\" subject=\"null\" body=\"", date, TypeOfHead(h));
    AppendEscaped(line, m.Text(), replaced);
    line += fmt::format(
        "\" toa=\"null\" sc_toa=\"null\" service_center=\"null\" read=\"{}\" status=\"-1\" "
        "locked=\"{}\" date_sent=\"{}\" readable_date=\"{}\" contact_name=\"",
        unread.Unread(m) ? 0 : 1, h.lockflag ? 1 : 0, sent, readable);
    if (name.empty()) {
      line += "(Unknown)";
    } else {
      AppendEscaped(line, name, replaced);
    }
    line += "\" />\n";
    out << line;
    progress.Step();
  });
  each(writer);
  out << "</smses>\n";
  ExportReport report;
  report.messages = count;
  report.replaced = replaced;
  report.left_out = left_out;
  return report;
}

}  // namespace zusms::cli
