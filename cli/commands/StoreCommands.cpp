// demo, stats, sync-list: the store as a whole.
#include <fmt/format.h>

#include <filesystem>
#include <iostream>
#include <map>

#include "Command.h"
#include "model/Check.h"
#include "model/Demo.h"
#include "model/ReadState.h"

namespace zusms::cli {

namespace {

std::string ModifyTimeText(const stDateTime& t, const char* pattern) {
  return fmt::format(fmt::runtime(pattern), t.year, t.month, t.day, t.hour, t.minute, t.second);
}

void Demonstrate(Store& store, const Options& o) {
  if (o.demo_store) {
    std::cout << fmt::format(
        "Demo store: {} (a file of its own: your store is untouched; zusms --db {} list looks "
        "around in it)\n\n",
        o.db, o.db);
  }
  Demo(store, std::cout).Run();
  Options table = o;
  table.json = false;
  std::cout << "Folders\n";
  ShowFolders(store, table);
  std::cout << "\nInbox, newest first\n";
  ListOptions inbox;
  inbox.folder = 1;
  inbox.limit = 8;
  ShowMessages(store, ListMessages(store, inbox), table);
  std::cout << "\nSearch: messages containing \"\u5f00\u4f1a\" or \"meeting\"\n";
  for (const char* word : {"\u5f00\u4f1a", "meeting"}) {
    ListOptions search;
    search.contains = word;
    search.limit = 3;
    ShowMessages(store, ListMessages(store, search), table);
  }
  std::cout << "\nSynchronisation listing (first 5 of the modification times and UUIDs)\n";
  stIDModifyTime times[5];
  stIDUUID uuids[5];
  uint32_t n = 0, m = 0;
  Check(GetAllZuSmsHeadIDModifyTime(*store, times, 5, &n), "listing modification times");
  Check(GetAllZuSmsHeadIDUUID(*store, uuids, 5, &m), "listing UUIDs");
  std::vector<std::vector<std::string>> rows;
  for (uint32_t i = 0; i < std::min(n, m); ++i) {
    rows.push_back({std::to_string(times[i].id),
                    ModifyTimeText(times[i].modifyTime, "{:04}-{:02}-{:02} {:02}:{:02}:{:02}"),
                    UuidText(uuids[i].uuid)});
  }
  PrintTable({"ID", "MODIFIED (UTC)", "UUID"}, rows);
}

void SyncList(Store& s, const Options& o, bool uuid_only) {
  uint32_t n = 0;
  Check(GetZuSmsHeadCount(*s, &n), "counting messages");
  std::vector<stIDModifyTime> times(n);
  std::vector<stIDUUID> uuids(n);
  uint32_t a = 0, b = 0;
  Check(GetAllZuSmsHeadIDModifyTime(*s, times.data(), n, &a), "listing modification times");
  Check(GetAllZuSmsHeadIDUUID(*s, uuids.data(), n, &b), "listing UUIDs");
  std::map<uint32_t, std::string> uuid_of;
  for (uint32_t i = 0; i < b; ++i) uuid_of[uuids[i].id] = UuidText(uuids[i].uuid);
  Json out = Json::array();
  std::vector<std::vector<std::string>> rows;
  for (uint32_t i = 0; i < a; ++i) {
    const std::string when =
        ModifyTimeText(times[i].modifyTime, "{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z");
    Json j{{"id", times[i].id}, {"uuid", uuid_of[times[i].id]}};
    if (!uuid_only) j["modifyTime"] = when;
    out.push_back(j);
    rows.push_back({std::to_string(times[i].id), uuid_only ? "" : when, uuid_of[times[i].id]});
  }
  if (o.json) return PrintJson(out);
  PrintTable({"ID", "MODIFIED", "UUID"}, rows);
}

void Stats(Store& s, const Options& o) {
  auto count = [&](auto fn, const char* what) {
    uint32_t n = 0;
    Check(fn(*s, &n), std::string("counting ") + what);
    return n;
  };
  Json kinds{{"heads", count(GetZuSmsHeadCount, "heads")},
             {"contents", count(GetZuSmsContentCount, "contents")},
             {"areaBroadcasts", count(GetZuSmsAreaBroadcastCount, "area broadcasts")},
             {"folders", count(GetZuSmsFolderCount, "folders")},
             {"filters", count(GetZuSmsFilterCount, "filters")},
             {"receiverHistory", count(GetZuSmsReceiverHistoryCount, "history")},
             {"phrases", count(GetZuSmsPhraseCount, "phrases")}};
  const std::string db = StoreFile(o.db);
  std::error_code ec;
  const auto size = db.empty() ? 0 : std::filesystem::file_size(db, ec);
  const UnreadCounts unread = CountUnread(s);
  // Multimedia messages and the bytes of their parts' data.
  const std::vector<uint32_t> multimedia = MultimediaIds(s);
  uint64_t multimedia_bytes = 0;
  for (const uint32_t id : multimedia) multimedia_bytes += MultimediaBytes(s, id);
  if (o.json) {
    Json folders = Json::object();    // records, as the kinds count them
    Json unread_in = Json::object();  // messages
    for (const SmsFolder& f : s.Folders()) {
      folders[Utf8(f.fname)] = s.CountInFolder(f.FdId);
      unread_in[Utf8(f.fname)] = unread.In(f.FdId);
    }
    return PrintJson(
        {{"user", o.user},
         {"kinds", kinds},
         {"folders", folders},
         {"unread", {{"messages", unread.total}, {"folders", unread_in}}},
         {"multimedia", {{"messages", multimedia.size()}, {"bytes", multimedia_bytes}}},
         {"databaseBytes", ec ? 0 : size}});
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& [k, v] : kinds.items()) rows.push_back({k, v.dump()});
  PrintTable({"KIND", "RECORDS"}, rows);
  rows.clear();
  // A long message is one message and several records.
  for (const SmsFolder& f : s.Folders()) {
    rows.push_back({Utf8(f.fname), std::to_string(CountMessagesInFolder(s, f.FdId)),
                    std::to_string(unread.In(f.FdId)), std::to_string(s.CountInFolder(f.FdId))});
  }
  std::cout << "\n";
  PrintTable({"FOLDER", "MESSAGES", "UNREAD", "RECORDS"}, rows);
  if (!multimedia.empty()) {
    std::cout << fmt::format("\nmultimedia: {}, {} of attachments and other parts\n",
                             Counted(multimedia.size(), "message"), ByteSize(multimedia_bytes));
  }
  if (!db.empty() && !ec)
    std::cout << fmt::format("\ndatabase: {} ({})\n", OneLine(db), Counted(size, "byte"));
}

void CheckCommand(Commands& c) {
  auto repair = std::make_shared<bool>(false);
  auto* check = c.app().add_subcommand(
      "check", "look for messages of deleted folders and other inconsistencies; exit 1 on any");
  check->add_flag("--repair", *repair,
                  "move messages of folders that no longer exist into the folder Recovered");
  c.On(check, [&c, repair](Store& s) {
    const CheckReport r = CheckStore(s, StoreFile(c.options().db), *repair);
    const size_t left = r.findings.size() - r.repaired;
    if (c.options().json) {
      PrintJson({{"findings", r.findings}, {"repairs", r.repairs}, {"left", left}});
    } else {
      for (const std::string& f : r.findings) std::cout << Printable(f, false) << "\n";
      for (const std::string& done : r.repairs) std::cout << Printable(done, false) << "\n";
      if (r.findings.empty()) std::cout << "no problems found\n";
    }
    if (left > 0) {
      throw Failure(fmt::format("check found {}{}", Counted(left, "problem"),
                                *repair ? " that --repair does not mend" : ""));
    }
  });
}

}  // namespace

void AddStoreCommands(Commands& c) {
  CheckCommand(c);
  c.On(c.app().add_subcommand(
           "demo",
           "add demo data once (into a file of its own unless --db) and show what a user sees"),
       [&c](Store& s) { Demonstrate(s, c.options()); });
  auto uuid_only = std::make_shared<bool>(false);
  auto* sync = c.app().add_subcommand("sync-list", "ids with modification times and UUIDs");
  sync->add_flag("--uuid-only", *uuid_only, "leave the modification times out");
  c.On(sync, [&c, uuid_only](Store& s) { SyncList(s, c.options(), *uuid_only); });
  c.On(c.app().add_subcommand("stats", "counts per kind and per folder, and the file's size"),
       [&c](Store& s) { Stats(s, c.options()); });
}

}  // namespace zusms::cli
