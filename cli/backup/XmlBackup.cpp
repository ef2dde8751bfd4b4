// Messages in the XML of SMS backup apps: the import in two passes over the
// file (check every record, then add), the export as a stream.
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>

#include "backup/Interchange.h"
#include "backup/XmlReader.h"
#include "model/Messages.h"
#include "text/Interrupt.h"
#include "text/Print.h"

namespace zusms::cli {

namespace {

constexpr int64_t kFirstMillis = 631152000000;    // 1990-01-01
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
// batid still to be given); a Failure names what is wrong. Only checked,
// without the heads, when not `whole`.
Converted Convert(const XmlSms& sms, bool whole = true) {
  if (sms.Get(kBadName)) {
    throw Failure("an attribute name: bytes that are not UTF-8 (text in Latin-1?)");
  }
  const auto address = sms.Get("address");
  if (!address) throw Failure("address: missing");
  const auto date_text = sms.Get("date");
  if (!date_text) throw Failure("date: missing");
  const auto date = Number(*date_text);
  if (!date) throw Failure(fmt::format("date: \"{}\" is not a number", *date_text));
  if (*date < kFirstMillis || *date > kLastMillis) {
    throw Failure(
        fmt::format("date: {} is not a time in milliseconds between 1990 and 9999 (seconds or "
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
      throw Failure(fmt::format("type: \"{}\" is not 1 to 6", *type_text));
    type = static_cast<int>(*t);
  }
  std::u16string name = Decode(sms.Get("contact_name").value_or(""), "contact_name");
  if (name == u"null" || name == u"(Unknown)") name.clear();
  const std::u16string tel = Decode(*address, "address");
  const std::u16string body = Decode(sms.Get("body").value_or(""), "body");

  SmsHead h;
  std::memset(&h, 0, sizeof h);
  if (tel.size() + 1 > std::size(h.tel)) {
    throw Failure(fmt::format("address: longer than {} characters", std::size(h.tel) - 1));
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
  SetText(h.recvtime, TimeText(*date / 1000));
  if (sent != 0) SetText(h.createtime, TimeText(sent / 1000));
  h.type = static_cast<int16_t>(type);
  h.fid = FolderOfType(type);
  h.lockflag = sms.Get("locked").value_or("0") == "1" ? 1 : 0;
  if (!whole) {
    PartCount(body);
    return out;
  }
  const std::u16string_view time(h.recvtime);
  // The UUID comes from what the store keeps, not from what XML writes.
  const std::string uuid = Identity(tel, time, body);
  out.message.parts = SplitMessage(h, body, reinterpret_cast<const uint8_t*>(uuid.data()), 1);
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

}  // namespace

std::string Refusal(const ImportReport& r) {
  std::string message =
      fmt::format("nothing imported: {} of the file's records cannot be stored:", r.invalid);
  for (const std::string& p : r.problems) message += "\n  " + p;
  if (r.invalid > r.problems.size()) {
    message += fmt::format("\n  ... and {} more", r.invalid - r.problems.size());
  }
  return message +
         "\n(zusms import --skip-invalid FILE stores every valid record and reports the others)";
}

std::vector<SmsHead> SmsHeads(const XmlSms& sms) { return Convert(sms).message.parts; }

InputFile::InputFile(const std::string& path) : path_(path) {
  std::ifstream named;
  if (path != "-") {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) throw Failure(path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw Failure(path + ": is a directory, not a backup file");
    named.open(path, std::ios::binary);
    if (!named) throw Failure(path + ": " + std::strerror(errno));
    if (S_ISREG(st.st_mode)) named.close();
  }
  // Standard input, a pipe or a device can be read once only: it is kept
  // in a private temporary file, read twice.
  if (path == "-" || named.is_open()) {
    char name[] = "/tmp/zusms-import-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) throw Failure(std::string("a temporary file: ") + std::strerror(errno));
    close(fd);
    spooled_ = name;
    std::ofstream out(spooled_, std::ios::binary);
    std::istream& source = path == "-" ? std::cin : named;
    if (source.peek() != std::char_traits<char>::eof()) out << source.rdbuf();
    if (!out) {
      unlink(name);
      throw Failure("keeping " + (path == "-" ? std::string("standard input") : path) +
                    " in a temporary file failed");
    }
  }
  std::ifstream in(spooled_.empty() ? path_ : spooled_, std::ios::binary | std::ios::ate);
  size_ = static_cast<size_t>(std::max<std::streamoff>(0, in.tellg()));
}

InputFile::~InputFile() {
  if (!spooled_.empty()) unlink(spooled_.c_str());
}

std::unique_ptr<std::istream> InputFile::Open() const {
  auto in = std::make_unique<std::ifstream>(spooled_.empty() ? path_ : spooled_, std::ios::binary);
  if (!*in) throw Failure(path_ + ": " + std::strerror(errno));
  return in;
}

bool InputFile::LooksLikeXml() const {
  if (path_.size() > 4 && path_.substr(path_.size() - 4) == ".xml") return true;
  auto in = Open();
  char head[64] = {};
  in->read(head, sizeof head);
  const std::string_view start(head, static_cast<size_t>(in->gcount()));
  const auto first = start.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  return first != std::string_view::npos && start[first] == '<';
}

ImportReport ImportXml(Store& store, const InputFile& file, const ImportOptions& o) {
  InterruptGuard guard;
  ImportReport report;
  Progress progress("importing", 2 * file.size(), o.progress);
  auto note = [&](size_t line, const std::string& why) {
    ++report.invalid;
    if (report.problems.size() < kProblemsShown) {
      report.problems.push_back(fmt::format("sms at line {}: {}", line, why));
    }
  };
  // Pass 1: every record is checked, nothing is stored.
  XmlReadResult read = ReadXmlBackup(
      *file.Open(),
      [&](const XmlSms& sms) {
        if (InterruptRequested()) throw Interrupted{0};
        try {
          Convert(sms, false);
        } catch (const Failure& e) {
          note(sms.line, e.what());
        }
      },
      [&](size_t bytes) { progress.Set(bytes); });
  // A file without its root element, or cut before its first record, holds
  // nothing to import, whatever is skipped.
  if (!read.root || (!read.error.empty() && read.sms == 0)) {
    throw Failure(file.path() + ": nothing imported: " +
                  (read.error.empty() ? "the file has no <smses> element" : read.error));
  }
  if (!read.error.empty()) {
    if (!o.skip_invalid) {
      ++report.invalid;
      report.problems.insert(report.problems.begin(), read.error);
    }
    report.cut = read.error;
  }
  if (report.invalid > 0 && !o.skip_invalid) throw Failure(Refusal(report));
  if (read.sms > 0 && report.invalid >= read.sms) {
    throw Failure(file.path() + ": nothing imported: no record of the file can be stored:\n  " +
                  report.problems.front());
  }
  report.mms = read.mms;
  report.others = read.others;

  // Pass 2: the valid records go in, a batch at a time.
  Batches batches(store);
  StoredMessages known(false);
  known.Refresh(store);
  size_t committed = 0;
  try {
    ReadXmlBackup(
        *file.Open(),
        [&](const XmlSms& sms) {
          if (InterruptRequested()) throw Interrupted{committed};
          Converted m;
          try {
            m = Convert(sms, true);
          } catch (const Failure&) {
            return;  // reported by the first pass
          }
          std::vector<SmsHead> parts = known.Missing(m.message);
          if (parts.empty()) {
            ++report.skipped;
            return;
          }
          for (SmsHead& part : parts) {
            uint32_t id = 0;
            const int32_t status = AddZuSmsHead(*store, &part, &id);
            if (status != 0) Check(status, fmt::format("adding the sms at line {}", sms.line));
            known.Added(id);
          }
          ++report.added;
          if (m.name_cut) ++report.names_cut;
          if (batches.Rows(parts.size())) {
            committed = report.added;
            known.Refresh(store);
          }
        },
        [&](size_t bytes) { progress.Set(file.size() + bytes); });
  } catch (const Interrupted&) {
    throw Interrupted{committed};
  }
  batches.Finish();
  return report;
}

size_t ExportXml(Store& store, std::ostream& out, bool progress_shown) {
  size_t count = 0;
  {
    MessageAssembler counter([&](Message&&) { ++count; });
    store.ForEachHead([&](const SmsHead& h) { counter.Add(h); });
    counter.Finish();
  }
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
        "\" toa=\"null\" sc_toa=\"null\" service_center=\"null\" read=\"1\" status=\"-1\" "
        "locked=\"{}\" date_sent=\"{}\" readable_date=\"{}\" contact_name=\"",
        h.lockflag ? 1 : 0, sent, readable);
    if (name.empty()) {
      line += "(Unknown)";
    } else {
      AppendEscaped(line, name, replaced);
    }
    line += "\" />\n";
    out << line;
    progress.Step();
  });
  store.ForEachHead([&](const SmsHead& h) { writer.Add(h); });
  writer.Finish();
  out << "</smses>\n";
  return replaced;
}

}  // namespace zusms::cli
