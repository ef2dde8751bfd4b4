// list, show, add, move, delete, lock, unlock, read, unread: messages, each
// with all its parts.
#include <fmt/format.h>

#include <cstring>
#include <ctime>
#include <iostream>
#include <set>

#include "Command.h"
#include "model/Folders.h"
#include "model/Messages.h"
#include "model/ReadState.h"
#include "model/Region.h"
#include "text/Print.h"

namespace zusms::cli {

// An unread message's text starts with this mark.
constexpr const char* kUnreadMark = "\u25CF ";

void ShowMessages(Store& store, const std::vector<Message>& messages, const Options& o) {
  const UnreadHeads unread(store);
  if (o.json) {
    Json out = Json::array();
    for (const Message& m : messages) out.push_back(MessageJson(m, o.utc, unread.Unread(m)));
    PrintJson(out);
    return;
  }
  const auto folders = FolderNames(store);
  std::vector<std::vector<std::string>> rows;
  for (const Message& m : messages) {
    const SmsHead& h = m.head();
    const auto f = folders.find(h.fid);
    const std::u16string text = m.Text();
    std::string shown = Clip(OneLine(Utf8(text.c_str(), text.size())), 48);
    if (!m.complete) shown = "[incomplete] " + shown;
    if (unread.Unread(m)) shown = kUnreadMark + shown;
    rows.push_back({std::to_string(m.id()), f == folders.end() ? std::to_string(h.fid) : f->second,
                    ReadableTime(Utf8(h.recvtime), o.utc), Utf8(h.tel),
                    Clip(OneLine(Utf8(h.name)), 16), (h.lockflag ? "\U0001F512" : "") + shown});
  }
  PrintTable({"ID", "FOLDER", o.utc ? "TIME (UTC)" : "TIME", "NUMBER", "NAME", "TEXT"}, rows);
}

namespace {

// A time option as a record's time text. It is read here, not when the
// command line is, because local time needs --utc, which may come later; a
// local time the clocks skip is a usage error all the same.
std::string TimeOption(const std::string& text, bool utc, bool end_of_day) {
  try {
    return TimeText(ParseUserTime(text, utc, end_of_day));
  } catch (const Failure& e) {
    throw CLI::ValidationError(e.what());
  }
}

// The text of `add` from standard input: read no further than the longest
// text a message can hold (three bytes of UTF-8 to a UTF-16 unit, and room
// for the line breaks that end it), so that endless input ends in an error.
std::string ReadStdin() {
  constexpr size_t kMostBytes = kMostParts * kPartLength * 3 + 4096;
  std::string text;
  char chunk[1 << 16];
  while (text.size() <= kMostBytes && std::cin.read(chunk, sizeof chunk).gcount() > 0) {
    text.append(chunk, static_cast<size_t>(std::cin.gcount()));
  }
  if (text.size() > kMostBytes) {
    throw Failure(fmt::format(
        "the text on standard input goes on past {} bytes, more than a message can hold ({} parts "
        "of {} characters)",
        kMostBytes, kMostParts, kPartLength));
  }
  return text;
}

// Changes every part of message `id` with `change`, in one batch.
void ChangeMessage(Store& s, uint32_t id, const std::function<void(SmsHead&)>& change,
                   const char* what) {
  Message m = GetMessage(s, id);
  Batch batch(s);
  for (SmsHead& p : m.parts) {
    change(p);
    Check(UpdateZuSmsHead(*s, &p), what);
  }
  batch.Commit();
}

void ListCommand(Commands& c) {
  const Options& o = c.options();
  auto list = std::make_shared<ListOptions>();
  auto since = std::make_shared<std::string>(), until = std::make_shared<std::string>();
  auto folder = std::make_shared<std::string>(), number = std::make_shared<std::string>();
  auto* list_cmd = c.app().add_subcommand("list", "list messages, newest first");
  list_cmd->add_option("--folder", *folder, kFolderHelp);
  list_cmd->add_option("--number", *number,
                       "telephone number, in any way of writing it (the store's region reads "
                       "one without a country code)");
  list_cmd->add_option("--contains", list->contains, "text the message contains");
  list_cmd->add_option("--since", *since, "from this time on (YYYY-MM-DD [HH:MM], or ISO 8601)")
      ->check(TimeArgument());
  list_cmd->add_option("--until", *until, "before this time (a date alone: through that day)")
      ->check(TimeArgument());
  list_cmd->add_flag("--oldest", list->oldest, "oldest first");
  list_cmd->add_option("--limit", list->limit, "at most this many (default 20)");
  c.On(list_cmd, [&o, list, since, until, folder, number](Store& s) {
    if (!folder->empty()) list->folder = FindFolder(s, *folder).FdId;
    if (!number->empty()) {
      list->numbers = WrittenForms(s, NumberMatch(NumbersOf(s, o.region), *number));
    }
    if (!since->empty()) list->since = TimeOption(*since, o.utc, false);
    if (!until->empty()) list->until = TimeOption(*until, o.utc, true);
    ShowMessages(s, ListMessages(s, *list), o);
  });
}

void ShowCommand(Commands& c) {
  const Options& o = c.options();
  auto id = std::make_shared<uint32_t>(0);
  auto raw = std::make_shared<bool>(false);
  auto* show = c.app().add_subcommand("show", "show one message whole");
  show->add_option("ID", *id)->required();
  show->add_flag("--raw", *raw, "the fields of its record, as stored");
  c.On(show, [&o, id, raw](Store& s) {
    const Message m = GetMessage(s, *id);
    const bool unread = UnreadHeads(s).Unread(m);
    if (o.json) return PrintJson(MessageJson(m, o.utc, unread));
    if (*raw) return PrintMessageFields(m, o, unread);
    PrintMessage(s, m, o, unread);
  });
}

struct AddOptions {
  std::string number;
  std::optional<std::string> name;  // none: no name
  std::optional<std::string> text;  // none: from standard input
  std::string folder = "1";
};

// The head of a message the user writes, without its text.
SmsHead NewHead(const AddOptions& add, int32_t folder) {
  SmsHead h;
  std::memset(&h, 0, sizeof h);
  SetTextOrFail(h.tel, NotBlank(add.number, "a message needs a number"), "number");
  if (add.name) {
    SetTextOrFail(h.name, NotBlank(*add.name, "a name cannot be blank (leave --name out)"), "name");
  }
  const std::string now = TimeText(std::time(nullptr));
  SetText(h.recvtime, now);
  SetText(h.createtime, now);
  h.fid = folder;
  return h;
}

void AddCommand(Commands& c) {
  const Options& o = c.options();
  auto add = std::make_shared<AddOptions>();
  auto* add_cmd =
      c.app().add_subcommand("add", "add a message (its text from --text or standard input)");
  add_cmd->add_option("--number", add->number, "telephone number")
      ->check(NumberArgument())
      ->required();
  add_cmd->add_option("--name", add->name, "contact name");
  add_cmd->add_option("--folder", add->folder, std::string(kFolderHelp) + " (default: the inbox)");
  add_cmd->add_option("--text", add->text, "the text");
  c.On(add_cmd, [&o, add](Store& s) {
    const int32_t folder = FindFolder(s, add->folder).FdId;
    std::string text = add->text ? *add->text : ReadStdin();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    NotBlank(text, "a message needs some text");
    const SmsHead h = NewHead(*add, folder);
    Batch batch(s);
    std::vector<SmsHead> parts = SplitMessage(h, Utf16(text), nullptr, s.MaxBatid() + 1);
    uint32_t first = 0;
    for (SmsHead& p : parts) {
      uint32_t new_id = 0;
      Check(AddZuSmsHead(*s, &p, &new_id), "adding the message");
      if (first == 0) first = new_id;
    }
    batch.Commit();
    PrintAdded(o, "message", first);
  });
}

// move, lock, unlock: one message, all its parts.
void ChangeCommands(Commands& c) {
  auto id = std::make_shared<uint32_t>(0);
  auto folder = std::make_shared<std::string>();
  auto* move = c.app().add_subcommand("move", "move a message to another folder");
  move->add_option("ID", *id)->required();
  move->add_option("FOLDER", *folder, kFolderHelp)->required();
  c.On(move, [id, folder](Store& s) {
    const int32_t to = FindFolder(s, *folder).FdId;
    ChangeMessage(
        s, *id,
        [&](SmsHead& p) {
          p.oldfid = p.fid;
          p.fid = to;
        },
        "moving the message");
    std::cout << fmt::format("moved message {} to folder {}\n", *id, to);
  });
  for (const bool lock : {true, false}) {
    const std::string verb = lock ? "lock" : "unlock";
    auto* cmd = c.app().add_subcommand(verb, verb + " a message");
    cmd->add_option("ID", *id)->required();
    c.On(cmd, [id, lock, verb](Store& s) {
      ChangeMessage(
          s, *id, [&](SmsHead& p) { p.lockflag = lock ? 1 : 0; }, "changing the lock");
      std::cout << fmt::format("{}ed message {}\n", verb, *id);
    });
  }
}

// The messages a command acts on, as the user names them: by id.
struct Targets {
  std::vector<uint32_t> ids;

