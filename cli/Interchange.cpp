#include "Interchange.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <pugixml.hpp>
#include <set>
#include <vector>

#include "Messages.h"
#include "Records.h"

namespace zusms::cli {

namespace {

constexpr size_t kBatchRows = 1000;
constexpr size_t kBodyPart = 670;  // characters a head's content holds

// 1-based line of a byte offset, for error messages.
size_t LineOf(std::string_view content, size_t offset) {
  offset = std::min(offset, content.size());
  return 1 + static_cast<size_t>(std::count(content.begin(), content.begin() + offset, '\n'));
}

// A progress bar on stderr when it is a terminal; nothing otherwise.
class Progress {
 public:
  explicit Progress(size_t total) : total_(total), shown_(isatty(STDERR_FILENO) && total > 500) {}
  ~Progress() {
    if (shown_) std::fprintf(stderr, "\r%60s\r", "");
  }
  void Step() {
    ++done_;
    if (!shown_ || (done_ % 200 != 0 && done_ != total_)) return;
    const int filled = static_cast<int>(40 * done_ / total_);
    std::fprintf(stderr, "\rimporting [%s%s] %zu/%zu", std::string(filled, '#').c_str(),
                 std::string(40 - filled, ' ').c_str(), done_, total_);
  }

 private:
  size_t total_, done_ = 0;
  bool shown_;
};

// Commits every kBatchRows rows, so a large import does not commit per row.
class Batches {
 public:
  explicit Batches(Store& store) : store_(store) { batch_ = std::make_unique<Batch>(store_); }
  void Row() {
    if (++rows_ % kBatchRows == 0) {
      batch_->Commit();
      batch_ = std::make_unique<Batch>(store_);
    }
  }
  void Finish() { batch_->Commit(); }

