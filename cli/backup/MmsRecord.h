// Multimedia messages as the backups carry them: a head, the message's own
// attributes, further attributes, parts and addresses (include/ZuSmsDB.h).
// What a backup's element carries beyond the store's columns is kept in the
// further attributes, under names of its own, so that it is written back:
//   part:N       the names of part N's attributes, in their order ("seq ct ...")
//   part:N:NAME  the value of its attribute NAME that has no column (cd, ctt_s, ...)
//   addr:N, addr:N:NAME   likewise for address N
// Every other further attribute is an attribute of the message element. A
// value of a part's or an address's column too long for the column is kept
// whole as part:N:NAME too, the column holding its start.
#ifndef ZUSMS_CLI_BACKUP_MMSRECORD_H_
#define ZUSMS_CLI_BACKUP_MMSRECORD_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backup/HeldParts.h"
#include "model/Store.h"

namespace zusms::cli {

struct MmsPart {
  SmsMmsPart desc{};  // datalen: the data's size
  std::u16string text;
  bool has_text = false;
  PartBytes data;  // empty when read from the store: read it in pieces
};

struct MmsRecord {
  SmsHead head{};
  SmsMms mms{};
  std::vector<SmsMmsAttribute> attrs;
  std::vector<MmsPart> parts;
  std::vector<SmsMmsAddress> addrs;
  bool unread = false;  // as a backup file gives it
};

// Whether a further attribute belongs to a part or an address rather than
// to the message element.
bool IsLayoutName(std::u16string_view name);

// `text` cut to `most` UTF-16 units, never inside a surrogate pair.
std::u16string_view Cut(std::u16string_view text, size_t most);

// Sets an attribute's name and value; a Failure that says which is too long
// or holds a NUL.
SmsMmsAttribute Attribute(std::u16string_view name, std::u16string_view value);

// Appends an attribute. A value longer than a row holds (a large group's
// `address`, the names of a part's many attributes) goes on in further rows
// named "+", which no XML attribute can be named.
void AddAttribute(std::vector<SmsMmsAttribute>& attrs, std::u16string_view name,
                  std::u16string_view value);
// The further attributes with their continuations joined, in order.
std::vector<std::pair<std::u16string, std::u16string>> JoinedAttributes(const MmsRecord& m);

// A message's identity: its time (to the second), its addresses in order
// and a hash of its parts (every column, text and data), 16 bytes; texts as
// the XML export writes them. `data` gives part i's data in pieces.
using DataReader =
    std::function<void(size_t part, const std::function<void(const uint8_t*, size_t)>& piece)>;
std::string MmsIdentity(const MmsRecord& m, const DataReader& data);
// ... of a record read from a backup (its parts' data in memory or kept aside).
std::string MmsIdentity(const MmsRecord& m);

// Why the library would not store the message (CheckZuSmsMms, nothing
// written), empty when it would.
std::string MmsProblem(Store& store, const MmsRecord& m);

// Stores the message with all it carries (AddZuSmsMmsFrom, a part's data
// in memory one at a time); returns its id.
uint32_t StoreMms(Store& store, MmsRecord& m, const std::string& what);

// The stored multimedia message of head `h` (parts with their texts,
// without their data); nothing when the head is a text message.
std::optional<MmsRecord> ReadMms(Store& store, const SmsHead& h);
// Hands part `part`'s data of message `id` on in pieces of at most
// `piece` bytes (a multiple of 3, so that base64 goes out in pieces too).
void ReadPartData(Store& store, uint32_t id, uint32_t part, uint64_t size,
                  const std::function<void(const uint8_t*, size_t)>& on, uint32_t piece = 3 << 16);
// The identity of a stored message.
std::string StoredMmsIdentity(Store& store, const MmsRecord& m);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_BACKUP_MMSRECORD_H_
