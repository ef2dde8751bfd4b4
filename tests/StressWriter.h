// One writer of the concurrency tests (a thread of a test or of a worker):
// adds heads, updates and deletes some of its own (now and then in a batch),
// adds folders, lists and queries. Each add is read back at once by its id,
// so that an id of another row is caught where it happens; each failure is
// kept with its status and last error (a busy call is not a wrong id).
#ifndef ZUSMS_TESTS_STRESSWRITER_H_
#define ZUSMS_TESTS_STRESSWRITER_H_

#include <cstdint>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "HexText.h"
#include "ZuSmsDB.h"

namespace zusms::testing {

struct StressRow {
  std::string text;
  std::string uuid;  // hex
};

struct StressResult {
  std::map<uint32_t, StressRow> live;  // what each surviving row must hold
  std::set<uint32_t> deleted;
  std::set<int32_t> folders;  // the folder numbers its adds were given
  std::string failure;        // the first failed call; empty when all succeeded

  // One line per row, then the failure: what a worker hands its parent.
  std::string Serialize() const {
    std::ostringstream out;
    for (const auto& [id, row] : live)
      out << "live " << id << ' ' << row.uuid << ' ' << row.text << '\n';
    for (uint32_t id : deleted) out << "deleted " << id << '\n';
    for (int32_t n : folders) out << "folder " << n << '\n';
    if (!failure.empty()) out << "failure " << failure << '\n';
    return out.str();
  }
  static StressResult Parse(const std::string& text) {
    StressResult r;
    std::istringstream in(text);
    uint32_t id = 0;
    int32_t n = 0;
    std::string kind, uuid, rest;
    while (r.failure.empty() && in >> kind) {
      if (kind == "live" && in >> id >> uuid && std::getline(in >> std::ws, rest))
        r.live[id] = {rest, uuid};
      else if (kind == "deleted" && in >> id)
        r.deleted.insert(id);
      else if (kind == "folder" && in >> n)
        r.folders.insert(n);
      else
        r.failure = kind == "failure" && std::getline(in >> std::ws, rest)
                        ? rest
                        : "unreadable result line after " + kind;
    }
    return r;
  }
};

// The calling thread's last error, its non-ASCII characters as '?'.
inline std::string LastErrorText() {
  char16_t why[512] = {};
  GetZuSmsLastError(why, 512);
  std::string out;
  for (const char16_t* c = why; *c; ++c) out += *c < 128 ? static_cast<char>(*c) : '?';
  return out;
}

// Runs `count` adds through `store` (open), tagging every text with `tag`.
// Stops at the first failure, which it describes.
inline StressResult RunStressWriter(SmsDatabase* store, const std::string& tag, int count) {
  StressResult r;
  auto text_of = [](const SmsHead& h) {
    std::string s;
    for (const char16_t* c = h.content; *c; ++c) s += static_cast<char>(*c);  // ASCII texts
    return s;
  };
  auto set_text = [](SmsHead& h, const std::string& s) {
    for (size_t i = 0; i <= s.size(); ++i) h.content[i] = i < s.size() ? s[i] : u'\0';
  };
  // True when `status` is 0; else keeps the first failure.
  auto ok = [&](const std::string& what, int32_t status) {
    if (status != 0 && r.failure.empty())
      r.failure = what + " returned " + std::to_string(status) + ": " + LastErrorText();
    return status == 0;
  };
  for (int i = 0; i < count && r.failure.empty(); ++i) {
    // Every tenth add opens a batch that holds it and the changes after it.
    const bool batch = i % 10 == 3;
    if (batch && !ok("begin", BeginZuSmsBatch(store))) return r;
    SmsHead head{}, back{};
    head.fid = 1;
    set_text(head, tag + " add " + std::to_string(i));
    uint32_t id = 0;
    if (ok("add " + std::to_string(i), AddZuSmsHead(store, &head, &id)) &&
        ok("get of new id " + std::to_string(id), GetZuSmsHead(store, id, &back))) {
      if (back.id != static_cast<int32_t>(id) || text_of(back) != text_of(head) ||
          Hex(back.uuid) != Hex(head.uuid)) {
        r.failure = "add " + std::to_string(i) + " returned id " + std::to_string(id) +
                    " whose row holds '" + text_of(back) + "', not '" + text_of(head) + "'";
      } else {
        r.live[id] = {text_of(head), Hex(head.uuid)};
      }
    }
    // Every third add, an earlier row of this writer changes its text; every
    // fifth, the oldest surviving one is deleted.
    if (r.failure.empty() && i % 3 == 2 && r.live.size() > 1) {
      auto it = std::next(r.live.begin(), i % r.live.size());
      SmsHead h{};
      if (ok("get before update", GetZuSmsHead(store, it->first, &h))) {
        set_text(h, tag + " update " + std::to_string(i));
        if (ok("update", UpdateZuSmsHead(store, &h))) it->second.text = text_of(h);
      }
    }
    if (r.failure.empty() && i % 5 == 4 && !r.live.empty()) {
      const uint32_t victim = r.live.begin()->first;
      if (ok("delete", DeleteZuSmsHead(store, victim))) {
        r.live.erase(victim);
        r.deleted.insert(victim);
      }
    }
    if (r.failure.empty() && i % 9 == 8) {
      SmsFolder f{};
      f.fname[0] = u'f';
      uint32_t folder_id = 0;
      if (ok("add folder", AddZuSmsFolder(store, &f, &folder_id))) r.folders.insert(f.FdId);
    }
    if (r.failure.empty() && i % 7 == 6) {
      // Readers among the writers: a list and a query of the store's state.
      std::vector<uint32_t> ids(4096);
      uint32_t n = 0;
      _MimerQueryFilterItem item{ZU_HEAD_FID, ZU_OP_LE, {7}};
      MimerQueryFilter filter{1, &item, 1, 0, nullptr};
      ok("list", GetAllZuSmsHeadID(store, ids.data(), 4096, &n));
      ok("query", QueryZuSmsHeadCount(store, &filter, &n));
    }
    if (batch)
      ok("commit", r.failure.empty() ? CommitZuSmsBatch(store) : RollbackZuSmsBatch(store));
  }
  return r;
}

}  // namespace zusms::testing

#endif  // ZUSMS_TESTS_STRESSWRITER_H_
