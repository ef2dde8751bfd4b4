// The selection options: every command that lists, shows or changes
// messages takes the same ones, in the same words, and they all must hold.
#ifndef ZUSMS_CLI_SELECTING_H_
#define ZUSMS_CLI_SELECTING_H_

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "Command.h"
#include "model/Selection.h"

namespace zusms::cli {

struct SelectionOptions {
  std::vector<uint32_t> ids;
  std::string number, contact, folder, since, until;
  std::vector<std::string> contains;
  bool fold_accents = false, anywhere = false, unread = false, locked = false, long_only = false;

  // Declares the options on `cmd` (with the message IDs as arguments when
  // `ids_too`; without --number and --contact unless `person_too`).
  void Declare(CLI::App* cmd, bool ids_too, bool person_too = true);
  // Whether any option or ID names messages.
  bool Given() const;
  // The selection the options describe; a name that stands for nobody, or
  // a folder that is none, is a Failure.
  Selection Resolve(Store& store, const Options& o) const;
};

// How many a listing shows: --limit N (0: all) and --all.
struct Limit {
  uint32_t limit;
  bool all = false;
  explicit Limit(uint32_t default_limit) : limit(default_limit) {}
  void Declare(CLI::App* cmd, const std::string& what = "at most this many");
  uint32_t Value() const { return all ? 0 : limit; }
};
// Says on standard error, when the limit cut a page, how many there are in
// all ("20 of 578; --limit N or --all"); `shown` names what was shown.
void SayWhenCut(const SelectedPage& page, const std::string& shown = "");

// A command that changes messages: --yes and --dry-run.
struct Acting {
  bool yes = false, dry_run = false;
  void Declare(CLI::App* cmd);
};

// What changing one message came to.
enum class Outcome { kChanged, kAlready, kSkipped };
struct Tally {
  size_t changed = 0, already = 0, skipped = 0, records = 0;
};
// Messages a change leaves alone, and why ("locked; ..."); `skips` may be
// empty.
struct Skipping {
  std::function<bool(const Message&)> skips;
  std::string why;
};
// Changes the selected messages with `change`, all in one transaction.
// First counts them: with --dry-run lists them and stops; asks, unless
// --yes, when more than `ask_above` would change (`verb`: "move",
// "delete", ...). `change` gets each message whole, but those `skip` skips.
Tally ChangeSelected(Store& store, const Options& o, const Selection& s, const Acting& a,
                     const std::string& verb, size_t ask_above, const Skipping& skip,
                     const std::function<Outcome(const Message&)>& change);

// The usual line after a change: `done` with {} for the count ("moved {}
// to folder 9"), and what was left as it was.
void PrintTally(const Tally& t, const std::string& done, const std::string& already_word,
                const Skipping& skip = {});
// A time option as a record's time text (a time the local clocks skip is a
// usage error).
std::string TimeOption(const std::string& text, bool utc, bool end_of_day);

// "1 message", "2 messages".
std::string Messages(uint64_t n);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_SELECTING_H_
