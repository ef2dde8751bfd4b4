// folders, folder add, folder rename, folder delete.
#include <fmt/format.h>

#include <iostream>
#include <optional>

#include "Command.h"
#include "model/Folders.h"
#include "model/ReadState.h"

namespace zusms::cli {

namespace {

// Names the folder, unless another folder of the user has that stored name
// already (compared exactly: "Work" and "work" are two names).
void SetName(Store& s, SmsFolder& f, const std::string& name) {
  SetTextOrFail(f.fname, NotBlank(name, "a folder needs a name"), "name");
  for (const SmsFolder& other : s.Folders()) {
    if (other.id != f.id && Utf8(other.fname) == Utf8(f.fname)) {
      throw Failure(fmt::format("folder {} is named \"{}\" already", other.FdId, name));
    }
  }
  if (const char* why = WhyNotAFolderName(name)) {
    throw Failure(fmt::format("\"{}\" {}: choose another name", name, why));
  }
}

}  // namespace

void ShowFolders(Store& store, const Options& o) {
  const auto folders = store.Folders();
  const UnreadCounts unread = CountUnread(store);
  if (o.json) {
    Json out = Json::array();
    for (const SmsFolder& f : folders) {
      Json j = ToJson(kFolders, &f);
      j["id"] = f.id;
      j["role"] = RoleName(f);
      j["messages"] = CountMessagesInFolder(store, f.FdId);
      j["unread"] = unread.In(f.FdId);
      out.push_back(std::move(j));
    }
    PrintJson(out);
    return;
  }
  std::vector<std::vector<std::string>> rows;
  for (const SmsFolder& f : folders) {
    rows.push_back({std::to_string(f.FdId), OneLine(Utf8(f.fname)), RoleName(f),
                    Word(f.system ? "default" : "user"),
                    std::to_string(CountMessagesInFolder(store, f.FdId)),
                    std::to_string(unread.In(f.FdId))});
  }
  PrintTable({"NUMBER", "NAME", "ROLE", "KIND", "MESSAGES", "UNREAD"}, rows);
}

struct FolderDeletion {
  std::string folder, move_to;
  bool with_messages = false, yes = false, include_locked = false;
};

// What a folder holds: its messages and the filter rules that file into it.
struct Held {
  std::vector<Message> messages;
  std::vector<SmsFilter> rules;