  void Declare(CLI::App* cmd) { cmd->add_option("ID", ids, "the messages")->required(); }
  // Each message named, with all its parts, once; a Failure for an id the
  // user does not have.
  std::vector<Message> Resolve(Store& s) const {
    std::vector<Message> messages;
    std::set<uint32_t> seen;
    for (const uint32_t id : ids) {
      Message m = GetMessage(s, id);
      if (seen.insert(m.id()).second) messages.push_back(std::move(m));
    }
    return messages;
  }
};

// read, unread: every part of each message, in one batch.
void ReadCommands(Commands& c) {
  for (const bool read : {true, false}) {
    const std::string verb = read ? "read" : "unread";
    auto targets = std::make_shared<Targets>();
    auto* cmd = c.app().add_subcommand(verb, "mark messages " + verb);
    targets->Declare(cmd);
    c.On(cmd, [targets, read, verb](Store& s) {
      Batch batch(s);
      const std::vector<Message> messages = targets->Resolve(s);
      size_t changed = 0;
      for (const Message& m : messages) changed += SetRead(s, m, read) ? 1 : 0;
      batch.Commit();
      std::cout << fmt::format("marked {} messages {}", changed, verb);
      if (changed < messages.size())
        std::cout << fmt::format(" ({} already {})", messages.size() - changed, verb);
      std::cout << "\n";
    });
  }
}

struct DeleteOptions {
  std::optional<uint32_t> id;
  std::string folder;
  std::string before;
  bool yes = false, dry_run = false, include_locked = false;
};

// The messages of a folder received before a time, after asking (unless
// --yes) or only counted (--dry-run); locked ones are skipped and counted.
void DeleteOlder(Store& s, const Options& o, const DeleteOptions& del) {
  ListOptions which;
  which.folder = FindFolder(s, del.folder).FdId;
  which.until = TimeOption(del.before, o.utc, false);
  which.oldest = true;
  which.limit = UINT32_MAX / 4;
  std::vector<Message> messages = ListMessages(s, which);
  const size_t locked = SkipLocked(messages, del.include_locked);
  size_t rows = 0;
  for (const Message& m : messages) rows += m.parts.size();
  std::string summary = fmt::format("{} messages ({} records) in folder {} before {}",
                                    messages.size(), rows, *which.folder, del.before);
  if (locked > 0) {
    summary +=
        fmt::format("; {} locked messages skipped (--include-locked deletes them too)", locked);
  }
  if (del.dry_run || messages.empty()) {
    std::cout << "would delete " << summary << "\n";
    return;
  }
  ConfirmOrFail(summary, del.yes);
  // Again under the write lock: a message locked while the question waited
  // is kept.
  Batch batch(s);
  messages = ListMessages(s, which);
  const size_t locked_now = SkipLocked(messages, del.include_locked);
  if (locked_now != locked) {
    rows = 0;
    for (const Message& m : messages) rows += m.parts.size();
    summary = fmt::format(
        "{} messages ({} records) in folder {} before {}; {} locked messages "
        "skipped (--include-locked deletes them too)",
        messages.size(), rows, *which.folder, del.before, locked_now);
  }
  DeleteMessages(s, messages);
  batch.Commit();
  std::cout << "deleted " << summary << "\n";
}

void DeleteCommand(Commands& c) {
  const Options& o = c.options();
  auto del = std::make_shared<DeleteOptions>();
  auto* del_cmd = c.app().add_subcommand("delete",
                                         "delete a message, or the messages of a folder "
                                         "before a time (--folder N --before DATE); locked "
                                         "messages are kept");
  del_cmd->add_option("ID", del->id, "the message");
  auto* by_folder = del_cmd->add_option("--folder", del->folder, kFolderHelp);
  del_cmd->add_option("--before", del->before, "messages received before this time")
      ->check(TimeArgument())
      ->needs(by_folder);
  del_cmd->add_flag("--yes", del->yes, "do not ask");
  del_cmd->add_flag("--dry-run", del->dry_run, "only count");
  del_cmd->add_flag("--include-locked", del->include_locked, "delete locked messages too");
  c.On(del_cmd, [&o, del](Store& s) {
    if (del->id && !del->folder.empty()) {
      throw CLI::ValidationError("delete: an ID or --folder, not both");
    }
    if (del->id) {
      Batch batch(s);  // the lock is read where the deletion is made
      const Message m = GetMessage(s, *del->id);
      if (IsLocked(m) && !del->include_locked) {
        throw Failure(fmt::format(
            "message {} is locked: nothing deleted (zusms unlock {} first, or --include-locked)",
            *del->id, *del->id));
      }
      if (del->dry_run) {
        std::cout << fmt::format("would delete message {} ({} records)\n", *del->id,
                                 m.parts.size());
        return;
      }
      DeleteMessages(s, {m});
      batch.Commit();
      std::cout << fmt::format("deleted message {}\n", *del->id);
      return;
    }
    if (del->folder.empty() || del->before.empty()) {
      throw CLI::ValidationError("delete: give an ID, or --folder N --before DATE");
    }
    DeleteOlder(s, o, *del);
  });
}

}  // namespace

void AddMessageCommands(Commands& c) {
  ListCommand(c);
  ShowCommand(c);
  AddCommand(c);
  ChangeCommands(c);
  ReadCommands(c);
  DeleteCommand(c);
}

}  // namespace zusms::cli
