// Multimedia messages as the tool shows them: a head like any other message
// (model/Messages.h) and beside it, in the store, its subject, parts and
// addresses. Its text is the text of its plain-text parts; every other part
// but the layout (SMIL) is an attachment.
#ifndef ZUSMS_CLI_MODEL_MULTIMEDIA_H_
#define ZUSMS_CLI_MODEL_MULTIMEDIA_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Phone.h"
#include "model/Store.h"

namespace zusms::cli {

struct Attachment {
  uint32_t part = 0;  // its position in the message
  std::string type;   // content type ("image/jpeg")
  std::string name;   // the first of its file name, name and location that it has; "" if none
  uint64_t bytes = 0;
  bool text = false;  // its content is its text (a contact card given as text), not data
};

struct Multimedia {
  std::string subject;
  std::string text;  // the plain-text parts, one a line
  std::vector<Attachment> attachments;
  std::vector<SmsMmsAddress> addresses;
};

// The multimedia message of head `id`; nullopt when the head is a text message.
std::optional<Multimedia> ReadMultimedia(Store& store, uint32_t id);
// The ids of the user's multimedia messages, in id order.
std::vector<uint32_t> MultimediaIds(Store& store);
// The ids of what multimedia messages left when their heads were deleted by
// a program that does not enforce foreign keys (the sqlite3 shell): their
// parts, addresses and attributes without the message.
std::vector<uint32_t> HeadlessMultimedia(Store& store);

// The bytes of the data of the message's parts (0 for a text message).
uint64_t MultimediaBytes(Store& store, uint32_t id);

// "1.2 MB": bytes in decimal units, one decimal below ten.
std::string ByteSize(uint64_t bytes);
// One line for an attachment: "[image/jpeg photo.jpg 1.2 MB]".
std::string AttachmentLine(const Attachment& a);
// The file name an attachment is saved under before it is made safe: its
// own name, else "part-N" with the extension its type usually has.
std::string AttachmentFileName(const Attachment& a);
// The name `attachments save` gives the attachment's file, before it is
// told apart from the names its folder already holds: AttachmentFileName
// made safe (SafeFileName), "part-N" with its extension when nothing is left.
std::string SavedFileName(const Attachment& a);
// Hands the attachment's content to `write` a piece at a time (64 KiB at
// most), as the store reads it; returns how many bytes. The one place that
// reads an attachment's data.
uint64_t CopyAttachment(Store& store, uint32_t id, const Attachment& a,
                        const std::function<void(const uint8_t*, size_t)>& write);

// The keys of the numbers a multimedia message is exchanged with: every
// address but the user's own (`own`, keys) and the placeholder some phones
// write for the user's own number; for a message the user sent, its
// recipients. Each once, sorted.
std::vector<std::string> Members(const std::vector<SmsMmsAddress>& addresses, bool sent,
                                 const std::vector<std::string>& own, const PhoneNumbers& numbers);

// The group messages of the user: the multimedia messages exchanged with
// more than one number, each with its members. The user's own numbers are
// the senders of the multimedia messages they sent, and the one recipient
// of any received with one; one pass over the multimedia messages.
struct GroupMessage {
  uint32_t id;
  std::string tel;                   // its head's number
  std::vector<std::string> members;  // keys, sorted
};
std::vector<GroupMessage> GroupMessages(Store& store, const PhoneNumbers& numbers);
// The members as one key of a conversation: "+15550001, +15550002".
std::string GroupKey(const std::vector<std::string>& members);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_MULTIMEDIA_H_
