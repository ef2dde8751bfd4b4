// changes: what changed since a token, for scripts that synchronise.
#include <fmt/format.h>

#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Command.h"

namespace zusms::cli {
namespace {

using ListFn = int32_t (*)(SmsDatabase*, uint64_t, stSmsChange*, uint32_t, uint32_t*, uint64_t*);

// The changes of one family listed so far, and the token to go on from.
struct Listing {
  ListFn list;
  const char* what;
  uint64_t next;
  std::vector<stSmsChange> changes;
};

// Lists `family`'s changes after its token to the end of the log, page by
// page; its token becomes the counter as of the last page.
void ListToEnd(Store& store, Listing& family) {
  constexpr uint32_t kPage = 1000;
  std::vector<stSmsChange> page(kPage);
  for (;;) {
    uint32_t n = 0;
    const int32_t status = family.list(*store, family.next, page.data(), kPage, &n, &family.next);
    if (status == ZU_RESYNC) {
      char16_t why[512];
      GetZuSmsLastError(why, 512);
      throw ResyncNeeded(fmt::format("listing {}: {}", family.what, Utf8(why, 512)));
    }
    Check(status, std::string("listing ") + family.what);
    family.changes.insert(family.changes.end(), page.begin(), page.begin() + n);
    if (n < kPage) return;
  }
}

// A record listed again in a later round changed since: only its latest
// change is printed, in the place of that change.
void KeepLatest(std::vector<stSmsChange>& changes) {
  std::set<uint32_t> seen;
  std::vector<stSmsChange> kept;
  for (auto x = changes.rbegin(); x != changes.rend(); ++x) {
    if (seen.insert(x->id).second) kept.push_back(*x);
  }
  changes.assign(kept.rbegin(), kept.rend());
}

// Both families up to one and the same token. Each listing ends at the
// counter of its own read; while another process commits between the two,
// the family that is behind is listed on to the other's token, until both
// ended at the same counter. The printed token then covers exactly what was
// printed: the next run neither repeats nor skips a change.
uint64_t ListBoth(Store& store, Listing& heads, Listing& folders) {
  constexpr int kRounds = 200;
  ListToEnd(store, heads);
  for (int round = 0; round < kRounds; ++round) {
    ListToEnd(store, folders);
    if (folders.next == heads.next) break;
    ListToEnd(store, heads);
    if (heads.next == folders.next) break;
  }
  if (heads.next != folders.next) {
    throw Failure("the store changed all the time it was listed: try again");
  }
  KeepLatest(heads.changes);
  KeepLatest(folders.changes);
  return heads.next;
}

std::string When(const stDateTime& t) {
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", t.year, t.month, t.day, t.hour,
                     t.minute, t.second);
}

// A token as the tool prints it: decimal digits only, at most 2^64 - 1.
// JSON carries it as a string, since a 64-bit number loses its low digits
// in most JSON readers (jq, JavaScript).
std::string TokenError(const std::string& text) {
  const std::string bad = "a token is the decimal number a previous run printed";
  if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
    return bad;
  if (text.size() == 20 && text > "18446744073709551615") return bad;
  return "";
}

}  // namespace

void AddChangeCommands(Commands& c) {
  auto* cmd = c.app().add_subcommand(
      "changes", "messages and folders changed since a token, and the token to pass next time");
  auto text = std::make_shared<std::string>("0");
  cmd->add_option("--since", *text, "the token the last run printed (default: from the start)")
      ->check(CLI::Validator([](std::string& t) { return TokenError(t); }, "TOKEN"));
  c.On(cmd, [&c, text](Store& s) {
    const uint64_t since = std::stoull(*text);
    Listing heads{ListZuSmsHeadChanges, "message changes", since, {}};
    Listing folders{ListZuSmsFolderChanges, "folder changes", since, {}};
    const uint64_t next = ListBoth(s, heads, folders);
    auto change = [](const stSmsChange& x) { return x.kind == 2 ? "deleted" : "changed"; };
    if (c.options().json) {
      Json out{{"since", std::to_string(since)}, {"next", std::to_string(next)}};
      out["messages"] = Json::array();
      out["folders"] = Json::array();
      for (const stSmsChange& x : heads.changes) {
        Json j{{"id", x.id}, {"change", change(x)}, {"uuid", UuidText(x.uuid)}};
        if (x.kind == 1) j["modifyTime"] = When(x.modifyTime);
        out["messages"].push_back(j);
      }
      for (const stSmsChange& x : folders.changes) {
        out["folders"].push_back({{"id", x.id}, {"change", change(x)}});
      }
      PrintJson(out);
      return;
    }
    for (const stSmsChange& x : heads.changes) {
      std::cout << fmt::format("message {} {} {}{}\n", x.id, change(x), UuidText(x.uuid),
                               x.kind == 1 ? " " + When(x.modifyTime) : "");
    }
    // People know a folder by its number; a deleted one has none left, and
    // is named by its record (the id scripts get from --json).
    std::map<int32_t, int32_t> numbers;
    for (const SmsFolder& f : s.Folders()) numbers[f.id] = f.FdId;
    for (const stSmsChange& x : folders.changes) {
      const auto number = numbers.find(static_cast<int32_t>(x.id));
      if (x.kind == 1 && number != numbers.end()) {
        std::cout << fmt::format("folder {} changed\n", number->second);
      } else {
        std::cout << fmt::format("folder record {} {}\n", x.id, change(x));
      }
    }
    std::cout << fmt::format("next {}\n", next);
  });
}

}  // namespace zusms::cli
