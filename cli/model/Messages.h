// Messages as the user sees them. A body longer than one head holds is kept
// as a long message: the heads of one user with the same batid (not 0),
// longsms greater than 1 and the same number, in `index` order. Everything
// the tool does to a message it does to all of its parts.
#ifndef ZUSMS_CLI_MODEL_MESSAGES_H_
#define ZUSMS_CLI_MODEL_MESSAGES_H_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "model/Store.h"

namespace zusms::cli {

constexpr size_t kPartLength = 670;  // characters of text one head holds

struct Message {
  std::vector<SmsHead> parts;  // in index order; one for a short message
  bool complete = true;        // false when parts of a long message are missing

  const SmsHead& head() const { return parts.front(); }
  uint32_t id() const { return static_cast<uint32_t>(parts.front().id); }
  std::u16string Text() const;
};

// Whether the head is a part of a long message.
bool IsPart(const SmsHead& h);

// The most parts a message can have: `longsms` and `index` are 16-bit.
constexpr size_t kMostParts = 32767;

// How many parts hold `text`; a Failure when more than kMostParts.
size_t PartCount(std::u16string_view text);
// The parts that hold `text`: copies of `base` with the text cut into
// pieces of at most kPartLength characters, never inside a surrogate pair,
// numbered in `index` from 1 and sharing `batid` when there are several
// (the caller takes one no other message of the user has, inside the batch
// that adds them). With `uuid`, part i gets the UUID derived from it and i.
std::vector<SmsHead> SplitMessage(const SmsHead& base, std::u16string_view text,
                                  const uint8_t* uuid, int32_t batid);

// Sameness of messages: 16 bytes from the number, the time text (to the
// second) and the whole text. Two messages with the same identity are one.
std::string Identity(std::u16string_view tel, std::u16string_view time, std::u16string_view text);
// A UUID derived from `parts` (RFC 9562 version 8, name-based): the same
// parts always give the same UUID.
void DerivedUuid(std::string_view parts, uint8_t* uuid);

// Gathers heads that come in any order into messages: a short message is
// handed on at once, a long one when all its parts are there, or at Finish
// with what came of it.
class MessageAssembler {
 public:
  explicit MessageAssembler(std::function<void(Message&&)> emit) : emit_(std::move(emit)) {}
  void Add(const SmsHead& h);
  void Finish();

 private:
  std::function<void(Message&&)> emit_;
  std::map<std::tuple<int32_t, std::u16string>, Message> pending_;
};
// Counts messages among heads that come one at a time, in any order: a
// short message counts once, a long one once for all its parts. Keeps the
// keys of the long messages seen, not the heads.
class MessageCounter {
 public:
  // True when `h` is the first head seen of its message.
  bool Starts(const SmsHead& h);

 private:
  std::set<std::tuple<int32_t, std::u16string>> long_;
};
// How many messages the user has in folder `fid`, a long message counting
// once (its parts are read, the others counted).
uint32_t CountMessagesInFolder(Store& store, int32_t fid);

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
};

// Orders parts by index and marks the message incomplete when some are missing.
void Seal(Message& m);

// The message the head `id` belongs to, with all its parts; a Failure when
// the user has no such head.
Message GetMessage(Store& store, uint32_t id);

struct ListOptions {
  std::optional<int32_t> folder;
  std::string number;
  std::string contains;      // found in the whole text, across the parts
  std::string since, until;  // time texts: since <= time < until
  bool oldest = false;
  uint32_t limit = 20;
};
std::vector<Message> ListMessages(Store& store, const ListOptions& o);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_MESSAGES_H_
