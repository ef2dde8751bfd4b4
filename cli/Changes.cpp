#include "Changes.h"

#include <fmt/format.h>

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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

}  // namespace

void AddChangesCommand(CLI::App& app, const bool& json,
                       const std::function<void(CLI::App*, std::function<void(Store&)>)>& on) {
  auto since = std::make_shared<uint64_t>(0);
  auto* cmd = app.add_subcommand(
      "changes", "messages and folders changed since a token, and the token to pass next time");
  cmd->add_option("--since", *since, "the token the last run printed (default: from the start)");
  on(cmd, [&json, since](Store& s) {
    const Listing heads = ListAll(s, ListZuSmsHeadChanges, *since, "message changes");
    const Listing folders = ListAll(s, ListZuSmsFolderChanges, *since, "folder changes");
    // The smaller of the two: a change that lies between them comes again
    // next time rather than never.
    const uint64_t next = std::min(heads.next, folders.next);
    auto change = [](const stSmsChange& c) { return c.kind == 2 ? "deleted" : "changed"; };
    if (json) {
      nlohmann::json out{{"since", *since}, {"next", next}};
      out["messages"] = nlohmann::json::array();
      out["folders"] = nlohmann::json::array();
      for (const stSmsChange& c : heads.changes) {
        nlohmann::json j{{"id", c.id}, {"change", change(c)}, {"uuid", UuidText(c.uuid)}};
        if (c.kind == 1) j["modifyTime"] = When(c.modifyTime);
        out["messages"].push_back(j);
      }
      for (const stSmsChange& c : folders.changes) {
        out["folders"].push_back({{"id", c.id}, {"change", change(c)}});
      }
      std::cout << out.dump(2) << "\n";
      return;
    }
    for (const stSmsChange& c : heads.changes) {
      std::cout << fmt::format("message {} {} {}{}\n", c.id, change(c), UuidText(c.uuid),
                               c.kind == 1 ? " " + When(c.modifyTime) : "");
    }
    for (const stSmsChange& c : folders.changes) {
      std::cout << fmt::format("folder {} {}\n", c.id, change(c));
    }
    std::cout << fmt::format("next {}\n", next);
  });
}

}  // namespace zusms::cli
