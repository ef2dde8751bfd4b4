// The messages a user has, as an import sees them: to tell a file's
// messages from ones already there.
#ifndef ZUSMS_CLI_BACKUP_STOREDMESSAGES_H_
#define ZUSMS_CLI_BACKUP_STOREDMESSAGES_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "model/Messages.h"
#include "model/Store.h"

namespace zusms::cli {

// Sameness of messages: the 128-bit XXH3 hash of the number, the time text
// (to the second) and the whole text (their MessageKey), as 16 bytes. Two
// messages with the same identity are one; two different messages share
// one with a chance of about n^2 / 2^129 among n messages.
std::string Identity(std::u16string_view tel, std::u16string_view time, std::u16string_view text);

// Whether XML 1.0 can carry the code unit at text[i] (with the one after
// it, for a surrogate pair): what it cannot is exported as U+FFFD.
bool XmlCarries(std::u16string_view text, size_t i);

// The messages the user has, to tell a file's messages from ones already
// there. A message of a file is there when the user has one with the same
// number, time (to the second) and whole text, or, from JSON, with one of
// its UUIDs. A stored text also stands for the text the XML export writes
// of it (what XML cannot carry as U+FFFD), so that our own export imports
// as nothing new; the messages an import adds are matched exactly, so two
// distinct records of one file never merge. A stored long message that
// lacks parts (an import interrupted between two batches, or another
// import's batch between two of ours) is completed, not added again.
//
// Refresh reads the heads added since the last refresh by anyone but this
// import; called inside each batch, that is under the store's write lock,
// what is checked against it is what the store holds, whichever import ran
// meanwhile. Memory holds an identity per stored message (and a UUID per
// head with `by_uuid`), plus the heads of stored incomplete messages.
class StoredMessages {
 public:
  explicit StoredMessages(bool by_uuid) : by_uuid_(by_uuid) {}
  void Refresh(Store& store);
  // The heads of a file's message (sealed, in index order) that the user
  // lacks: none when the user has the message; the missing parts of a
  // stored incomplete one, with its batid; else all of them, a long
  // message's with a batid of its own. The message is the user's from now
  // on: call Added with the id of each head stored.
  std::vector<SmsHead> Missing(const Message& m);
  void Added(uint32_t id) { ours_.insert(static_cast<int32_t>(id)); }
  // Multimedia messages, known by their identity (MmsIdentity): a stored
  // one's is worked out only when a file's message has its time, so the
  // store's data is read for those alone. Call before the first Refresh.
  void WithMms() { mms_ = true; }
  // Whether the user has a multimedia message with this identity and time
  // (or, `by_uuid` and `uuid` not null, a head with this UUID); from now
  // on the user has it.
  bool HasMms(Store& store, const std::string& identity, std::u16string_view time,
              const uint8_t* uuid);
  void AddedMms(const std::string& identity) { mms_known_.insert(identity); }
  // Whether a stored message (as stored, or as XML writes it) has this
  // identity; whether a stored head has this UUID (`by_uuid`).
  bool Knows(const std::string& identity) const { return theirs_.contains(identity); }
  bool KnowsUuid(const std::string& uuid) const { return uuids_.contains(uuid); }

 private:
  using Key = std::tuple<int32_t, std::u16string>;  // batid, number
  void Know(const SmsHead& h, std::u16string_view text);
  bool Has(const SmsHead& h, std::u16string_view text, const std::string& identity) const;
  bool Completes(const Message& stored, const Message& m) const;
  void Took(const Message& m, const std::string& identity);

  bool by_uuid_;
  std::unordered_set<std::string> theirs_;  // stored before: as stored, and as XML writes them
  std::unordered_set<std::string> mine_;    // added by this import: as stored
  std::unordered_set<std::string> uuids_;
  std::map<Key, Message> incomplete_;
  std::unordered_set<int32_t> ours_;  // heads added since the last refresh
  int32_t last_id_ = 0;
  int32_t batid_ = 0;
  bool mms_ = false;
  std::unordered_multimap<uint64_t, int32_t> by_time_;  // heads whose identity is not read yet
  std::unordered_set<std::string> mms_known_;
};

// The messages of a file that an import has read, kept small (16 bytes a
// key), to tell how many of them the user has: the identity of each whole
// message, also as XML writes it when that differs, and, with `by_uuid`, the
// UUIDs of its parts. The user has a message that a stored message has an
// identity of, or whose every part's UUID a stored head has (a long
// message of which only some parts are stored is not there yet).
class ReadMessages {
 public:
  explicit ReadMessages(bool by_uuid) : by_uuid_(by_uuid) {}
  void Add(const Message& m);
  // A multimedia message: its identity and time.
  void AddMms(const std::string& identity, std::u16string_view time) {
    mms_.emplace_back(identity, time);
  }
  size_t size() const { return ends_.size() + mms_.size(); }
  void Clear();
  // How many of them the user has: one look at the store, as it is now.
  size_t StoredIn(Store& store) const;

 private:
  struct End {
    uint32_t keys;       // the message's keys end here (a count of keys)
    uint8_t identities;  // the first of them identities, the others UUIDs
  };
  bool by_uuid_;
  std::string keys_;
  std::vector<End> ends_;
  std::vector<std::pair<std::string, std::u16string>> mms_;
};

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_BACKUP_STOREDMESSAGES_H_
