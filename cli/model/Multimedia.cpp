#include "model/Multimedia.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <map>
#include <set>
#include <tuple>

#include "model/Messages.h"
#include "text/FileName.h"

namespace zusms::cli {

namespace {

bool TypeIs(std::string_view type, std::string_view wanted) {
  const std::string_view bare = type.substr(0, type.find(';'));
  return SameButForCase(std::string(bare), std::string(wanted));
}

std::string PartText(Store& store, uint32_t id, uint32_t part, uint32_t length) {
  std::u16string text(length + 1, u'\0');
  uint32_t full = 0;
  Check(GetZuSmsMmsPartText(*store, id, part, text.data(), length + 1, &full),
        "reading a part's text");
  return Utf8(text.c_str(), text.size());
}

std::vector<SmsMmsAddress> Addresses(Store& store, uint32_t id, uint32_t count) {
  std::vector<SmsMmsAddress> addresses(count);
  uint32_t n = 0;
  Check(GetAllZuSmsMmsAddress(*store, id, addresses.data(), count, &n),
        "reading a message's addresses");
  addresses.resize(n);
  return addresses;
}

// The value of further attribute `name` with the rows that go on with it
// ("+"), read from the message's `count` attributes; nothing when it has none.
std::optional<std::u16string> KeptValue(Store& store, uint32_t id, uint32_t count,
                                        std::u16string_view name) {
  std::vector<SmsMmsAttribute> attrs(count);
  uint32_t n = 0;
  Check(GetAllZuSmsMmsAttribute(*store, id, attrs.data(), count, &n), "reading its attributes");
  for (uint32_t i = 0; i < n; ++i) {
    if (std::u16string_view(attrs[i].name) != name) continue;
    std::u16string value(attrs[i].value);
    while (++i < n && std::u16string_view(attrs[i].name) == u"+") value += attrs[i].value;
    return value;
  }
  return std::nullopt;
}

// What some phones write in place of the user's own number.
bool Placeholder(const std::string& address) {
  return IsBlank(address) || SameButForCase(address, "insert-address-token");
}

}  // namespace

std::optional<Multimedia> ReadMultimedia(Store& store, uint32_t id) {
  SmsMms mms{};
  uint32_t attributes = 0, part_count = 0, address_count = 0;
  const int32_t status = GetZuSmsMms(*store, id, &mms, &attributes, &part_count, &address_count);
  if (status == 100) return std::nullopt;
  Check(status, "reading a multimedia message");
  Multimedia m;
  m.subject = Utf8(mms.subject);
  std::vector<SmsMmsPart> parts(part_count);
  uint32_t n = 0;
  Check(GetAllZuSmsMmsPart(*store, id, parts.data(), part_count, &n), "reading a message's parts");
  parts.resize(n);
  for (uint32_t i = 0; i < parts.size(); ++i) {
    const SmsMmsPart& p = parts[i];
    const std::string type = Utf8(p.ctype);
    if (TypeIs(type, "application/smil")) continue;  // the layout, not content
    if (TypeIs(type, "text/plain") && p.datalen == 0) {
      const std::string text = p.textlen == 0 ? "" : PartText(store, id, i, p.textlen);
      if (text.empty() || text == "null") continue;  // what phone backups write for none
      if (!m.text.empty()) m.text += "\n";
      m.text += text;
      continue;
    }
    Attachment a;
    a.part = i;
    a.type = type;
    a.bytes = p.datalen;
    // Phone backups write "null" for a name they do not have (typically the
    // file name, with the picture's name in name and content location).
    // A name too long for its column is kept whole among the further
    // attributes, under the name the backups give it.
    for (const auto& [column, size, kept] : {std::tuple(p.fname, std::size(p.fname), u"fn"),
                                             std::tuple(p.name, std::size(p.name), u"name"),
                                             std::tuple(p.cl, std::size(p.cl), u"cl")}) {
      const std::u16string_view held = FieldText(column, size);
      std::string name = Utf8(held.data(), held.size());
      if (held.size() + 2 >= size) {  // full, but for half a surrogate pair
        const auto whole =
            KeptValue(store, id, attributes, Utf16(fmt::format("part:{}:", i)) + kept);
        if (whole) name = Utf8(whole->c_str(), whole->size());
      }
      if (!IsBlank(name) && name != "null") {
        a.name = name;
        break;
      }
    }
    if (p.datalen == 0 && p.textlen > 0) {
      a.text = true;
      a.bytes = PartText(store, id, i, p.textlen).size();
    }
    m.attachments.push_back(std::move(a));
  }
  m.addresses = Addresses(store, id, address_count);
  return m;
}

namespace {

// The user's multimedia messages whose head is there (`headed`), or those
// whose head is gone, in id order.
std::vector<uint32_t> StoredMultimedia(Store& store, bool headed) {
  std::vector<uint32_t> ids =
      ReadAll<uint32_t>(store, GetZuSmsMmsCount, GetAllZuSmsMmsID, "multimedia messages");
  std::erase_if(ids, [&](uint32_t id) {
    SmsHead h{};
    Check(GetZuSmsHead(*store, id, &h), "reading a message");
    return (h.id != 0) != headed;
  });
  return ids;
}

}  // namespace

std::vector<uint32_t> MultimediaIds(Store& store) { return StoredMultimedia(store, true); }

std::vector<uint32_t> HeadlessMultimedia(Store& store) { return StoredMultimedia(store, false); }

uint64_t MultimediaBytes(Store& store, uint32_t id) {
  SmsMms mms{};
  uint32_t attributes = 0, part_count = 0, addresses = 0;
  if (GetZuSmsMms(*store, id, &mms, &attributes, &part_count, &addresses) != 0) return 0;
  std::vector<SmsMmsPart> parts(part_count);
  uint32_t n = 0;
  Check(GetAllZuSmsMmsPart(*store, id, parts.data(), part_count, &n), "reading a message's parts");
  uint64_t bytes = 0;
  for (uint32_t i = 0; i < n; ++i) bytes += parts[i].datalen;
  return bytes;
}

std::string ByteSize(uint64_t bytes) {
  if (bytes < 1000) return fmt::format("{} B", bytes);
  static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB"};
  double size = static_cast<double>(bytes) / 1000;
  size_t unit = 0;
  while (size >= 999.95 && unit + 1 < std::size(kUnits)) {
    size /= 1000;
    ++unit;
  }
  return size < 9.95 ? fmt::format("{:.1f} {}", size, kUnits[unit])
                     : fmt::format("{:.0f} {}", size, kUnits[unit]);
}

std::string AttachmentLine(const Attachment& a) {
  std::string line = "[" + (a.type.empty() ? std::string("?") : a.type);
  if (!a.name.empty()) line += " " + a.name;
  return line + " " + ByteSize(a.bytes) + "]";
}

std::string AttachmentFileName(const Attachment& a) {
  if (!IsBlank(a.name)) return a.name;
  static const std::map<std::string, std::string> kExtensions = {
      {"image/jpeg", ".jpg"}, {"image/jpg", ".jpg"},       {"image/png", ".png"},
      {"image/gif", ".gif"},  {"image/webp", ".webp"},     {"image/heic", ".heic"},
      {"image/bmp", ".bmp"},  {"video/mp4", ".mp4"},       {"video/3gpp", ".3gp"},
      {"audio/amr", ".amr"},  {"audio/mpeg", ".mp3"},      {"audio/mp4", ".m4a"},
      {"audio/ogg", ".ogg"},  {"text/x-vcard", ".vcf"},    {"text/vcard", ".vcf"},
      {"text/plain", ".txt"}, {"application/pdf", ".pdf"}, {"text/x-vcalendar", ".vcs"},
  };
  std::string type = a.type.substr(0, a.type.find(';'));
  std::transform(type.begin(), type.end(), type.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  const auto ext = kExtensions.find(type);
  return fmt::format("part-{}{}", a.part, ext == kExtensions.end() ? "" : ext->second);
}

std::string SavedFileName(const Attachment& a) {
  Attachment unnamed = a;
  unnamed.name.clear();
  return SafeFileName(AttachmentFileName(a), AttachmentFileName(unnamed));
}

uint64_t CopyAttachment(Store& store, uint32_t id, const Attachment& a,
                        const std::function<void(const uint8_t*, size_t)>& write) {
  if (a.text) {
    uint32_t length = 0;
    Check(GetZuSmsMmsPartText(*store, id, a.part, nullptr, 0, &length), "reading a part's text");
    const std::string text = PartText(store, id, a.part, length);
    write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return text.size();
  }
  return StreamPartData(store, id, a.part, write);
}

std::vector<std::string> Members(const std::vector<SmsMmsAddress>& addresses, bool sent,
                                 const std::vector<std::string>& own, const PhoneNumbers& numbers) {
  std::set<std::string> keys;
  for (const SmsMmsAddress& a : addresses) {
    if (sent && a.type == ZU_MMS_FROM) continue;
    const std::string address = Utf8(a.address);
    if (Placeholder(address)) continue;
    std::string key = numbers.Key(address);
    if (std::find(own.begin(), own.end(), key) == own.end()) keys.insert(std::move(key));
  }
  return {keys.begin(), keys.end()};
}

std::vector<GroupMessage> GroupMessages(Store& store, const PhoneNumbers& numbers) {
  struct Seen {
    uint32_t id;
    std::string tel;
    bool sent;
    std::vector<SmsMmsAddress> addresses;
  };
  std::vector<Seen> all;
  std::set<std::string> own;
  for (const uint32_t id : MultimediaIds(store)) {
    SmsHead h{};
    SmsMms mms{};
    uint32_t attributes = 0, parts = 0, count = 0;
    if (GetZuSmsHead(*store, id, &h) != 0 || h.id == 0 ||
        GetZuSmsMms(*store, id, &mms, &attributes, &parts, &count) != 0) {
      continue;  // deleted meanwhile
    }
    Seen seen{id, Utf8(h.tel), IsSent(h), Addresses(store, id, count)};
    size_t recipients = 0;
    std::string recipient;
    for (const SmsMmsAddress& a : seen.addresses) {
      const std::string address = Utf8(a.address);
      if (Placeholder(address)) continue;
      if (seen.sent && a.type == ZU_MMS_FROM) own.insert(numbers.Key(address));
      if (a.type != ZU_MMS_FROM) {
        ++recipients;
        recipient = address;
      }
    }
    if (!seen.sent && recipients == 1) own.insert(numbers.Key(recipient));
    all.push_back(std::move(seen));
  }
  const std::vector<std::string> own_keys(own.begin(), own.end());
  std::vector<GroupMessage> groups;
  for (const Seen& m : all) {
    std::vector<std::string> members = Members(m.addresses, m.sent, own_keys, numbers);
    if (members.size() > 1) groups.push_back({m.id, m.tel, std::move(members)});
  }
  return groups;
}

std::string GroupKey(const std::vector<std::string>& members) {
  std::string key;
  for (const std::string& m : members) key += (key.empty() ? "" : ", ") + m;
  return key;
}

}  // namespace zusms::cli
