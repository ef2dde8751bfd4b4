// changes: what changed since a token, for scripts that synchronise. With
// --json each changed message comes whole, as `show --json` gives it, and
// each folder with its number and name, so that a script keeps a copy of the
// messages with this command alone.
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Command.h"
#include "model/ReadState.h"
#include "text/Interrupt.h"

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

// Where the entries of changed messages wait until the listing is settled:
// in memory up to a megabyte, beyond that in a private temporary file, so
// that the first listing of a large store holds a few bytes a message in
// memory, not its text.
class Spool {
 public:
  struct Place {
    off_t at = 0;
    size_t size = 0;
  };

  Place Put(const std::string& text) {
    const Place p{written_ + static_cast<off_t>(pending_.size()), text.size()};
    pending_ += text;
    if (pending_.size() >= kInMemory) Flush();
    return p;
  }
  std::string Get(Place p) {
    if (p.at >= written_) return pending_.substr(static_cast<size_t>(p.at - written_), p.size);
    std::string text(p.size, '\0');
    for (size_t done = 0; done < p.size;) {
      const ssize_t n =
          ::pread(file_->fd(), text.data() + done, p.size - done, p.at + static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(n < 0 ? errno : EIO);
      done += static_cast<size_t>(n);
    }
    return text;
  }

 private:
  static constexpr size_t kInMemory = 1 << 20;

  static std::string Folder() {
    const char* tmpdir = std::getenv("TMPDIR");
    return tmpdir && *tmpdir ? tmpdir : "/tmp";
  }
  [[noreturn]] static void Fail(int error) {
    throw Failure(
        fmt::format("the changed messages could not be kept in a temporary file in {}: {}",
                    Folder(), std::strerror(error)));
  }
  void Flush() {
    if (!file_) {
      file_ = std::make_unique<TemporaryFile>(Folder() + "/zusms-changes-XXXXXX");
      if (file_->error()) Fail(file_->error());
    }
    if (const int error = WriteAll(file_->fd(), pending_.data(), pending_.size())) Fail(error);
    written_ += static_cast<off_t>(pending_.size());
    pending_.clear();
  }

  std::unique_ptr<TemporaryFile> file_;
  off_t written_ = 0;    // what the file holds
  std::string pending_;  // what follows it
};

// The messages the changes listed, each whole, as JSON entries: what a
// round of listing named is read at once, and read again when a later round
// names one of its heads again.
class ChangedMessages {
 public:
  ChangedMessages(Store& store, bool utc) : store_(store), utc_(utc) {}

  // Reads the messages of one round's changes: those of the heads changed,
  // and those that a head changed or deleted belonged to when last read
  // (their parts may now form another message).
  void Read(const std::vector<stSmsChange>& round) {
    std::unordered_set<uint32_t> wanted;
    for (const stSmsChange& x : round) {
      if (x.kind == 1) {
        wanted.insert(x.id);
        latest_[x.id] = When(x.modifyTime);
      } else {
        latest_.erase(x.id);
      }
      const auto known = message_of_.find(x.id);
      if (known == message_of_.end() || known->second == 0) continue;
      for (const uint32_t part : messages_.at(known->second).parts) wanted.insert(part);
    }
    if (wanted.empty()) return;
    const UnreadHeads unread(store_);
    const std::vector<uint32_t> ids = MultimediaIds(store_);
    const std::unordered_set<uint32_t> multimedia(ids.begin(), ids.end());
    std::unordered_set<uint32_t> found;
    auto take = [&](const Message& m) {
      std::vector<uint32_t> parts;
      std::string modified;
      for (const SmsHead& p : m.parts) {
        parts.push_back(static_cast<uint32_t>(p.id));
        found.insert(static_cast<uint32_t>(p.id));
        message_of_[static_cast<uint32_t>(p.id)] = m.id();
        const auto when = latest_.find(static_cast<uint32_t>(p.id));
        if (when != latest_.end()) modified = std::max(modified, when->second);
      }
      // The fields of every entry first, then the message's own as show
      // gives it (only a multimedia message needs more than its heads).
      Json shown = multimedia.contains(m.id()) ? ShownMessageJson(store_, m, utc_, unread.Unread(m))
                                               : MessageJson(m, utc_, unread.Unread(m));
      const Json first{
          {"id", m.id()}, {"change", "changed"}, {"uuid", shown["uuid"]}, {"modifyTime", modified}};
      shown.erase("id");
      shown.erase("uuid");
      std::string entry = first.dump();
      entry.back() = ',';
      entry += shown.dump().substr(1);
      messages_[m.id()] = {spool_.Put(entry), std::move(parts)};
    };
    if (OnePass(wanted.size())) {
      ReadInOnePass(wanted, take);
    } else {
      for (const uint32_t id : wanted) {
        if (found.contains(id)) continue;
        if (const auto m = Find(id)) take(*m);
      }
    }
    for (const uint32_t id : wanted) {
      if (!found.contains(id)) message_of_[id] = 0;
    }
  }

  // The entry of the message the head `id` belongs to, once per message (""
  // the other times); "gone" when the head was no longer there to read.
  std::string EntryOf(uint32_t id, bool& gone) {
    const uint32_t message = message_of_.at(id);
    gone = message == 0;
    if (gone || !printed_.insert(message).second) return "";
    return spool_.Get(messages_.at(message).json);
  }

 private:
  struct Entry {
    Spool::Place json;
    std::vector<uint32_t> parts;
  };

