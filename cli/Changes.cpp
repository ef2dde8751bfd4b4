// changes: what changed since a token, for scripts that synchronise.
#include <fmt/format.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Command.h"

namespace zusms::cli {
namespace {

using ListFn = int32_t (*)(SmsDatabase*, uint64_t, stSmsChange*, uint32_t, uint32_t*, uint64_t*);

struct Listing {
  std::vector<stSmsChange> changes;
  uint64_t next = 0;
};

// Every change of one family after `since`, page by page. From the
// beginning (0), a later page can be refused when old tombstones were pruned
// meanwhile: the listing then starts over in larger pages.
Listing ListAll(Store& store, ListFn list, uint64_t since, const char* what) {
  for (uint32_t capacity = 1000;; capacity *= 4) {
    Listing out;
    uint64_t token = since;
    std::vector<stSmsChange> page(capacity);
    for (bool first = true;; first = false) {
      uint32_t n = 0;
      const int32_t status = list(*store, token, page.data(), capacity, &n, &token);
      if (status == ZU_RESYNC && since == 0 && !first) break;
      if (status == ZU_RESYNC) {
        char16_t why[512];
        GetZuSmsLastError(why, 512);
        throw ResyncNeeded(fmt::format("listing {}: {}", what, Utf8(why, 512)));
      }
      Check(status, std::string("listing ") + what);
      out.changes.insert(out.changes.end(), page.begin(), page.begin() + n);
      if (n < capacity) {
        out.next = token;
        return out;
      }
    }
  }
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
    const Listing heads = ListAll(s, ListZuSmsHeadChanges, since, "message changes");
    const Listing folders = ListAll(s, ListZuSmsFolderChanges, since, "folder changes");
    // The smaller of the two: a change that lies between them comes again
    // next time rather than never.
    const uint64_t next = std::min(heads.next, folders.next);
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
    for (const stSmsChange& x : folders.changes) {
      std::cout << fmt::format("folder {} {}\n", x.id, change(x));
    }
    std::cout << fmt::format("next {}\n", next);
  });
}

}  // namespace zusms::cli
