// The seven kinds of record as JSON objects: one field table per kind, from
// which both directions follow. Texts are JSON strings, UUIDs canonical hex.
#ifndef ZUSMS_CLI_MODEL_RECORDS_H_
#define ZUSMS_CLI_MODEL_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "ZuSmsDB.h"
#include "text/Print.h"

namespace zusms::cli {

struct JsonField {
  enum Kind { kInt16, kInt32, kText, kUuid } kind;
  const char* name;
  size_t offset;
  size_t size;
};

struct Kind {
  const char* key;  // the array's name in an export
  std::span<const JsonField> fields;
};

extern const Kind kHeads, kContents, kAreaBroadcasts, kFolders, kFilters, kReceiverHistory,
    kPhrases;

// Every field of the record but its id.
Json ToJson(const Kind& kind, const void* record);
// Fills the record from `json`; throws a Failure naming the field at fault
// (missing, of the wrong type, out of range, or too long for its field).
void FromJson(const Kind& kind, const Json& json, void* record);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_MODEL_RECORDS_H_
