// One message as `show` and `changes` give it: JSON for scripts, a page for
// people, and the record's own fields.
#include <fmt/format.h>

#include <iostream>

#include "Command.h"
#include "model/Folders.h"
#include "model/Region.h"

namespace zusms::cli {

Json MessageJson(const Message& m, bool utc, bool unread) {
  Json j = ToJson(kHeads, &m.head());
  j["id"] = m.id();
  const std::u16string text = m.Text();
  j["content"] = Utf8(text.c_str(), text.size());
  j["time"] = IsoTime(Utf8(m.head().recvtime), utc);
  j["parts"] = m.parts.size();
  j["complete"] = m.complete;
  j["read"] = !unread;
  return j;
}

ShownText TextShown(Store& store, const Message& m) {
  ShownText shown;
  shown.multimedia = ReadMultimedia(store, m.id());
  if (shown.multimedia) {
    const Multimedia& mm = *shown.multimedia;
    shown.text = !mm.text.empty() ? mm.text : mm.subject;
    for (const Attachment& a : mm.attachments) shown.attachments.push_back(AttachmentLine(a));
  }
  if (shown.text.empty()) {
    const std::u16string text = m.Text();
    shown.text = Utf8(text.c_str(), text.size());
  }
  return shown;
}

void AddMultimediaJson(const ShownText& shown, Json& j) {
  if (!shown.multimedia) return;
  const Multimedia& mm = *shown.multimedia;
  Json attachments = Json::array(), addresses = Json::array();
  for (const Attachment& a : mm.attachments) {
    attachments.push_back(
        {{"part", a.part}, {"type", a.type}, {"name", a.name}, {"bytes", a.bytes}});
  }
  for (const SmsMmsAddress& a : mm.addresses) {
    const char* role = a.type == ZU_MMS_FROM ? "from"
                       : a.type == ZU_MMS_TO ? "to"
                       : a.type == ZU_MMS_CC ? "cc"
                                             : "bcc";
    addresses.push_back({{"address", Utf8(a.address)}, {"role", role}});
  }
  j["multimedia"] = {{"subject", mm.subject},
                     {"attachments", std::move(attachments)},
                     {"addresses", std::move(addresses)}};
}

Json ShownMessageJson(Store& store, const Message& m, bool utc, bool unread) {
  Json j = MessageJson(m, utc, unread);
  const ShownText shown = TextShown(store, m);
  if (shown.multimedia) j["content"] = shown.text;
  AddMultimediaJson(shown, j);
  return j;
}

void PrintMessageFields(const Message& m, const Options& o, bool unread) {
  Json j = MessageJson(m, o.utc, unread);
  j["time"] = ReadableTime(Utf8(m.head().recvtime), o.utc);
  for (const auto& [key, value] : j.items()) {
    // The text keeps its lines; no field ever reaches the terminal raw.
    const std::string text = value.is_string() ? value.get<std::string>() : value.dump();
    std::cout << fmt::format("{:<11}{}\n", key, Printable(text, key == "content"));
  }
}

namespace {

// The name the recipient history gives the message's number (by the one
// rule that matches numbers), the most recently used entry first; "" when
// it gives none.
std::string HistoryName(Store& s, const Options& o, const SmsHead& h) {
  if (IsBlank(Utf8(h.tel))) return "";
  const NumberMatch same(NumbersOf(s, o.region), Utf8(h.tel));
  const auto history = ReadAll<SmsRecieverHistory>(
      s, GetZuSmsReceiverHistoryCount, GetAllZuSmsReceiverHistory, kReceiverHistory.key);
  const SmsRecieverHistory* found = nullptr;
  for (const SmsRecieverHistory& r : history) {
    if (IsBlank(Utf8(r.name)) || !same(Utf8(r.tel))) continue;
    if (!found || std::u16string_view(r.lastdate) > std::u16string_view(found->lastdate)) {
      found = &r;
    }
  }
  return found ? Utf8(found->name) : "";
}

// The folder by its number, its stored name and, for a default folder, its
// role when that reads otherwise.
std::string FolderLine(Store& s, int32_t fid) {
  for (const SmsFolder& f : s.Folders()) {
    if (f.FdId != fid) continue;
    const std::string name = Utf8(f.fname), role = RoleName(f);
    return fmt::format("{} {}{}", fid, name, role.empty() || role == name ? "" : " (" + role + ")");
  }
  return fmt::format("{} ({})", fid, Word("no such folder"));
}

}  // namespace

void PrintMessage(Store& s, const Message& m, const Options& o, bool unread) {
  const SmsHead& h = m.head();
  const ShownText shown = TextShown(s, m);
  std::string contact = Utf8(h.name);
  if (IsBlank(contact)) contact = HistoryName(s, o, h);
  std::string parts = std::to_string(m.parts.size());
  if (!m.complete) parts += fmt::format("/{} ({})", h.longsms, Word("incomplete"));
  std::string state = Word(unread ? "unread" : "read");
  if (IsLocked(m)) state += ", " + Word("locked");
  const std::pair<const char*, std::string> lines[] = {
      {"ID", std::to_string(m.id())},
      {"NUMBER", CodeLine(Utf8(h.tel))},
      {"CONTACT", contact},
      {"FOLDER", FolderLine(s, h.fid)},
      {o.utc ? "TIME (UTC)" : "TIME", ReadableTime(Utf8(h.recvtime), o.utc)},
      {o.utc ? "CREATED (UTC)" : "CREATED", ReadableTime(Utf8(h.createtime), o.utc)},
      {"STATE", state},
      {"PARTS", shown.multimedia ? "" : parts},  // a long message's, not a multimedia one's
      {"SUBJECT", shown.multimedia ? shown.multimedia->subject : ""},
  };
  int width = 0;
  for (const auto& [label, value] : lines) width = std::max(width, DisplayWidth(Word(label)));
  for (const auto& [label, value] : lines) {
    if (value.empty()) continue;
    const std::string word = Word(label);
    std::cout << word << std::string(width - DisplayWidth(word) + 2, ' ') << OneLine(value) << "\n";
  }
  std::cout << "\n" << Printable(shown.text, true) << "\n";
  for (const std::string& a : shown.attachments) std::cout << Printable(a, false) << "\n";
}

}  // namespace zusms::cli
