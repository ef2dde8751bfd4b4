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
#include <span>
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
  bool unread = false;         // as a backup file gives it; the store: model/ReadState.h

  const SmsHead& head() const { return parts.front(); }
  uint32_t id() const { return static_cast<uint32_t>(parts.front().id); }
  std::u16string Text() const;
};

// Whether the message was sent by the user (a sent type, or the outbox,
// sent or drafts folder) rather than received. A message in the trash or
// in a folder of the user's is judged by the folder it came from (oldfid).
bool IsSent(const SmsHead& h);

// Whether the message is a draft, never sent (one of IsSent's).
bool IsDraft(const SmsHead& h);
// Whether the message waits to be sent or failed to be (the outbox, a
// phone's types 4 to 6), not a draft (one of IsSent's).
bool IsUnsent(const SmsHead& h);

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

// What makes two messages one: the number, the time text (to the second)
// and the whole text, as one string of bytes.
std::string MessageKey(std::u16string_view tel, std::u16string_view time, std::u16string_view text);
// A UUID derived from `name` (RFC 9562 version 8, name-based): the same
// name always gives the same UUID. Messages imported from XML have theirs
// from their MessageKey, so a message stored once keeps its UUID.
void DerivedUuid(std::string_view name, uint8_t* uuid);
// The text of a zero-terminated field of `capacity` characters.
std::u16string_view FieldText(const char16_t* text, size_t capacity);

// Gathers heads that come in any order into messages: a short message is
// handed on at once, a long one when all its parts are there, or at Finish
// with what came of it.
class MessageAssembler {
 public:
  explicit MessageAssembler(std::function<void(Message&&)> emit) : emit_(std::move(emit)) {}
  // `unread`: the head is unread, and so is its message.
  void Add(const SmsHead& h, bool unread = false);
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

// A condition of a query on heads, its value still to set.
_MimerQueryFilterItem Condition(int32_t field, int32_t op);
// Visits every part of a long message the user has that meets `also`, in
// id order: one pass over the store, a page at a time.
void ForEachPart(Store& store, const std::function<void(const SmsHead&)>& visit,
                 std::span<const _MimerQueryFilterItem> also = {});
// Seals the long messages of `messages` and reads the parts they lack.
void Complete(Store& store, std::vector<Message>& messages);

// Orders parts by index and marks the message incomplete when some are missing.
void Seal(Message& m);

// The message the head `id` belongs to, with all its parts; a Failure when
// the user has no such head.
Message GetMessage(Store& store, uint32_t id);

// Whether the message is locked (any of its parts).
bool IsLocked(const Message& m);
// Takes the locked messages out of `messages` unless `include_locked`, as
// every deletion of the tool does; returns how many it took out.
size_t SkipLocked(std::vector<Message>& messages, bool include_locked);
// Deletes every part of the messages, in one batch.
void DeleteMessages(Store& store, const std::vector<Message>& messages);

struct ListOptions {
  std::optional<int32_t> folder;
  std::string number;  // written exactly so
  // Written exactly as one of these (each way the user's messages write
  // one correspondent's number, model/Region.h WrittenForms); takes the
  // place of `number`.
  std::optional<std::vector<std::string>> numbers;
  std::string contains;      // found in the whole text, across the parts
  std::string since, until;  // time texts: since <= time < until
  bool oldest = false;
  uint32_t limit = 20;
};
std::vector<Message> ListMessages(Store& store, const ListOptions& o);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_MESSAGES_H_
