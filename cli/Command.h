// How the tool's units declare their commands: each noun adds its
// subcommands to the command line, and the chosen one runs on the store.
#ifndef ZUSMS_CLI_COMMAND_H_
#define ZUSMS_CLI_COMMAND_H_

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/Messages.h"
#include "model/Multimedia.h"
#include "model/Records.h"
#include "model/Search.h"
#include "model/Selection.h"
#include "model/Store.h"
#include "text/Print.h"

namespace zusms::cli {

// The options every command sees.
struct Options {
  std::string db;
  uint32_t user = 1;
  bool json = false;
  bool utc = false;         // times in UTC instead of local time
  std::string region;       // the country of numbers written without one
  bool demo_store = false;  // db is the demo's own file, not one the user gave
};

using Action = std::function<void(Store&)>;

// The help of every option that names a folder (model/Folders.h, FindFolder).
inline constexpr const char* kFolderHelp =
    "folder: its number, its name or its role (inbox, sent, drafts, ...), in any case";

class Commands {
 public:
  Commands(CLI::App& app, const Options& options) : app_(app), options_(options) {}
  CLI::App& app() { return app_; }
  const Options& options() const { return options_; }
  // Runs `action` on the opened store when `cmd` is chosen.
  void On(CLI::App* cmd, Action action) {
    cmd->callback([this, action] { chosen_.push_back(action); });
  }
  const std::vector<Action>& chosen() const { return chosen_; }

