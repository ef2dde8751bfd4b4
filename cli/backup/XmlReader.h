// Reads the XML of SMS backup apps as a stream, one <sms> or <mms> at a
// time, with memory bounded by the largest message. Real files hold what strict XML parsers refuse:
// surrogate pairs and control characters written as numeric references, raw control characters,
// bytes that are not UTF-8, "&" and "<" in attribute values, an attribute twice in one element, a
// document type declaration. A byte filter in front of the parser rewrites them, so the parser sees
// well-formed XML and the reader hands on what the file meant, a bad
// record marked as such rather than ending the file. The document type
// declaration is dropped unread: no DTD, no external entity, no entity
// other than the five predefined ones and numeric references (any other
// "&name;" is kept as it is written).
#ifndef ZUSMS_CLI_BACKUP_XMLREADER_H_
#define ZUSMS_CLI_BACKUP_XMLREADER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backup/HeldParts.h"

namespace zusms::cli {

// One <sms> element: its attributes as the parser gives them (UTF-8 with
// the filter's marks, see below; an attribute given twice has its first
// value), and where it starts. The texts are the parser's: valid only
// during the call that hands the element on.
struct XmlSms {
  size_t line = 0;
  const char* const* attributes = nullptr;  // name, value, ..., null
  // The value of `name`, or nothing when the element does not carry it.
  std::optional<std::string_view> Get(std::string_view name) const;
};

// An element inside an <mms>, its attributes copied (first value of each).
struct XmlElement {
  std::vector<std::pair<std::string, std::string>> attributes;  // in the file's order
  std::optional<std::string_view> Get(std::string_view name) const;
};
// One <part>: its `data` attribute is decoded by the filter as it streams
// and never reaches the parser (nor memory) as base64; its place among the
// attributes holds an empty value. The data of an <mms>'s parts is held as
// HeldParts holds it, until the <mms> has been handed on.
struct XmlPart : XmlElement {
  bool has_data = false;
  PartBytes data;            // the first kMostPartData bytes
  uint64_t data_size = 0;    // all of them
  std::string data_problem;  // why the value is not base64, empty when it is
};
// One <mms> element inside <smses>, whole, with its parts and addresses.
struct XmlMms {
  size_t line = 0;
  XmlElement element;
  std::vector<XmlPart> parts;     // <part> elements, wherever inside the <mms>
  std::vector<XmlElement> addrs;  // <addr> elements, likewise
};
// A part's data beyond this is counted, not kept: the record is invalid.
constexpr size_t kMostPartData = 100u * 1024u * 1024u;

// Characters that the filter marks in attribute values, all in the last 256
// code points of plane 16 (private use, kept for this): a lone surrogate or
// a reference to no character becomes kBadCharacter, a byte that is not
// UTF-8 kBadByte; a control character C (and U+FFFE, U+FFFF) becomes
// kControlBase + C (+ 0x20, 0x21). A character of that range that the file
// holds itself comes after kLiteral, so it is never taken for a mark.
constexpr char32_t kMarkFirst = 0x10FF00;
constexpr char32_t kControlBase = 0x10FF00;
// An attribute name with bytes that are not UTF-8 is given as this name,
// so that its record is found invalid, not the file.
constexpr std::string_view kBadName = "zusms-name-not-utf8";
constexpr char32_t kLiteral = 0x10FFFB;
constexpr char32_t kBadByte = 0x10FFFC;
constexpr char32_t kBadCharacter = 0x10FFFD;

struct XmlReadResult {
  size_t sms = 0;
  size_t mms = 0;
  std::map<std::string, size_t> others;  // other elements in <smses>, by name
  bool root = false;                     // whether the file has its <smses> element
  std::string error;  // "line N: ..." when the file is not well-formed or cut off
};

// Calls `on_sms` for each <sms> and `on_mms` for each <mms> inside
// <smses>, in file order, and `on_bytes` with the bytes read so far. Stops at the first place where
// the file is not well-formed (everything before it has been handed on).
XmlReadResult ReadXmlBackup(std::istream& in, const std::function<void(const XmlSms&)>& on_sms,
                            const std::function<void(XmlMms&)>& on_mms,
                            const std::function<void(size_t)>& on_bytes);

// The byte filter alone, for tests: the input fed in two chunks, split at
// `split`; the result does not depend on where the split falls.
std::string FilterXml(std::string_view in, size_t split);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_BACKUP_XMLREADER_H_
