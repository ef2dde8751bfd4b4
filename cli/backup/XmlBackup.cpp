// Messages in the XML of SMS backup apps: the import in two passes over the
// file (check every record, then add), the export as a stream.
#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "backup/Interchange.h"
#include "backup/StoredMessages.h"
#include "backup/XmlReader.h"
#include "model/Messages.h"
#include "model/ReadState.h"
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
  const auto date_text = sms.Get("date");
  if (!date_text) throw Failure("date: missing");
  const auto date = Number(*date_text);
  if (!date) throw Failure(fmt::format("date: \"{}\" is not a number", OneLine(*date_text)));
  // 0 is what a message without a time is written as (our own export
  // writes it so for a time the store holds that is no time).
  if (*date != 0 && (*date < kFirstMillis || *date > kLastMillis)) {
    throw Failure(fmt::format(
        "date: {} is not a time in milliseconds between February 1970 and 9999 (seconds or "
        "microseconds?)",
        *date));
  }
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
  if (*date != 0) SetText(h.recvtime, TimeText(*date / 1000));
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
        [&](size_t bytes) { import.Bytes(bytes); });
    import.report().mms = read.mms;
    import.report().others = read.others;
    // A file without its root element, or cut before its first record,
    // holds nothing to import, whatever is skipped.
    if (!read.root) return {read.error, read.error.empty() ? kNoRoot : read.error};
    return {read.error, read.sms == 0 ? read.error : ""};
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
        [&](size_t bytes) { import.Bytes(bytes); });
  }

 private:
  static constexpr const char* kNoRoot = "the file has no <smses> element";
  const InputFile& file_;
};

}  // namespace

std::vector<SmsHead> SmsHeads(const XmlSms& sms) { return Convert(sms).message.parts; }

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
  size_t replaced = 0;
  std::string line;
  MessageAssembler writer([&](Message&& m) {
    const SmsHead& h = m.head();
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
  return report;
}

}  // namespace zusms::cli