 private:
  CLI::App& app_;
  const Options& options_;
  std::vector<Action> chosen_;
};

// "NOUN add": `fill` makes the record from the command's options (declared
// by the caller on the returned command) and throws a Failure for a value
// that does not fit; the record goes in through `add`, and its id is printed.
template <typename Record>
CLI::App* AddAddCommand(Commands& c, CLI::App* parent, const std::string& noun,
                        int32_t (*add)(SmsDatabase*, Record*, uint32_t*),
                        std::function<void(Store&, Record&)> fill);
// "NOUN delete ID": removes one record through `remove` after `exists` found
// it; an id the user does not have is a Failure.
void AddDeleteCommand(Commands& c, CLI::App* parent, const std::string& noun,
                      int32_t (*remove)(SmsDatabase*, uint32_t),
                      std::function<bool(Store&, uint32_t)> exists);
// A listing command of one simple kind of record, as a table or JSON.
template <typename Record>
void AddListCommand(Commands& c, const std::string& name, const std::string& help, const Kind& kind,
                    int32_t (*count)(SmsDatabase*, uint32_t*),
                    int32_t (*all)(SmsDatabase*, Record*, uint32_t, uint32_t*),
                    std::vector<std::string> header,
                    std::vector<std::string> (*row)(const Record&, const Options&));
// Whether the user has the record `id`, through its Get function (which
// leaves the record untouched when there is none).
template <typename Record>
std::function<bool(Store&, uint32_t)> Exists(int32_t (*get)(SmsDatabase*, uint32_t, Record*)) {
  return [get](Store& s, uint32_t id) {
    Record r{};
    return get(*s, id, &r) == 0 && r.id != 0 && static_cast<uint32_t>(r.id) == id;
  };
}
// Checks a time option when the command line is read (YYYY-MM-DD, ...): a
// time that is no time, or no day of the calendar, is a usage error.
CLI::Validator TimeArgument();
// Checks a telephone number option: a control character (an escape
// sequence, a line break), a line separator or a bidirectional override is
// a usage error.
CLI::Validator NumberArgument();
// Checks a region option: a two-letter country code libphonenumber knows,
// in either case.
CLI::Validator RegionArgument();
// Goes on with a change (`verb`) that `summary` describes when --yes was
// given (`yes`) or the user agrees on a terminal; a Failure otherwise.
void ConfirmOrFail(const std::string& summary, bool yes, const std::string& verb = "delete");
// Prints what an add command added: "added NOUN ID", or {"id": ID} as JSON.
void PrintAdded(const Options& o, const std::string& noun, uint32_t id);

// Views that more than one unit shows.
void ShowFolders(Store& store, const Options& o);
// `highlight`: the terms to set off on a terminal.
void ShowMessages(Store& store, const std::vector<Message>& messages, const Options& o,
                  const TextQuery* highlight = nullptr);
// One message (commands/MessageView.cpp). As JSON: every field of its first
// head, with the whole text as "content", the time in ISO 8601, how many
// parts it has, whether they are all there and whether it was read.
Json MessageJson(const Message& m, bool utc, bool unread);
// For people: the number, the contact (the message's name, else the one the
// recipient history gives the number), folder, local times, read and lock
// state, the part count, then the whole text with its lines.
void PrintMessage(Store& store, const Message& m, const Options& o, bool unread);
// What a message shows as its text: a multimedia message's subject (when it
// has no text) or text parts, with one line per attachment; a text
// message's own text and no attachment.
struct ShownText {
  std::string text;
  std::vector<std::string> attachments;  // AttachmentLine
  std::optional<Multimedia> multimedia;
};
ShownText TextShown(Store& store, const Message& m);
// Adds what a multimedia message has beyond its head to its JSON:
// "multimedia", with its subject, attachments and addresses.
void AddMultimediaJson(const ShownText& shown, Json& j);
// MessageJson with what a multimedia message has beyond its head, its text
// as "content".
Json ShownMessageJson(Store& store, const Message& m, bool utc, bool unread);
// The fields of MessageJson one a line, the time as people read it.
void PrintMessageFields(const Message& m, const Options& o, bool unread);

// The selected messages as CSV (`format` "csv"; `excel`: with the byte
// order mark, CRLF, and formulas shown as text) or as text for a letter
// ("txt"), oldest first; returns how many (commands/ReadableExport.cpp).
size_t ExportReadable(Store& store, const Options& o, const Selection& which,
                      const std::string& format, bool excel, std::ostream& out);
// The selected messages as web pages in the folder `dir`, which must not
// exist or be empty: index.html, a page chain per conversation, the
// stylesheet and the index's script (commands/HtmlExport.cpp).
struct HtmlReport {
  size_t messages = 0, conversations = 0, pages = 0;  // pages: every file
  uint64_t bytes = 0, largest = 0;                    // of all files; of the largest one
};
HtmlReport ExportHtml(Store& store, const Options& o, const Selection& which,
                      const std::string& dir);

// The units, one per noun.
void AddMessageCommands(Commands& c);
void AddFolderCommands(Commands& c);
void AddFilterCommands(Commands& c);
void AddPhraseCommands(Commands& c);
void AddRecipientCommands(Commands& c);
void AddBackupCommands(Commands& c);
void AddStoreCommands(Commands& c);   // demo, stats, sync-list
void AddChangeCommands(Commands& c);  // changes
void AddConversationCommands(Commands& c);
void AddConfigCommands(Commands& c);      // config: the settings kept with the store
void AddAttachmentCommands(Commands& c);  // attachments save

// A token that `changes` cannot serve: the partner must fall back to a full
// listing once; the tool exits with status 3.
struct ResyncNeeded : Failure {
  using Failure::Failure;
};

template <typename Record>
CLI::App* AddAddCommand(Commands& c, CLI::App* parent, const std::string& noun,
                        int32_t (*add)(SmsDatabase*, Record*, uint32_t*),
                        std::function<void(Store&, Record&)> fill) {
  auto* cmd = parent->add_subcommand("add", "add a " + noun);
  c.On(cmd, [&c, noun, add, fill](Store& s) {
    Record r{};
    fill(s, r);
    uint32_t id = 0;
    Check(add(*s, &r, &id), "adding the " + noun);
    PrintAdded(c.options(), noun, id);
  });
  return cmd;
}

template <typename Record>
void AddListCommand(Commands& c, const std::string& name, const std::string& help, const Kind& kind,
                    int32_t (*count)(SmsDatabase*, uint32_t*),
                    int32_t (*all)(SmsDatabase*, Record*, uint32_t, uint32_t*),
                    std::vector<std::string> header,
                    std::vector<std::string> (*row)(const Record&, const Options&)) {
  c.On(c.app().add_subcommand(name, help), [&c, &kind, count, all, header, row](Store& s) {
    const auto records = ReadAll<Record>(s, count, all, kind.key);
    if (c.options().json) {
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
    for (const Record& r : records) rows.push_back(row(r, c.options()));
    PrintTable(header, rows);
  });
}

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_COMMAND_H_
