// list, show, add, move, delete, lock, unlock, read, unread: messages, each
// with all its parts.
#include <fmt/format.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <iostream>
#include <set>
#include <utility>

#include "Command.h"
#include "Selecting.h"
#include "model/Folders.h"
#include "model/Messages.h"
#include "model/ReadState.h"
#include "model/Region.h"
#include "text/Print.h"

namespace zusms::cli {

// An unread message's text starts with this mark.
constexpr const char* kUnreadMark = "\u25CF ";

void ShowMessages(Store& store, const std::vector<Message>& messages, const Options& o,
                  const TextQuery* highlight) {
  const UnreadHeads unread(store);
  if (o.json) {
    Json out = Json::array();
    for (const Message& m : messages) {
      out.push_back(ShownMessageJson(store, m, o.utc, unread.Unread(m)));
    }
    PrintJson(out);
    return;
  }
  const auto folders = FolderNames(store);
  std::vector<std::vector<std::string>> rows;
  for (const Message& m : messages) {
    const SmsHead& h = m.head();
    const auto f = folders.find(h.fid);
    const ShownText text = TextShown(store, m);
    std::string shown = Clip(OneLine(text.text), 48);
    for (const std::string& a : text.attachments) shown += " " + OneLine(a);
    if (!m.complete) shown = "[incomplete] " + shown;
    if (unread.Unread(m)) shown = kUnreadMark + shown;
    rows.push_back({std::to_string(m.id()), f == folders.end() ? std::to_string(h.fid) : f->second,
                    ReadableTime(Utf8(h.recvtime), o.utc), CodeLine(Utf8(h.tel)),
                    Clip(OneLine(Utf8(h.name)), 16), (h.lockflag ? "\U0001F512" : "") + shown});
  }
  Decorate marks;  // the terms found, on a terminal
  if (highlight && !highlight->empty() && isatty(STDOUT_FILENO)) {
    marks = [highlight](size_t column, const std::string& text) {
      return column == 5 ? Highlighted(text, highlight->Find(text)) : text;
    };
  }
  PrintTable({"ID", "FOLDER", o.utc ? "TIME (UTC)" : "TIME", "NUMBER", "NAME", "TEXT"}, rows,
             marks);
}

namespace {

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
        "the text on standard input goes on past {}, more than a message can hold ({} of {})",
        Counted(kMostBytes, "byte"), Counted(kMostParts, "part"),
        Counted(kPartLength, "character")));
  }
  return text;
}

void ListCommand(Commands& c) {
  const Options& o = c.options();
  struct Listing {
    SelectionOptions which;
    bool oldest = false;
    Limit limit{20};
  };
  auto list = std::make_shared<Listing>();
  auto* cmd = c.app().add_subcommand("list", "list messages, newest first");
  list->which.Declare(cmd, false);
  cmd->add_flag("--oldest", list->oldest, "oldest first");
  list->limit.Declare(cmd);
  c.On(cmd, [&o, list](Store& s) {
    const Selection which = list->which.Resolve(s, o);
    const SelectedPage page = SelectPage(s, which, list->oldest, list->limit.Value());
    ShowMessages(s, page.messages, o, &which.text);
    if (!o.json) SayWhenCut(page);
  });
}