 private:
  Store& store_;
  std::unique_ptr<Batch> batch_;
  size_t rows_ = 0;
};

template <typename Record>
std::vector<Record> Parse(const Kind& kind, const Json& file, std::vector<std::string>& errors) {
  std::vector<Record> out;
  const auto it = file.find(kind.key);
  if (it == file.end()) return out;
  if (!it->is_array()) {
    errors.push_back(std::string(kind.key) + ": not an array");
    return out;
  }
  for (size_t i = 0; i < it->size(); ++i) {
    Record r;
    std::memset(&r, 0, sizeof r);
    try {
      FromJson(kind, (*it)[i], &r);
      out.push_back(r);
    } catch (const Failure& e) {
      errors.push_back(fmt::format("{}[{}]: {}", kind.key, i, e.what()));
    }
  }
  return out;
}

// Adds each record the user does not have already (same fields, id aside).
template <typename Record, typename CountFn, typename AllFn, typename AddFn>
void AddNew(Store& store, const Kind& kind, std::vector<Record>& records, CountFn count, AllFn all,
            AddFn add, Batches& batches, Progress& progress, ImportReport& report) {
  std::set<std::string> have;
  for (const Record& r : ReadAll<Record>(store, count, all, kind.key)) {
    have.insert(ToJson(kind, &r).dump());
  }
  for (Record& r : records) {
    progress.Step();
    if (!have.insert(ToJson(kind, &r).dump()).second) {
      ++report.skipped;
      continue;
    }
    uint32_t id = 0;
    Check(add(*store, &r, &id), std::string("adding to ") + kind.key);
    ++report.added;
    batches.Row();
  }
}

int64_t MillisOf(const char16_t* time_text, size_t capacity) {
  const int64_t seconds = ParseTimeText(Utf8(time_text, capacity));
  return seconds < 0 ? 0 : seconds * 1000;
}

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

// Adds the messages whose UUID the user does not have yet, after `prepare`.
template <typename Prepare>
void AddNewHeads(Store& store, std::vector<SmsHead>& heads, Prepare&& prepare, Batches& batches,
                 Progress& progress, ImportReport& report) {
  std::set<std::string> uuids = store.Uuids();
  for (SmsHead& h : heads) {
    progress.Step();
    if (!uuids.emplace(reinterpret_cast<const char*>(h.uuid), 16).second) {
      ++report.skipped;
      continue;
    }
    prepare(h);
    uint32_t id = 0;
    Check(AddZuSmsHead(*store, &h, &id), "adding a message");
    ++report.added;
    batches.Row();
  }
}

// Refuses the whole file when any record of it cannot be stored whole.
void RefuseIfAny(const std::vector<std::string>& errors, const char* what) {
  if (errors.empty()) return;
  std::string message =
      std::string("nothing imported; the file has ") + what + " that cannot be stored:";
  for (size_t i = 0; i < errors.size() && i < 20; ++i) message += "\n  " + errors[i];
  if (errors.size() > 20) message += fmt::format("\n  ... and {} more", errors.size() - 20);
  throw Failure(message);
}

}  // namespace

void ExportJson(Store& store, std::ostream& out) {
  Json file = Json::object();
  file["format"] = "zusms";
  file["version"] = 1;
  file["user"] = store.user();
  auto add = [&](const Kind& kind, const auto& records) {
    Json array = Json::array();
    for (const auto& r : records) array.push_back(ToJson(kind, &r));
    file[kind.key] = std::move(array);
  };
  add(kHeads, ReadAll<SmsHead>(store, GetZuSmsHeadCount, GetAllZuSmsHead, "heads"));
  add(kContents, ReadAll<SmsContent>(store, GetZuSmsContentCount, GetAllZuSmsContent, "contents"));
  add(kAreaBroadcasts, ReadAll<SmsAreaBroadcast>(store, GetZuSmsAreaBroadcastCount,
                                                 GetAllZuSmsAreaBroadcast, "area broadcasts"));
  add(kFolders, store.Folders());
  add(kFilters, ReadAll<SmsFilter>(store, GetZuSmsFilterCount, GetAllZuSmsFilter, "filters"));
  add(kReceiverHistory,
      ReadAll<SmsRecieverHistory>(store, GetZuSmsReceiverHistoryCount, GetAllZuSmsReceiverHistory,
                                  "receiver history"));
  add(kPhrases, ReadAll<SmsPhrase>(store, GetZuSmsPhraseCount, GetAllZuSmsPhrase, "phrases"));
  out << file.dump(2) << "\n";
}

ImportReport ImportJson(Store& store, std::string_view content) {
  Json file;
  try {
    file = Json::parse(content.begin(), content.end());
  } catch (const Json::parse_error& e) {
    throw Failure(fmt::format("line {}: not valid JSON: {}", LineOf(content, e.byte), e.what()));
  }
  if (!file.is_object()) throw Failure("line 1: the file is not a JSON object");
  std::vector<std::string> errors;
  auto heads = Parse<SmsHead>(kHeads, file, errors);
  auto contents = Parse<SmsContent>(kContents, file, errors);
  auto pages = Parse<SmsAreaBroadcast>(kAreaBroadcasts, file, errors);
  auto folders = Parse<SmsFolder>(kFolders, file, errors);
  auto filters = Parse<SmsFilter>(kFilters, file, errors);
  auto history = Parse<SmsRecieverHistory>(kReceiverHistory, file, errors);
  auto phrases = Parse<SmsPhrase>(kPhrases, file, errors);
  for (const SmsAreaBroadcast& p : pages) {
    if (std::u16string(p.recvtime).size() > 15) {
      errors.push_back("areaBroadcasts: recvtime longer than 15 characters");
      break;
    }
  }
  RefuseIfAny(errors, "records");

  ImportReport report;
  Progress progress(heads.size() + contents.size() + pages.size() + folders.size() +
                    filters.size() + history.size() + phrases.size());
  Batches batches(store);
  // Folders first: default folders (1 to 14) update the user's own; other
  // folders get new numbers, and every folder number in the file is mapped.
  std::map<int32_t, int32_t> numbers;
  std::vector<SmsFolder> mine = store.Folders();
  for (SmsFolder& f : folders) {
    progress.Step();
    auto same_number = std::find_if(mine.begin(), mine.end(),
                                    [&](const SmsFolder& m) { return m.FdId == f.FdId; });
    if (f.FdId >= 1 && f.FdId <= 14 && same_number != mine.end()) {
      numbers[f.FdId] = f.FdId;
      if (std::u16string(same_number->fname) == std::u16string(f.fname) &&
          same_number->password == f.password && same_number->privmode == f.privmode) {
        ++report.skipped;
        continue;
      }
      SmsFolder update = *same_number;
      std::memcpy(update.fname, f.fname, sizeof f.fname);
      update.password = f.password;
      update.privmode = f.privmode;
      Check(UpdateZuSmsFolder(*store, &update), "updating a folder");
      ++report.updated;
      continue;
    }
    auto same = std::find_if(mine.begin(), mine.end(), [&](const SmsFolder& m) {
      return m.system == 0 && std::u16string(m.fname) == std::u16string(f.fname) &&
             m.password == f.password && m.privmode == f.privmode;
    });
    if (same != mine.end()) {
      numbers[f.FdId] = same->FdId;
      ++report.skipped;
      continue;
    }
    const int32_t old_number = f.FdId;
    uint32_t id = 0;
    Check(AddZuSmsFolder(*store, &f, &id), "adding a folder");
    numbers[old_number] = f.FdId;
    mine.push_back(f);
    ++report.added;
    batches.Row();
  }
  auto mapped = [&](int32_t number) {
    const auto it = numbers.find(number);
    return it == numbers.end() ? number : it->second;
  };
  AddNewHeads(
      store, heads,
      [&](SmsHead& h) {
        h.fid = mapped(h.fid);
        h.oldfid = mapped(h.oldfid);
      },
      batches, progress, report);
  for (SmsFilter& f : filters) f.folderid = mapped(f.folderid);
  AddNew(store, kFilters, filters, GetZuSmsFilterCount, GetAllZuSmsFilter, AddZuSmsFilter, batches,
         progress, report);
  AddNew(store, kContents, contents, GetZuSmsContentCount, GetAllZuSmsContent, AddZuSmsContent,
         batches, progress, report);
  AddNew(store, kAreaBroadcasts, pages, GetZuSmsAreaBroadcastCount, GetAllZuSmsAreaBroadcast,
         AddZuSmsAreaBroadcast, batches, progress, report);
  AddNew(store, kReceiverHistory, history, GetZuSmsReceiverHistoryCount, GetAllZuSmsReceiverHistory,
         AddZuSmsReceiverHistory, batches, progress, report);
  AddNew(store, kPhrases, phrases, GetZuSmsPhraseCount, GetAllZuSmsPhrase, AddZuSmsPhrase, batches,
         progress, report);
  batches.Finish();
  return report;
}

void ExportXml(Store& store, std::ostream& out) {
  std::vector<SmsHead> heads = ReadAll<SmsHead>(store, GetZuSmsHeadCount, GetAllZuSmsHead, "heads");
  // The parts of a long message (longsms parts sharing a batid) become one
  // message again, in part order.
  std::map<int32_t, std::vector<const SmsHead*>> parts;
  for (const SmsHead& h : heads) {
    if (h.longsms > 1 && h.batid != 0) parts[h.batid].push_back(&h);
  }
  pugi::xml_document doc;
  auto decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  decl.append_attribute("standalone") = "yes";
  auto smses = doc.append_child("smses");
  size_t count = 0;
  std::set<int32_t> written;
  for (const SmsHead& h : heads) {
    std::string body = Utf8(h.content);
    if (h.longsms > 1 && h.batid != 0) {
      auto& group = parts[h.batid];
      if (static_cast<int>(group.size()) == h.longsms) {
        if (!written.insert(h.batid).second) continue;
        std::sort(group.begin(), group.end(),
                  [](const SmsHead* a, const SmsHead* b) { return a->index < b->index; });
        body.clear();
        for (const SmsHead* p : group) body += Utf8(p->content);
      }
    }
    const int64_t date = MillisOf(h.recvtime, std::size(h.recvtime));
    const int64_t sent = MillisOf(h.createtime, std::size(h.createtime));
    auto sms = smses.append_child("sms");
    const std::string name = Utf8(h.name);
    const std::time_t seconds = static_cast<std::time_t>(date / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char readable[64];
    std::strftime(readable, sizeof readable, "%Y-%m-%d %H:%M:%S UTC", &utc);
    sms.append_attribute("protocol") = "0";
    sms.append_attribute("address") = Utf8(h.tel).c_str();
    sms.append_attribute("date") = std::to_string(date).c_str();
    sms.append_attribute("type") = std::to_string(TypeOfHead(h)).c_str();
    sms.append_attribute("subject") = "null";
    sms.append_attribute("body") = body.c_str();
    sms.append_attribute("toa") = "null";
    sms.append_attribute("sc_toa") = "null";
    sms.append_attribute("service_center") = "null";
    sms.append_attribute("read") = "1";
    sms.append_attribute("status") = "-1";
    sms.append_attribute("locked") = h.lockflag ? "1" : "0";
    sms.append_attribute("date_sent") = std::to_string(sent).c_str();
    sms.append_attribute("readable_date") = readable;
    sms.append_attribute("contact_name") = name.empty() ? "(Unknown)" : name.c_str();
    ++count;
  }
  smses.append_attribute("count") = std::to_string(count).c_str();
  doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
}

ImportReport ImportXml(Store& store, std::string_view content) {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_buffer(content.data(), content.size());
  if (!parsed) {
    throw Failure(fmt::format("line {}: not valid XML: {}", LineOf(content, parsed.offset),
                              parsed.description()));
  }
  const pugi::xml_node smses = doc.child("smses");
  if (!smses) throw Failure("line 1: no <smses> element");
  std::vector<SmsHead> heads;
  std::vector<std::string> errors;
  size_t index = 0;
  for (pugi::xml_node sms = smses.child("sms"); sms; sms = sms.next_sibling("sms"), ++index) {
    const std::string where = fmt::format("sms {} (line {})", index + 1,
                                          LineOf(content, static_cast<size_t>(sms.offset_debug())));
    try {
      const std::string address = sms.attribute("address").as_string();
      const std::string date_text = sms.attribute("date").as_string();
      char* end = nullptr;
      const long long date = std::strtoll(date_text.c_str(), &end, 10);
      if (date_text.empty() || *end != 0 || date < 0) throw Failure("date: not milliseconds");
      const long long sent = sms.attribute("date_sent").as_llong(0);
      const int type = sms.attribute("type").as_int(1);
      if (type < 1 || type > 6) throw Failure("type: not 1 to 6");
      std::string name = sms.attribute("contact_name").as_string();
      if (name == "null" || name == "(Unknown)") name.clear();
      const std::u16string body = Utf16(sms.attribute("body").as_string());

      SmsHead h;
      std::memset(&h, 0, sizeof h);
      if (!SetText(h.tel, address)) throw Failure("address: longer than 32 characters");
      if (!SetText(h.name, name)) throw Failure("contact_name: longer than 39 characters");
      SetText(h.recvtime, TimeText(date / 1000));
      SetText(h.createtime, TimeText((sent > 0 ? sent : date) / 1000));
      h.type = static_cast<int16_t>(type);
      h.fid = FolderOfType(type);
      h.lockflag = sms.attribute("locked").as_int(0) ? 1 : 0;
      // A body longer than one head holds is kept whole as a long message:
      // consecutive parts sharing a batid, numbered in `index`, never cut
      // inside a surrogate pair.
      std::vector<std::u16string> pieces;
      for (size_t at = 0; at < body.size() || pieces.empty();) {
        size_t len = std::min(kBodyPart, body.size() - at);
        if (at + len < body.size() && body[at + len - 1] >= 0xD800 &&
            body[at + len - 1] <= 0xDBFF) {
          --len;
        }
        pieces.push_back(body.substr(at, len));
        at += len;
      }
      const std::string key = address + "|" + date_text + "|" + Utf8(body.c_str(), body.size() + 1);
      uint8_t group[16];
      DerivedUuid(key, group);
      for (size_t p = 0; p < pieces.size(); ++p) {
        SmsHead part = h;
        std::copy(pieces[p].begin(), pieces[p].end(), part.content);
        part.content[pieces[p].size()] = 0;
        if (pieces.size() > 1) {
          part.longsms = static_cast<int16_t>(pieces.size());
          part.index = static_cast<int16_t>(p + 1);
          std::memcpy(&part.batid, group, sizeof part.batid);
          part.batid &= 0x7FFFFFFF;
        }
        DerivedUuid(key + "|" + std::to_string(p), part.uuid);
        heads.push_back(part);
      }
    } catch (const Failure& e) {
      errors.push_back(where + ": " + e.what());
    }
  }
  RefuseIfAny(errors, "messages");
  ImportReport report;
  Progress progress(heads.size());
  Batches batches(store);
  AddNewHeads(
      store, heads, [](SmsHead&) {}, batches, progress, report);
  batches.Finish();
  return report;
}

}  // namespace zusms::cli