  // Whether reading `n` heads one by one costs more than one pass over the
  // user's every head.
  bool OnePass(size_t n) {
    constexpr size_t kPassCostsHeads = 8;  // heads read one by one
    if (n < 64) return false;
    uint32_t all = 0;
    Check(GetZuSmsHeadCount(*store_, &all), "counting messages");
    return n * kPassCostsHeads > all;
  }

  void ReadInOnePass(const std::unordered_set<uint32_t>& wanted,
                     const std::function<void(const Message&)>& take) {
    MessageAssembler messages([&](Message&& m) {
      for (const SmsHead& p : m.parts) {
        if (wanted.contains(static_cast<uint32_t>(p.id))) return take(m);
      }
    });
    store_.ForEachHead([&](const SmsHead& h) {
      if (IsPart(h) || wanted.contains(static_cast<uint32_t>(h.id))) messages.Add(h);
    });
    messages.Finish();
  }

  // The message of head `id`, or none when the head is gone (also when it
  // went while its parts were being read).
  std::optional<Message> Find(uint32_t id) {
    try {
      return GetMessage(store_, id);
    } catch (const Failure&) {
      SmsHead h{};
      Check(GetZuSmsHead(*store_, id, &h), "reading message " + std::to_string(id));
      if (h.id != 0) throw;
      return std::nullopt;
    }
  }

  Store& store_;
  const bool utc_;
  Spool spool_;
  std::unordered_map<uint32_t, std::string> latest_;   // head: its change's modifyTime
  std::unordered_map<uint32_t, uint32_t> message_of_;  // head: its message's id, 0 gone
  std::unordered_map<uint32_t, Entry> messages_;       // by message id
  std::unordered_set<uint32_t> printed_;
};

// The folders the changes listed, read once a round.
class ChangedFolders {
 public:
  void Read(Store& store, const std::vector<stSmsChange>& round) {
    if (round.empty()) return;
    std::map<uint32_t, SmsFolder> now;
    for (const SmsFolder& f : store.Folders()) now[static_cast<uint32_t>(f.id)] = f;
    for (const stSmsChange& x : round) {
      const auto f = now.find(x.id);
      if (f == now.end()) {
        read_.erase(x.id);
      } else {
        read_[x.id] = f->second;
      }
    }
  }
  // The folder as read, or null when it was gone.
  const SmsFolder* Of(uint32_t id) const {
    const auto f = read_.find(id);
    return f == read_.end() ? nullptr : &f->second;
  }

 private:
  std::map<uint32_t, SmsFolder> read_;
};

// Prints the listing as JSON, one entry a line. The messages and folders
// are read after each listing, and the changes listed again: when nothing
// changed meanwhile, what was read is what the store held at the token
// printed; otherwise what changed is read again, and listed again, until a
// round finds nothing new. A change to any part of a long message gives the
// message once, keyed by its id (that of its first part), as `show --json`
// gives it; a head listed as changed that was gone when read is deleted
// (the next listing holds its tombstone anyway).
void PrintJsonListing(Store& s, const Options& o, uint64_t since, Listing& heads,
                      Listing& folders) {
  constexpr int kRounds = 200;
  ChangedMessages messages(s, o.utc);
  ChangedFolders names;
  uint64_t next = heads.next;
  std::vector<stSmsChange> head_changes = heads.changes, folder_changes = folders.changes;
  for (int round = 0;; ++round) {
    messages.Read(heads.changes);
    names.Read(s, folders.changes);
    heads = {heads.list, heads.what, next, {}};
    folders = {folders.list, folders.what, next, {}};
    const uint64_t now = ListBoth(s, heads, folders);
    if (heads.changes.empty() && folders.changes.empty()) {
      next = now;  // another user's changes move the token, not this user's messages
      break;
    }
    if (round == kRounds) throw Failure("the store changed all the time it was read: try again");
    head_changes.insert(head_changes.end(), heads.changes.begin(), heads.changes.end());
    folder_changes.insert(folder_changes.end(), folders.changes.begin(), folders.changes.end());
    next = now;
  }
  KeepLatest(head_changes);
  KeepLatest(folder_changes);

  // Written as it goes, an entry a line: the spooled entries are never all
  // in memory.
  std::cout << fmt::format("{{\n  \"since\": \"{}\",\n  \"next\": \"{}\",\n  \"messages\": [",
                           since, next);
  bool first = true;
  auto line = [&](const std::string& entry) {
    std::cout << (first ? "\n    " : ",\n    ") << entry;
    first = false;
  };
  auto close = [&](const char* end) {
    std::cout << (first ? "]" : "\n  ]") << end;
    first = true;
  };
  for (const stSmsChange& x : head_changes) {
    bool gone = x.kind == 2;
    const std::string entry = gone ? "" : messages.EntryOf(x.id, gone);
    if (gone) {
      line(Json{{"id", x.id}, {"change", "deleted"}, {"uuid", UuidText(x.uuid)}}.dump());
    } else if (!entry.empty()) {
      line(entry);
    }
  }
  close(",\n  \"folders\": [");
  for (const stSmsChange& x : folder_changes) {
    const SmsFolder* f = x.kind == 1 ? names.Of(x.id) : nullptr;
    Json entry{{"id", x.id}, {"change", f ? "changed" : "deleted"}};
    if (f) {
      entry["number"] = f->FdId;
      entry["name"] = Utf8(f->fname);
    }
    line(entry.dump());
  }
  close("\n}\n");
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
    if (c.options().json) return PrintJsonListing(s, c.options(), since, heads, folders);
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
