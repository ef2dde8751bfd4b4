// zusms: the message store from the command line.
#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>

#include "Changes.h"
#include "Demo.h"
#include "Interchange.h"
#include "Records.h"
#include "Store.h"

namespace zusms::cli {
namespace {

struct Options {
  std::string db;
  uint32_t user = 1;
  bool json = false;
};

// Prints rows under a header, each column as wide as its widest cell in
// terminal columns, so that Chinese text (two columns a character) aligns.
void PrintTable(const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows) {
  std::vector<int> widths(header.size());
  for (size_t c = 0; c < header.size(); ++c) widths[c] = DisplayWidth(header[c]);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string out;
    for (size_t c = 0; c < cells.size(); ++c) {
      out += cells[c];
      if (c + 1 < cells.size()) out += std::string(widths[c] - DisplayWidth(cells[c]) + 2, ' ');
    }
    std::cout << out << "\n";
  };
  line(header);
  for (const auto& row : rows) line(row);
}

void PrintJson(const Json& json) { std::cout << json.dump(2) << "\n"; }

std::map<int32_t, std::string> FolderNames(Store& store) {
  std::map<int32_t, std::string> names;
  for (const SmsFolder& f : store.Folders()) names[f.FdId] = Utf8(f.fname);
  return names;
}

// ---- Messages

struct ListOptions {
  std::optional<int32_t> folder;
  std::string number;
  std::string contains;
  bool oldest = false;
  uint32_t limit = 20;
};

void ShowHeads(Store& store, const std::vector<SmsHead>& heads, bool json) {
  if (json) {
    Json out = Json::array();
    for (const SmsHead& h : heads) {
      Json j = ToJson(kHeads, &h);
      j["id"] = h.id;
      out.push_back(std::move(j));
    }
    PrintJson(out);
    return;
  }
  const auto folders = FolderNames(store);
  std::vector<std::vector<std::string>> rows;
  for (const SmsHead& h : heads) {
    const auto f = folders.find(h.fid);
    rows.push_back({std::to_string(h.id), f == folders.end() ? std::to_string(h.fid) : f->second,
                    Utf8(h.recvtime), Utf8(h.tel), Clip(Utf8(h.name), 16),
                    Clip(Utf8(h.content), 48)});
  }
  PrintTable({"ID", "FOLDER", "TIME", "NUMBER", "NAME", "TEXT"}, rows);
}

std::vector<SmsHead> ListHeads(Store& store, const ListOptions& o) {
  std::vector<_MimerQueryFilterItem> items;
  std::u16string number = Utf16(o.number), contains = Utf16(o.contains);
  if (o.folder) {
    _MimerQueryFilterItem item{};
    item.field = ZU_HEAD_FID;
    item.op = ZU_OP_EQ;
    item.value.number = *o.folder;
    items.push_back(item);
  }
  if (!o.number.empty()) {
    _MimerQueryFilterItem item{};
    item.field = ZU_HEAD_TEL;
    item.op = ZU_OP_EQ;
    item.value.text = number.c_str();
    items.push_back(item);
  }
  if (!o.contains.empty()) {
    _MimerQueryFilterItem item{};
    item.field = ZU_HEAD_CONTENT;
    item.op = ZU_OP_CONTAINS;
    item.value.text = contains.c_str();
    items.push_back(item);
  }
  _MimerQueryOrderItem orders[] = {{ZU_HEAD_RECVTIME, o.oldest ? 1 : 2}, {ZU_HEAD_ID, 1}};
  MimerQueryFilter filter{static_cast<uint32_t>(items.size()), items.data(), 1, 2, orders};
  return store.Heads(&filter, o.limit);
}

SmsHead GetHead(Store& store, uint32_t id) {
  SmsHead h;
  std::memset(&h, 0, sizeof h);
  Check(GetZuSmsHead(*store, id, &h), "reading message " + std::to_string(id));
  if (h.id == 0) throw Failure(fmt::format("no message {}", id));
  return h;
}

// ---- Folders

void ShowFolders(Store& store, bool json) {
  const auto folders = store.Folders();
  if (json) {
    Json out = Json::array();
    for (const SmsFolder& f : folders) {
      Json j = ToJson(kFolders, &f);
      j["id"] = f.id;
      j["messages"] = store.CountInFolder(f.FdId);
      out.push_back(std::move(j));
    }
    PrintJson(out);
    return;
  }
  std::vector<std::vector<std::string>> rows;
  for (const SmsFolder& f : folders) {
    rows.push_back({std::to_string(f.FdId), Utf8(f.fname), f.system ? "default" : "user",
                    std::to_string(store.CountInFolder(f.FdId)), std::to_string(f.id)});
  }
  PrintTable({"NUMBER", "NAME", "KIND", "MESSAGES", "ID"}, rows);
}

// A listing of one simple kind of record, as a table or JSON.
template <typename Record, typename CountFn, typename AllFn>
void ShowRecords(Store& store, const Kind& kind, CountFn count, AllFn all, bool json,
                 const std::vector<std::string>& header,
                 std::vector<std::string> (*row)(const Record&)) {
  const auto records = ReadAll<Record>(store, count, all, kind.key);
  if (json) {
    Json out = Json::array();
    for (const Record& r : records) {
      Json j = ToJson(kind, &r);
      j["id"] = r.id;
      out.push_back(std::move(j));
    }
    PrintJson(out);
    return;
  }
  std::vector<std::vector<std::string>> rows;
  for (const Record& r : records) rows.push_back(row(r));
  PrintTable(header, rows);
}

std::string ReadInput(const std::string& path) {
  if (path == "-") {
    return std::string(std::istreambuf_iterator<char>(std::cin), {});
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool LooksLikeXml(const std::string& path, const std::string& content) {
  if (path.size() > 4 && path.substr(path.size() - 4) == ".xml") return true;
  const auto first = content.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  return first != std::string::npos && content[first] == '<';
}

// "NOUN delete ID": removes one record of a kind through its Delete function.
void AddDeleteCommand(CLI::App* parent, const std::string& noun, uint32_t& id,
                      int32_t (*remove)(SmsDatabase*, uint32_t),
                      const std::function<void(CLI::App*, std::function<void(Store&)>)>& on) {
  auto* cmd = parent->add_subcommand("delete", "delete a " + noun);
  cmd->add_option("ID", id)->required();
  on(cmd, [&id, noun, remove](Store& s) {
    Check(remove(*s, id), "deleting the " + noun);
    std::cout << fmt::format("deleted {} {}\n", noun, id);
  });
}

void Demonstrate(Store& store, const Options& o) {
  Demo(store, std::cout).Run();
  std::cout << "Folders\n";
  ShowFolders(store, false);
  std::cout << "\nInbox, newest first\n";
  ListOptions inbox;
  inbox.folder = 1;
  inbox.limit = 8;
  ShowHeads(store, ListHeads(store, inbox), false);
  std::cout << "\nSearch: messages containing \"\u5f00\u4f1a\" or \"meeting\"\n";
  for (const char* word : {"\u5f00\u4f1a", "meeting"}) {
    ListOptions search;
    search.contains = word;
    search.limit = 3;
    ShowHeads(store, ListHeads(store, search), false);
  }
  std::cout << "\nSynchronisation listing (first 5 of the modification times and UUIDs)\n";
  stIDModifyTime times[5];
  stIDUUID uuids[5];
  uint32_t n = 0, m = 0;
  Check(GetAllZuSmsHeadIDModifyTime(*store, times, 5, &n), "listing modification times");
  Check(GetAllZuSmsHeadIDUUID(*store, uuids, 5, &m), "listing UUIDs");
  std::vector<std::vector<std::string>> rows;
  for (uint32_t i = 0; i < std::min(n, m); ++i) {
    const stDateTime& t = times[i].modifyTime;
    rows.push_back({std::to_string(times[i].id),
                    fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", t.year, t.month, t.day,
                                t.hour, t.minute, t.second),
                    UuidText(uuids[i].uuid)});
  }
  PrintTable({"ID", "MODIFIED (UTC)", "UUID"}, rows);
  (void)o;
}

}  // namespace

int Main(int argc, char** argv) {
  CLI::App app{"zusms: short messages and everything that belongs to them, in one database file"};
  app.require_subcommand(1);
  Options o;
  app.add_option("--db", o.db,
                 "database file (default: $ZUSMS_DB, else ~/.local/share/zusms/zuSms.dbf)");
  app.add_option("--user", o.user, "user id (default 1)");
  app.add_flag("--json", o.json, "listings as JSON");

  std::vector<std::function<void(Store&)>> actions;
  auto on = [&](CLI::App* cmd, std::function<void(Store&)> action) {
    cmd->callback([&, action] { actions.push_back(action); });
  };

  on(app.add_subcommand("demo", "add demo data once, then show what a user sees"),
     [&](Store& s) { Demonstrate(s, o); });

  // Messages.
  ListOptions list;
  auto* list_cmd = app.add_subcommand("list", "list messages, newest first");
  list_cmd->add_option("--folder", list.folder, "folder number");
  list_cmd->add_option("--number", list.number, "telephone number");
  list_cmd->add_option("--contains", list.contains, "text the message contains");
  list_cmd->add_flag("--oldest", list.oldest, "oldest first");
  list_cmd->add_option("--limit", list.limit, "at most this many (default 20)");
  on(list_cmd, [&](Store& s) { ShowHeads(s, ListHeads(s, list), o.json); });

  uint32_t id = 0;
  auto* show = app.add_subcommand("show", "show one message whole");
  show->add_option("ID", id)->required();
  on(show, [&](Store& s) {
    const SmsHead h = GetHead(s, id);
    Json j = ToJson(kHeads, &h);
    j["id"] = h.id;
    if (o.json) return PrintJson(j);
    for (const auto& [key, value] : j.items()) {
      std::cout << fmt::format("{:<11}{}\n", key,
                               value.is_string() ? value.get<std::string>() : value.dump());
    }
  });

  struct {
    std::string number, name, text;
    int32_t folder = 1;
  } add;
  auto* add_cmd =
      app.add_subcommand("add", "add a message (its text from --text or standard input)");
  add_cmd->add_option("--number", add.number, "telephone number")->required();
  add_cmd->add_option("--name", add.name, "contact name");
  add_cmd->add_option("--folder", add.folder, "folder number (default 1, the inbox)");
  add_cmd->add_option("--text", add.text, "the text");
  on(add_cmd, [&](Store& s) {
    SmsHead h;
    std::memset(&h, 0, sizeof h);
    std::string text = add.text.empty() ? ReadInput("-") : add.text;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    if (!SetText(h.tel, add.number)) throw Failure("the number is longer than 32 characters");
    if (!SetText(h.name, add.name)) throw Failure("the name is longer than 39 characters");
    if (!SetText(h.content, text)) throw Failure("the text is longer than 670 characters");
    const std::string now = TimeText(std::time(nullptr));
    SetText(h.recvtime, now);
    SetText(h.createtime, now);
    h.fid = add.folder;
    uint32_t new_id = 0;
    Check(AddZuSmsHead(*s, &h, &new_id), "adding the message");
    std::cout << (o.json ? Json({{"id", new_id}}).dump() : fmt::format("added message {}", new_id))
              << "\n";
  });

  int32_t folder = 0;
  auto* move = app.add_subcommand("move", "move a message to another folder");
  move->add_option("ID", id)->required();
  move->add_option("FOLDER", folder, "folder number")->required();
  on(move, [&](Store& s) {
    SmsHead h = GetHead(s, id);
    h.oldfid = h.fid;
    h.fid = folder;
    Check(UpdateZuSmsHead(*s, &h), "moving the message");
    std::cout << fmt::format("moved message {} to folder {}\n", id, folder);
  });

  auto* del = app.add_subcommand("delete", "delete a message");
  del->add_option("ID", id)->required();
  on(del, [&](Store& s) {
    GetHead(s, id);
    Check(DeleteZuSmsHead(*s, id), "deleting the message");
    std::cout << fmt::format("deleted message {}\n", id);
  });

  // Folders.
  on(app.add_subcommand("folders", "list the folders with their message counts"),
     [&](Store& s) { ShowFolders(s, o.json); });
  std::string name;
  auto* folder_cmd = app.add_subcommand("folder", "add, rename or delete a folder");
  folder_cmd->require_subcommand(1);
  auto* folder_add = folder_cmd->add_subcommand("add", "add a folder");
  folder_add->add_option("NAME", name)->required();
  on(folder_add, [&](Store& s) {
    SmsFolder f{};
    if (!SetText(f.fname, name)) throw Failure("the name is longer than 39 characters");
    uint32_t new_id = 0;
    Check(AddZuSmsFolder(*s, &f, &new_id), "adding the folder");
    std::cout << fmt::format("added folder {} (number {})\n", new_id, f.FdId);
  });
  auto* folder_rename = folder_cmd->add_subcommand("rename", "rename a folder");
  folder_rename->add_option("ID", id)->required();
  folder_rename->add_option("NAME", name)->required();
  on(folder_rename, [&](Store& s) {
    SmsFolder f{};
    Check(GetZuSmsFolder(*s, id, &f), fmt::format("reading folder {}", id));
    if (!SetText(f.fname, name)) throw Failure("the name is longer than 39 characters");
    Check(UpdateZuSmsFolder(*s, &f), "renaming the folder");
    std::cout << fmt::format("renamed folder {}\n", id);
  });
  auto* folder_delete = folder_cmd->add_subcommand("delete", "delete a user folder");
  folder_delete->add_option("ID", id)->required();
  on(folder_delete, [&](Store& s) {
    SmsFolder f{};
    Check(GetZuSmsFolder(*s, id, &f), fmt::format("reading folder {}", id));
    if (f.system) throw Failure("default folders cannot be deleted");
    Check(DeleteZuSmsFolder(*s, id), "deleting the folder");
    std::cout << fmt::format("deleted folder {}\n", id);
  });

  // Filters, phrases and the recipient history.
  on(app.add_subcommand("filters", "list the filter rules"), [&](Store& s) {
    ShowRecords<SmsFilter>(s, kFilters, GetZuSmsFilterCount, GetAllZuSmsFilter, o.json,
                           {"ID", "NUMBER", "NAME", "FOLDER", "TYPE", "ATTR"},
                           [](const SmsFilter& f) -> std::vector<std::string> {
                             return {std::to_string(f.id),
                                     Utf8(f.tel),
                                     Utf8(f.name),
                                     std::to_string(f.folderid),
                                     std::to_string(f.ftype),
                                     std::to_string(f.fattr)};
                           });
  });
  struct {
    std::string number, name;
    int32_t folder = 1;
    int16_t type = 0, attr = 0;
  } rule;
  auto* filter_cmd = app.add_subcommand("filter", "add or delete a filter rule");
  filter_cmd->require_subcommand(1);
  auto* filter_add = filter_cmd->add_subcommand("add", "add a filter rule");
  filter_add->add_option("--number", rule.number, "telephone number");
  filter_add->add_option("--name", rule.name, "contact name");
  filter_add->add_option("--folder", rule.folder, "folder number")->required();
  filter_add->add_option("--type", rule.type, "rule type");
  filter_add->add_option("--attr", rule.attr, "rule attribute");
  on(filter_add, [&](Store& s) {
    SmsFilter f{};
    if (!SetText(f.tel, rule.number) || !SetText(f.name, rule.name)) {
      throw Failure("the number or the name is too long");
    }
    f.folderid = rule.folder;
    f.ftype = rule.type;
    f.fattr = rule.attr;
    uint32_t new_id = 0;
    Check(AddZuSmsFilter(*s, &f, &new_id), "adding the filter");
    std::cout << fmt::format("added filter {}\n", new_id);
  });
  AddDeleteCommand(filter_cmd, "filter", id, DeleteZuSmsFilter, on);

  on(app.add_subcommand("phrases", "list the phrases"), [&](Store& s) {
    ShowRecords<SmsPhrase>(s, kPhrases, GetZuSmsPhraseCount, GetAllZuSmsPhrase, o.json,
                           {"ID", "PHRASE"}, [](const SmsPhrase& p) -> std::vector<std::string> {
                             return {std::to_string(p.id), Utf8(p.content)};
                           });
  });
  std::string text;
  auto* phrase_cmd = app.add_subcommand("phrase", "add or delete a phrase");
  phrase_cmd->require_subcommand(1);
  auto* phrase_add = phrase_cmd->add_subcommand("add", "add a phrase");
  phrase_add->add_option("TEXT", text)->required();
  on(phrase_add, [&](Store& s) {
    SmsPhrase p{};
    if (!SetText(p.content, text)) throw Failure("the phrase is longer than 99 characters");
    uint32_t new_id = 0;
    Check(AddZuSmsPhrase(*s, &p, &new_id), "adding the phrase");
    std::cout << fmt::format("added phrase {}\n", new_id);
  });
  AddDeleteCommand(phrase_cmd, "phrase", id, DeleteZuSmsPhrase, on);

  on(app.add_subcommand("history", "list the recipient history"), [&](Store& s) {
    ShowRecords<SmsRecieverHistory>(
        s, kReceiverHistory, GetZuSmsReceiverHistoryCount, GetAllZuSmsReceiverHistory, o.json,
        {"ID", "NUMBER", "NAME", "LAST"},
        [](const SmsRecieverHistory& r) -> std::vector<std::string> {
          return {std::to_string(r.id), Utf8(r.tel), Utf8(r.name), Utf8(r.lastdate)};
        });
  });
  struct {
    std::string number, name;
  } recipient;
  auto* history_cmd = app.add_subcommand("recipient", "add or delete a recipient history entry");
  history_cmd->require_subcommand(1);
  auto* history_add = history_cmd->add_subcommand("add", "add an entry");
  history_add->add_option("--number", recipient.number)->required();
  history_add->add_option("--name", recipient.name);
  on(history_add, [&](Store& s) {
    SmsRecieverHistory r{};
    if (!SetText(r.tel, recipient.number) || !SetText(r.name, recipient.name)) {
      throw Failure("the number or the name is too long");
    }
    SetText(r.lastdate, TimeText(std::time(nullptr)).substr(0, 8));
    uint32_t new_id = 0;
    Check(AddZuSmsReceiverHistory(*s, &r, &new_id), "adding the entry");
    std::cout << fmt::format("added entry {}\n", new_id);
  });
  AddDeleteCommand(history_cmd, "entry", id, DeleteZuSmsReceiverHistory, on);

  // Synchronisation, backups, statistics.
  AddChangesCommand(app, o.json, on);
  bool with_uuid = false;
  auto* sync = app.add_subcommand("sync-list", "ids with modification times and UUIDs");
  sync->add_flag("--uuid-only", with_uuid, "leave the modification times out");
  on(sync, [&](Store& s) {
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
      const stDateTime& t = times[i].modifyTime;
      const std::string when = fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", t.year, t.month,
                                           t.day, t.hour, t.minute, t.second);
      Json j{{"id", times[i].id}, {"uuid", uuid_of[times[i].id]}};
      if (!with_uuid) j["modifyTime"] = when;
      out.push_back(j);
      rows.push_back({std::to_string(times[i].id), with_uuid ? "" : when, uuid_of[times[i].id]});
    }
    if (o.json) return PrintJson(out);
    PrintTable({"ID", "MODIFIED", "UUID"}, rows);
  });

  std::string format = "json", path = "-";
  auto* export_cmd =
      app.add_subcommand("export", "write the user's store as JSON, or messages as XML");
  export_cmd->add_option("--format", format, "json (everything) or xml (messages)")
      ->check(CLI::IsMember({"json", "xml"}));
  export_cmd->add_option("--output,-o", path, "file (default: standard output)");
  on(export_cmd, [&](Store& s) {
    std::ofstream file;
    if (path != "-") {
      file.open(path, std::ios::binary);
      if (!file) throw Failure("cannot write " + path);
    }
    std::ostream& out = path == "-" ? std::cout : file;
    if (format == "xml") {
      ExportXml(s, out);
    } else {
      ExportJson(s, out);
    }
    if (!out) throw Failure("writing the export failed");
  });

  std::string input;
  auto* import_cmd = app.add_subcommand("import", "read a JSON export or an SMS backup XML file");
  import_cmd->add_option("FILE", input, "the file, or - for standard input")->required();
  on(import_cmd, [&](Store& s) {
    const std::string content = ReadInput(input);
    const ImportReport r =
        LooksLikeXml(input, content) ? ImportXml(s, content) : ImportJson(s, content);
    if (o.json) {
      PrintJson({{"added", r.added}, {"updated", r.updated}, {"skipped", r.skipped}});
    } else {
      std::cout << fmt::format("imported: {} added, {} updated, {} already there\n", r.added,
                               r.updated, r.skipped);
    }
  });

  on(app.add_subcommand("stats", "counts per kind and per folder, and the file's size"),
     [&](Store& s) {
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
       const char* file = std::getenv("ZUSMS_DB");
       std::string db = o.db.empty() && file ? file : o.db;
       std::error_code ec;
       const auto size = db.empty() ? 0 : std::filesystem::file_size(db, ec);
       Json folders = Json::object();
       for (const SmsFolder& f : s.Folders()) folders[Utf8(f.fname)] = s.CountInFolder(f.FdId);
       if (o.json) {
         return PrintJson({{"user", o.user},
                           {"kinds", kinds},
                           {"folders", folders},
                           {"databaseBytes", ec ? 0 : size}});
       }
       std::vector<std::vector<std::string>> rows;
       for (const auto& [k, v] : kinds.items()) rows.push_back({k, v.dump()});
       PrintTable({"KIND", "RECORDS"}, rows);
       rows.clear();
       for (const auto& [k, v] : folders.items()) rows.push_back({k, v.dump()});
       std::cout << "\n";
       PrintTable({"FOLDER", "MESSAGES"}, rows);
       if (!db.empty() && !ec) std::cout << fmt::format("\ndatabase: {} ({} bytes)\n", db, size);
     });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  try {
    Store store(o.db, o.user);
    for (auto& action : actions) action(store);
  } catch (const ResyncNeeded& e) {
    std::cerr << "zusms: " << e.what() << "\n";
    return 3;
  } catch (const Failure& e) {
    std::cerr << "zusms: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "zusms: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace zusms::cli

int main(int argc, char** argv) { return zusms::cli::Main(argc, argv); }