void ShowCommand(Commands& c) {
  const Options& o = c.options();
  struct Showing {
    SelectionOptions which;
    bool raw = false;
    Limit limit{20};
  };
  auto show = std::make_shared<Showing>();
  auto* cmd = c.app().add_subcommand("show", "show messages whole: by ID, or the newest selected");
  show->which.Declare(cmd, true);
  cmd->add_flag("--raw", show->raw, "the fields of its record, as stored");
  show->limit.Declare(cmd, "at most this many, the newest");
  c.On(cmd, [&o, show](Store& s) {
    SelectionOptions besides_ids = show->which;
    besides_ids.ids.clear();
    if (!show->which.Given()) throw CLI::ValidationError("show: give an ID, or selection options");
    const UnreadHeads unread(s);
    if (show->which.ids.size() == 1 && !besides_ids.Given()) {  // one message, as it always was
      const Message m = GetMessage(s, show->which.ids.front());
      if (o.json) return PrintJson(ShownMessageJson(s, m, o.utc, unread.Unread(m)));
      if (show->raw) return PrintMessageFields(m, o, unread.Unread(m));
      return PrintMessage(s, m, o, unread.Unread(m));
    }
    const SelectedPage page = SelectPage(s, show->which.Resolve(s, o), false, show->limit.Value());
    Json out = Json::array();
    for (const Message& m : page.messages) {
      if (o.json) {
        out.push_back(ShownMessageJson(s, m, o.utc, unread.Unread(m)));
      } else {
        if (&m != &page.messages.front()) std::cout << "\n";
        show->raw ? PrintMessageFields(m, o, unread.Unread(m))
                  : PrintMessage(s, m, o, unread.Unread(m));
      }
    }
    if (o.json) return PrintJson(out);
    SayWhenCut(page);
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
  // The message's direction goes with it, as a phone's backup gives it:
  // one added to the outbox (6), sent items (7) or drafts (8) stays the
  // user's own wherever it is moved later; one added to the inbox is
  // received.
  static constexpr std::pair<int32_t, int16_t> kTypeOfFolder[] = {{1, 1}, {6, 4}, {7, 2}, {8, 3}};
  for (const auto& [fid, type] : kTypeOfFolder) {
    if (fid == folder) h.type = type;
  }
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

// A command that changes the messages it names or selects.
struct Changing {
  SelectionOptions which;
  Acting acting;

  CLI::App* Declare(Commands& c, const std::string& name, const std::string& help) {
    auto* cmd = c.app().add_subcommand(name, help);
    which.Declare(cmd, true);
    acting.Declare(cmd);
    return cmd;
  }
  // The selection, which must name some messages.
  Selection Resolve(Store& s, const Options& o, const std::string& verb) const {
    if (!which.Given()) {
      throw CLI::ValidationError(verb + ": name the messages (IDs, or selection options)");
    }
    return which.Resolve(s, o);
  }
};

// Changes every part of `m` with `change`.
Outcome ChangeParts(Store& s, const Message& m, const std::function<bool(SmsHead&)>& change,
                    const char* what) {
  bool changed = false;
  for (SmsHead p : m.parts) {
    if (!change(p)) continue;
    Check(UpdateZuSmsHead(*s, &p), what);
    changed = true;
  }
  return changed ? Outcome::kChanged : Outcome::kAlready;
}

// Above this many messages, a change asks first (or wants --yes).
constexpr size_t kAskAbove = 10;

void MoveCommand(Commands& c) {
  const Options& o = c.options();
  auto move = std::make_shared<Changing>();
  auto to = std::make_shared<std::string>();
  auto* cmd = move->Declare(c, "move", "move messages to another folder (--to FOLDER)");
  cmd->add_option("--to", *to, kFolderHelp)
      ->required()
      ->check(CLI::Validator(
          [](std::string& t) {
            return IsBlank(t) ? std::string("a folder, please") : std::string();
          },
          ""));
  c.On(cmd, [&o, move, to](Store& s) {
    const SmsFolder folder = FindFolder(s, *to);
    const Tally t = ChangeSelected(s, o, move->Resolve(s, o, "move"), move->acting, "move",
                                   kAskAbove, {}, [&](const Message& m) {
                                     return ChangeParts(
                                         s, m,
                                         [&](SmsHead& p) {
                                           if (p.fid == folder.FdId) return false;
                                           p.oldfid = p.fid;
                                           p.fid = folder.FdId;
                                           return true;
                                         },
                                         "moving the message");
                                   });
    if (move->acting.dry_run) return;
    PrintTally(
        t, fmt::format("moved {{}} to folder {} ({})", folder.FdId, OneLine(Utf8(folder.fname))),
        "in it");
  });
}

void LockCommands(Commands& c) {
  const Options& o = c.options();
  for (const bool lock : {true, false}) {
    const std::string verb = lock ? "lock" : "unlock";
    auto change = std::make_shared<Changing>();
    auto* cmd = change->Declare(c, verb, verb + " messages");
    c.On(cmd, [&o, change, lock, verb](Store& s) {
      const Tally t = ChangeSelected(s, o, change->Resolve(s, o, verb), change->acting, verb,
                                     kAskAbove, {}, [&](const Message& m) {
                                       return ChangeParts(
                                           s, m,
                                           [&](SmsHead& p) {
                                             if ((p.lockflag != 0) == lock) return false;
                                             p.lockflag = lock ? 1 : 0;
                                             return true;
                                           },
                                           "changing the lock");
                                     });
      if (!change->acting.dry_run) PrintTally(t, verb + "ed {}", verb + "ed");
    });
  }
}

void ReadCommands(Commands& c) {
  const Options& o = c.options();
  for (const bool read : {true, false}) {
    const std::string verb = read ? "read" : "unread";
    auto change = std::make_shared<Changing>();
    auto* cmd = change->Declare(c, verb, "mark messages " + verb);
    c.On(cmd, [&o, change, read, verb](Store& s) {
      const Tally t =
          ChangeSelected(s, o, change->Resolve(s, o, verb), change->acting, "mark " + verb,
                         kAskAbove, {}, [&](const Message& m) {
                           return SetRead(s, m, read) ? Outcome::kChanged : Outcome::kAlready;
                         });
      if (!change->acting.dry_run) PrintTally(t, "marked {} " + verb, verb);
    });
  }
}

void DeleteCommand(Commands& c) {
  const Options& o = c.options();
  auto del = std::make_shared<Changing>();
  auto include_locked = std::make_shared<bool>(false);
  auto before = std::make_shared<std::string>();
  auto* cmd = del->Declare(c, "delete", "delete messages; locked ones are kept");
  cmd->add_flag("--include-locked", *include_locked, "delete locked messages too");
  cmd->add_option("--before", *before, "received before this time (a date: its midnight)")
      ->check(TimeArgument());
  c.On(cmd, [&o, del, include_locked, before](Store& s) {
    Selection which = del->Resolve(s, o, "delete");
    if (!before->empty()) {
      const std::string end = TimeOption(*before, o.utc, false);
      if (which.until.empty() || end < which.until) which.until = end;
    }
    Skipping locked;
    if (!*include_locked) locked = {IsLocked, "locked; --include-locked deletes them too"};
    // Deleting cannot be undone: anything beyond messages named by ID asks.
    SelectionOptions besides_ids = del->which;
    besides_ids.ids.clear();
    const size_t ask_above = besides_ids.Given() || !before->empty() ? 0 : 1;
    const Tally t = ChangeSelected(s, o, which, del->acting, "delete", ask_above, locked,
                                   [&](const Message& m) {
                                     DeleteMessages(s, {m});
                                     return Outcome::kChanged;
                                   });
    if (del->acting.dry_run) return;
    if (!which.ids.empty() && t.changed == 0 && t.skipped > 0) {
      // Named by ID and all locked: nothing happened, and that is a failure.
      throw Failure(fmt::format(
          "{} locked: nothing deleted (zusms unlock first, or --include-locked)",
          which.ids.size() == 1 ? "message " + std::to_string(which.ids[0]) + " is" : "they are"));
    }
    PrintTally(t, "deleted {}", "", locked);
  });
}

}  // namespace

void AddMessageCommands(Commands& c) {
  ListCommand(c);
  ShowCommand(c);
  AddCommand(c);
  MoveCommand(c);
  LockCommands(c);
  ReadCommands(c);
  DeleteCommand(c);
}

}  // namespace zusms::cli
