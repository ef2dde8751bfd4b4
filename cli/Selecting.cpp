#include "Selecting.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>

#include "model/Folders.h"
#include "model/Multimedia.h"
#include "model/Region.h"

namespace zusms::cli {

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

std::string Messages(uint64_t n) { return Counted(n, "message"); }

namespace {

std::string Records(uint64_t n) { return Counted(n, "record"); }

}  // namespace

CLI::Validator NotEmpty() {
  return CLI::Validator(
      [](std::string& text) {
        return IsBlank(text) ? std::string("an empty value selects nothing: leave the option out")
                             : std::string();
      },
      "");
}

void SelectionOptions::Declare(CLI::App* cmd, bool ids_too, bool person_too) {
  if (ids_too) cmd->add_option("ID", ids, "the messages, by ID");
  auto* g = cmd->add_option_group("Selection", "which messages: all the options given must hold");
  if (person_too) {
    g->add_option("--number", number,
                  "with this telephone number, in any way of writing it (the store's region "
                  "reads one without a country code), or a group message it is a member of")
        ->check(NotEmpty());
    g->add_option("--contact", contact,
                  "with the person of this name, as messages and the recipient history name "
                  "them (letter case and accents do not matter; part of a name will do)")
        ->check(NotEmpty());
  }
  g->add_option("--folder", folder, kFolderHelp)->check(NotEmpty());
  g->add_option("--since", since,
                "from this time on: YYYY-MM-DD [HH:MM], ISO 8601, today, yesterday, or a time "
                "ago (7d, 2w, 3m, 1y)")
      ->check(TimeArgument());
  g->add_option("--until", until, "before this time (a date alone: through that day)")
      ->check(TimeArgument());
  g->add_option("--contains", contains,
                "holding this text, in any letter case; several words must all occur, a "
                "\"quoted phrase\" as a whole; may be given more than once")
      ->allow_extra_args(false);
  g->add_flag("--fold-accents", fold_accents, "--contains ignores accents too (e matches é)");
  g->add_flag("--anywhere", anywhere, "--contains looks in numbers and names too");
  g->add_flag("--unread", unread, "unread messages only");
  g->add_flag("--locked", locked, "locked messages only");
  g->add_flag("--long", long_only, "long messages (of several parts) only");
}

bool SelectionOptions::Given() const {
  return !ids.empty() || !number.empty() || !contact.empty() || !folder.empty() || !since.empty() ||
         !until.empty() || !contains.empty() || unread || locked || long_only;
}

Selection SelectionOptions::Resolve(Store& store, const Options& o) const {
  Selection s;
  s.ids = ids;
  if (!folder.empty()) s.folder = FindFolder(store, folder).FdId;
  if (!since.empty()) s.since = TimeOption(since, o.utc, false);
  if (!until.empty()) s.until = TimeOption(until, o.utc, true);
  if (!contains.empty()) s.text = TextQuery(contains, fold_accents);
  s.anywhere = anywhere;
  s.unread = unread;
  s.locked = locked;
  s.long_only = long_only;
  if (number.empty() && contact.empty()) return s;
  const PhoneNumbers numbers = NumbersOf(store, o.region);
  std::optional<std::vector<std::string>> forms;
  if (!number.empty()) {
    forms = WrittenForms(store, NumberMatch(numbers, number));
    // A group message is its members' as much as its head's number's.
    const std::string key = numbers.Key(number);
    for (const GroupMessage& g : GroupMessages(store, numbers)) {
      if (std::find(g.members.begin(), g.members.end(), key) != g.members.end())
        s.groups.push_back(g.id);
    }
    std::sort(s.groups.begin(), s.groups.end());
  }
  if (!contact.empty()) {
    const std::vector<Person> people = PeopleNamed(store, numbers, contact);
    if (people.empty()) {
      throw Failure(
          fmt::format("no messages with anyone called \"{}\" (zusms conversations "
                      "lists the names)",
                      OneLine(contact)));
    }
    std::vector<std::string> theirs;
    for (const Person& p : people) theirs.insert(theirs.end(), p.numbers.begin(), p.numbers.end());
    if (forms) {
      std::erase_if(*forms, [&](const std::string& f) {
        return std::find(theirs.begin(), theirs.end(), f) == theirs.end();
      });
      // The number's groups are theirs only when the number is one of theirs.
      const std::string key = numbers.Key(number);
      if (std::none_of(people.begin(), people.end(), [&](const Person& p) { return p.key == key; }))
        s.groups.clear();
    } else {
      forms = std::move(theirs);
    }
  }
  s.numbers = std::move(forms);
  return s;
}

void Limit::Declare(CLI::App* cmd, const std::string& what) {
  cmd->add_option("--limit", limit,
                  fmt::format("{} (default {}; 0 means all)", what, std::to_string(limit)));
  cmd->add_flag("--all", all, "every one (as --limit 0)");
}

void SayWhenCut(const SelectedPage& page, const std::string& shown) {
  if (!page.more) return;
  if (page.total) {
    std::cerr << fmt::format("{}{} of {}; --limit N or --all\n", shown, page.messages.size(),
                             *page.total);
  } else {
    std::cerr << fmt::format("{}{}, and there are more; --limit N or --all\n", shown,
                             page.messages.size());
  }
}

void Acting::Declare(CLI::App* cmd) {
  cmd->add_flag("--yes", yes, "do not ask, however many messages it changes");
  cmd->add_flag("--dry-run", dry_run, "only list the messages it would change");
}

Tally ChangeSelected(Store& store, const Options& o, const Selection& s, const Acting& a,
                     const std::string& verb, size_t ask_above, const Skipping& skip,
                     const std::function<Outcome(const Message&)>& change) {
  if (a.dry_run || !a.yes) {
    Tally would;
    ForEachSelected(store, s, [&](Message&& m) {
      if (skip.skips && skip.skips(m)) {
        ++would.skipped;
        return;
      }
      ++would.changed;
      would.records += m.parts.size();
    });
    std::string summary = fmt::format("{} ({})", Messages(would.changed), Records(would.records));
    if (would.skipped > 0) {
      summary += fmt::format("; {} skipped ({})", Messages(would.skipped), skip.why);
    }
    if (a.dry_run) {  // the newest of them, and how many
      constexpr uint32_t kShown = 20;
      std::vector<Message> listed = SelectPage(store, s, false, kShown, true).messages;
      if (skip.skips) std::erase_if(listed, skip.skips);
      ShowMessages(store, listed, o);
      if (!o.json) {
        std::cout << fmt::format(
            "would {} {}{}\n", verb, summary,
            would.changed + would.skipped > kShown ? "; the newest above" : "");
      }
      return {};
    }
    if (would.changed > ask_above) ConfirmOrFail(summary, a.yes, verb);
  }
  // Again under the write lock: what changed while the question waited
  // counts as it is now.
  Tally t;
  Batch batch(store);
  ForEachSelected(store, s, [&](Message&& m) {
    switch (skip.skips && skip.skips(m) ? Outcome::kSkipped : change(m)) {
      case Outcome::kChanged:
        ++t.changed;
        t.records += m.parts.size();
        break;
      case Outcome::kAlready:
        ++t.already;
        break;
      case Outcome::kSkipped:
        ++t.skipped;
        break;
    }
  });
  batch.Commit();
  return t;
}

void PrintTally(const Tally& t, const std::string& done, const std::string& already_word,
                const Skipping& skip) {
  std::cout << fmt::format(fmt::runtime(done), Messages(t.changed));
  if (t.already > 0) std::cout << fmt::format(" ({} already {})", t.already, already_word);
  if (t.skipped > 0) std::cout << fmt::format("; {} skipped ({})", Messages(t.skipped), skip.why);
  std::cout << "\n";
}

}  // namespace zusms::cli
