#include "model/Records.h"

#include <cstring>
#include <limits>

#include "text/Text.h"

namespace zusms::cli {

namespace {

template <typename Member>
constexpr JsonField Field(const char* name, size_t offset) {
  if constexpr (std::is_same_v<Member, int16_t>) {
    return {JsonField::kInt16, name, offset, sizeof(Member)};
  } else if constexpr (std::is_same_v<Member, int32_t>) {
    return {JsonField::kInt32, name, offset, sizeof(Member)};
  } else if constexpr (std::is_same_v<std::remove_extent_t<Member>, char16_t>) {
    return {JsonField::kText, name, offset, sizeof(Member)};
  } else {
    return {JsonField::kUuid, name, offset, sizeof(Member)};
  }
}
#define F(Record, member) Field<decltype(Record::member)>(#member, offsetof(Record, member))

constexpr JsonField kHeadFields[] = {
    F(SmsHead, index),      F(SmsHead, type),     F(SmsHead, fid),     F(SmsHead, batid),
    F(SmsHead, createtime), F(SmsHead, tel),      F(SmsHead, name),    F(SmsHead, recvtime),
    F(SmsHead, content),    F(SmsHead, privmode), F(SmsHead, ccid),    F(SmsHead, lockflag),
    F(SmsHead, oldfid),     F(SmsHead, impt),     F(SmsHead, longsms), F(SmsHead, operid),
    F(SmsHead, uuid)};
constexpr JsonField kContentFields[] = {
    F(SmsContent, BatId),    F(SmsContent, type), F(SmsContent, savepos), F(SmsContent, rivmode),
    F(SmsContent, location), F(SmsContent, name), F(SmsContent, tel)};
constexpr JsonField kPageFields[] = {F(SmsAreaBroadcast, status),  F(SmsAreaBroadcast, sn),
                                     F(SmsAreaBroadcast, msgid),   F(SmsAreaBroadcast, pageindex),
                                     F(SmsAreaBroadcast, dctype),  F(SmsAreaBroadcast, recvtime),
                                     F(SmsAreaBroadcast, datalen), F(SmsAreaBroadcast, data)};
constexpr JsonField kFolderFields[] = {F(SmsFolder, FdId), F(SmsFolder, fname),
                                       F(SmsFolder, system), F(SmsFolder, password),
                                       F(SmsFolder, privmode)};
constexpr JsonField kFilterFields[] = {F(SmsFilter, folderid), F(SmsFilter, ftype),
                                       F(SmsFilter, fattr), F(SmsFilter, tel), F(SmsFilter, name)};
constexpr JsonField kHistoryFields[] = {F(SmsRecieverHistory, tel), F(SmsRecieverHistory, name),
                                        F(SmsRecieverHistory, privmode),
                                        F(SmsRecieverHistory, lastdate)};
constexpr JsonField kPhraseFields[] = {F(SmsPhrase, content), F(SmsPhrase, impBool)};
#undef F

template <typename T>
T& At(void* record, const JsonField& f) {
  return *reinterpret_cast<T*>(static_cast<char*>(record) + f.offset);
}
template <typename T>
const T& At(const void* record, const JsonField& f) {
  return *reinterpret_cast<const T*>(static_cast<const char*>(record) + f.offset);
}

}  // namespace

const Kind kHeads{"heads", kHeadFields};
const Kind kContents{"contents", kContentFields};
const Kind kAreaBroadcasts{"areaBroadcasts", kPageFields};
const Kind kFolders{"folders", kFolderFields};
const Kind kFilters{"filters", kFilterFields};
const Kind kReceiverHistory{"receiverHistory", kHistoryFields};
const Kind kPhrases{"phrases", kPhraseFields};

Json ToJson(const Kind& kind, const void* record) {
  Json out = Json::object();
  for (const JsonField& f : kind.fields) {
    switch (f.kind) {
      case JsonField::kInt16:
        out[f.name] = At<int16_t>(record, f);
        break;
      case JsonField::kInt32:
        out[f.name] = At<int32_t>(record, f);
        break;
      case JsonField::kText:
        out[f.name] = Utf8(&At<char16_t>(record, f), f.size / sizeof(char16_t));
        break;
      case JsonField::kUuid:
        out[f.name] = UuidText(&At<uint8_t>(record, f));
        break;
    }
  }
  return out;
}

void FromJson(const Kind& kind, const Json& json, void* record) {
  if (!json.is_object()) throw Failure("not an object");
  for (const JsonField& f : kind.fields) {
    const auto it = json.find(f.name);
    if (it == json.end()) throw Failure(std::string(f.name) + ": missing");
    const Json& v = *it;
    switch (f.kind) {
      case JsonField::kInt16:
      case JsonField::kInt32: {
        if (!v.is_number_integer()) throw Failure(std::string(f.name) + ": not a whole number");
        const int64_t n = v.get<int64_t>();
        const bool small = f.kind == JsonField::kInt16;
        const int64_t lo = small ? INT16_MIN : INT32_MIN, hi = small ? INT16_MAX : INT32_MAX;
        if (n < lo || n > hi) throw Failure(std::string(f.name) + ": out of range");
        if (small) {
          At<int16_t>(record, f) = static_cast<int16_t>(n);
        } else {
          At<int32_t>(record, f) = static_cast<int32_t>(n);
        }
        break;
      }
      case JsonField::kText: {
        if (!v.is_string()) throw Failure(std::string(f.name) + ": not a text");
        const auto capacity = f.size / sizeof(char16_t);
        if (!SetText(&At<char16_t>(record, f), capacity, v.get<std::string>())) {
          throw Failure(std::string(f.name) + ": longer than " +
                        Counted(capacity - 1, "character"));
        }
        break;
      }
      case JsonField::kUuid:
        if (!v.is_string() || !ParseUuid(v.get<std::string>(), &At<uint8_t>(record, f))) {
          throw Failure(std::string(f.name) + ": not a UUID");
        }
        break;
    }
  }
}

}  // namespace zusms::cli