  Held(Store& s, int32_t number) {
    ListOptions which;
    which.folder = number;
    which.limit = UINT32_MAX / 4;
    messages = ListMessages(s, which);
    rules = ReadAll<SmsFilter>(s, GetZuSmsFilterCount, GetAllZuSmsFilter, "filters");
    std::erase_if(rules, [number](const SmsFilter& r) { return r.folderid != number; });
  }
  bool empty() const { return messages.empty() && rules.empty(); }
  std::string Text() const {
    return Counted(messages.size(), "message") + " and " + Counted(rules.size(), "filter rule");
  }
};

// Deletes a folder of the user's own. Its messages and filter rules are
// never left behind pointing to a folder that is gone: a folder that holds
// any is refused unless they move to another folder (--move-to) or go with
// it (--with-messages --yes), in the batch that deletes the folder.
void DeleteFolder(Store& s, const FolderDeletion& d) {
  if (!d.move_to.empty() && d.with_messages) {
    throw CLI::ValidationError("folder delete: --move-to or --with-messages, not both");
  }
  const SmsFolder f = FindFolder(s, d.folder);
  if (f.system) throw Failure("default folders cannot be deleted");
  const std::string name = fmt::format("folder {} (\"{}\")", f.FdId, OneLine(Utf8(f.fname)));
  std::optional<SmsFolder> to;
  if (!d.move_to.empty()) {
    to = FindFolder(s, d.move_to);
    if (to->FdId == f.FdId) throw Failure("--move-to names the folder being deleted");
  }
  const auto refuse_or_ask = [&](const Held& held, bool ask) {
    if (to || held.empty()) return;
    if (!d.with_messages) {
      throw Failure(fmt::format(
          "{} holds {}: nothing deleted (--move-to FOLDER moves them, --with-messages --yes "
          "deletes them with it)",
          name, held.Text()));
    }
    std::vector<Message> messages = held.messages;
    const size_t locked = SkipLocked(messages, d.include_locked);
    if (locked > 0) {
      throw Failure(
          fmt::format("{} holds {}: nothing deleted (unlock them first, or --include-locked)", name,
                      Counted(locked, "locked message")));
    }
    if (ask) ConfirmOrFail(name + " with its " + held.Text(), d.yes);
  };
  refuse_or_ask(Held(s, f.FdId), true);  // asks before the batch takes the write lock
  Batch batch(s);
  Held held(s, f.FdId);  // again, under the write lock
  refuse_or_ask(held, false);
  std::string done = "deleted " + name;
  if (to) {
    for (Message& m : held.messages) {
      for (SmsHead& p : m.parts) {
        p.oldfid = p.fid;
        p.fid = to->FdId;
        Check(UpdateZuSmsHead(*s, &p), "moving a message");
      }
    }
    for (SmsFilter& r : held.rules) {
      r.folderid = to->FdId;
      Check(UpdateZuSmsFilter(*s, &r), "moving a filter rule");
    }
    if (!held.empty()) done += fmt::format("; moved its {} to folder {}", held.Text(), to->FdId);
  } else if (!held.empty()) {
    DeleteMessages(s, held.messages);
    for (const SmsFilter& r : held.rules) {
      Check(DeleteZuSmsFilter(*s, static_cast<uint32_t>(r.id)), "deleting a filter rule");
    }
    done += " with its " + held.Text();
  }
  Check(DeleteZuSmsFolder(*s, static_cast<uint32_t>(f.id)), "deleting the folder");
  batch.Commit();
  std::cout << done << "\n";
}

void AddFolderCommands(Commands& c) {
  c.On(c.app().add_subcommand("folders", "list the folders with their message counts"),
       [&c](Store& s) { ShowFolders(s, c.options()); });
  auto name = std::make_shared<std::string>();
  auto* folder = c.app().add_subcommand("folder", "add, rename or delete a folder");
  folder->require_subcommand(1);
  auto* add = folder->add_subcommand("add", "add a folder; prints its number");
  add->add_option("NAME", *name)->required();
  c.On(add, [&c, name](Store& s) {
    SmsFolder f{};
    SetName(s, f, *name);
    uint32_t id = 0;
    Check(AddZuSmsFolder(*s, &f, &id), "adding the folder");
    if (c.options().json) {
      std::cout << Json({{"number", f.FdId}, {"id", id}}).dump() << "\n";
    } else {
      std::cout << fmt::format("added folder {}\n", f.FdId);
    }
  });

  auto which = std::make_shared<std::string>();
  auto* rename = folder->add_subcommand("rename", "rename a folder");
  rename->add_option("FOLDER", *which, kFolderHelp)->required();
  rename->add_option("NAME", *name)->required();
  c.On(rename, [which, name](Store& s) {
    SmsFolder f = FindFolder(s, *which);
    // Other programs find the default folders by their stored names.
    NotBlank(*name, "a folder needs a name");
    if (f.system) throw Failure("default folders cannot be renamed");
    SetName(s, f, *name);
    Check(UpdateZuSmsFolder(*s, &f), "renaming the folder");
    std::cout << fmt::format("renamed folder {}\n", f.FdId);
  });

  auto del = std::make_shared<FolderDeletion>();
  auto* remove = folder->add_subcommand(
      "delete",
      "delete a folder of your own (one that holds messages or filter rules: with "
      "--move-to FOLDER or --with-messages --yes)");
  remove->add_option("FOLDER", del->folder, kFolderHelp)->required();
  remove->add_option("--move-to", del->move_to, "move its messages and filter rules there");
  remove->add_flag("--with-messages", del->with_messages,
                   "delete its messages and filter rules with it");
  remove->add_flag("--yes", del->yes, "do not ask");
  remove->add_flag("--include-locked", del->include_locked, "delete locked messages too");
  c.On(remove, [del](Store& s) { DeleteFolder(s, *del); });
}

}  // namespace zusms::cli
