#include "Interchange.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "Messages.h"
#include "Print.h"
#include "Records.h"

namespace zusms::cli {

namespace {

// 1-based line of a byte offset, for error messages.
size_t LineOf(std::string_view content, size_t offset) {
  offset = std::min(offset, content.size());
  return 1 + static_cast<size_t>(std::count(content.begin(), content.begin() + offset, '\n'));
}

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

ImportReport ImportJson(Store& store, std::string_view content, bool show_progress) {
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
  Progress progress("importing",
                    heads.size() + contents.size() + pages.size() + folders.size() +
                        filters.size() + history.size() + phrases.size(),
                    show_progress);
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

}  // namespace zusms::cli
