// What the parameterised record tests need to know of each record family:
// its exported functions, its table, and how to fill and compare a record.
#ifndef ZUSMS_TESTS_RECORDTRAITS_H_
#define ZUSMS_TESTS_RECORDTRAITS_H_

#include <cstdint>
#include <cstring>
#include <string>

#include "ZuSmsDB.h"

namespace zusms::testing {

template <typename Record>
struct Traits;

// The exported functions of a family, under names the tests share.
#define ZU_TRAITS_FUNCTIONS(Name)                      \
  static constexpr auto Add = AddZu##Name;             \
  static constexpr auto Update = UpdateZu##Name;       \
  static constexpr auto Delete = DeleteZu##Name;       \
  static constexpr auto DeleteAll = DeleteAllZu##Name; \
  static constexpr auto Get = GetZu##Name;             \
  static constexpr auto Count = GetZu##Name##Count;    \
  static constexpr auto AllIds = GetAllZu##Name##ID;   \
  static constexpr auto All = GetAllZu##Name;

// Writes `text` into a fixed text field, cut to fit, zero-terminated.
template <size_t N>
void SetText(char16_t (&field)[N], const std::u16string& text) {
  const size_t n = text.size() < N - 1 ? text.size() : N - 1;
  for (size_t i = 0; i < n; ++i) field[i] = text[i];
  field[n] = 0;
}

// A text of `length` characters that differs by seed.
inline std::u16string Sample(int seed, size_t length) {
  std::u16string s;
  for (size_t i = 0; i < length; ++i) {
    s += static_cast<char16_t>(u'a' + (seed + static_cast<int>(i)) % 26);
  }
  return s;
}

// Each Traits<Record> says, besides the functions and how to make a record:
//  kSeeded: rows every user has once the store is open (never deleted);
//  kMissingGet, kMissingUpdate: the status of a Get or Update of a missing row;
//  KeepAssigned(to, from): copies the fields the store assigns on Add and
//    never changes afterwards from a stored record into an expected one;
//  kAddSetsIdFirst: Add sets rec.id from *newId before the insert, so a
//    failed add leaves the entry value of *newId in the record.
// Families whose Add, Update and Get follow the pattern exactly (0 for a
// missing row) and whose users start with no rows.
template <typename Record>
struct PlainTraits {
  static constexpr uint32_t kSeeded = 0;
  static constexpr int32_t kMissingGet = 0;
  static constexpr int32_t kMissingUpdate = 0;
  static constexpr bool kAddSetsIdFirst = false;
  static void KeepAssigned(Record&, const Record&) {}
};

template <typename Record>
struct EntryIdTraits : PlainTraits<Record> {
  static constexpr bool kAddSetsIdFirst = true;
};

template <>
struct Traits<SmsHead> : PlainTraits<SmsHead> {
  static constexpr const char* kTable = "SmsHead";
  ZU_TRAITS_FUNCTIONS(SmsHead)

  static SmsHead Make(int seed) {
    SmsHead r;
    std::memset(&r, 0, sizeof r);
    r.index = static_cast<int16_t>(seed);
    r.type = static_cast<int16_t>(-seed);
    r.fid = seed % 14 + 1;
    r.batid = seed * 1000;
    SetText(r.createtime, u"20240101" + Sample(seed, 4));
    SetText(r.tel, u"+86" + Sample(seed, 11));
    SetText(r.name, Sample(seed, 12) + u" \u5f20\u4e09");
    SetText(r.recvtime, u"20240102" + Sample(seed, 4));
    SetText(r.content, Sample(seed, 200));
    r.privmode = 1;
    r.ccid = static_cast<int16_t>(seed + 1);
    r.lockflag = seed % 2;
    r.oldfid = -seed;
    r.impt = 2;
    r.longsms = 0;
    SetText(r.operid, Sample(seed, 5));
    for (int i = 0; i < 16; ++i) r.uuid[i] = static_cast<uint8_t>(seed + i + 1);
    r.uuid[8] = 0x80;  // a valid UUID, so it is kept
    return r;
  }
  // Every text as long as both its field and its column allow, and 16-bit
  // numbers at their extremes.
  static SmsHead Longest(int seed) {
    SmsHead r = Make(seed);
    SetText(r.createtime, Sample(seed, 14));
    SetText(r.tel, Sample(seed, 32));
    SetText(r.name, Sample(seed, 39));
    SetText(r.recvtime, Sample(seed, 14));
    SetText(r.content, Sample(seed, 670));
    SetText(r.operid, Sample(seed, 9));
    r.index = -32768;
    r.impt = 32767;
    r.fid = INT32_MIN;
    r.batid = INT32_MAX;
    return r;
  }
};

template <>
struct Traits<SmsFolder> : PlainTraits<SmsFolder> {
  static constexpr const char* kTable = "SmsFolder";
  static constexpr uint32_t kSeeded = 14;  // the default folders
  static constexpr int32_t kMissingGet = -1;
  static constexpr int32_t kMissingUpdate = 100;
  static void KeepAssigned(SmsFolder& to, const SmsFolder& from) {
    to.FdId = from.FdId;
    to.system = from.system;
  }
  ZU_TRAITS_FUNCTIONS(SmsFolder)

  static SmsFolder Make(int seed) {
    SmsFolder r;
    std::memset(&r, 0, sizeof r);
    r.FdId = 0;  // assigned by the store
    SetText(r.fname, u"\u6211\u7684" + Sample(seed, 10));
    r.system = 0;
    r.password = static_cast<int16_t>(seed % 3);
    r.privmode = static_cast<int16_t>(-(seed % 2));
    return r;
  }
  static SmsFolder Longest(int seed) {
    SmsFolder r = Make(seed);
    SetText(r.fname, Sample(seed, 39));
    r.password = -32768;
    r.privmode = 32767;
    return r;
  }
};

template <>
struct Traits<SmsContent> : PlainTraits<SmsContent> {
  static constexpr const char* kTable = "SmsContent";
  ZU_TRAITS_FUNCTIONS(SmsContent)
  static SmsContent Make(int seed) {
    SmsContent r;
    std::memset(&r, 0, sizeof r);
    r.BatId = seed * 7;
    r.type = static_cast<int16_t>(seed);
    r.savepos = static_cast<int16_t>(-seed);
    r.rivmode = 3;
    r.location = -seed * 100;
    SetText(r.name, u"\u674e\u96f7 " + Sample(seed, 5));
    SetText(r.tel, u"+86" + Sample(seed, 11));
    return r;
  }
  static SmsContent Longest(int seed) {
    SmsContent r = Make(seed);
    SetText(r.name, Sample(seed, 39));
    SetText(r.tel, Sample(seed, 32));
    r.type = -32768;
    r.savepos = 32767;
    r.location = INT32_MIN;
    return r;
  }
};

template <>
struct Traits<SmsAreaBroadcast> : PlainTraits<SmsAreaBroadcast> {
  static constexpr const char* kTable = "SmsAreaBroadcast";
  ZU_TRAITS_FUNCTIONS(SmsAreaBroadcast)
  static SmsAreaBroadcast Make(int seed) {
    SmsAreaBroadcast r;
    std::memset(&r, 0, sizeof r);
    r.status = static_cast<int16_t>(seed % 3);
    r.sn = seed * 11;
    r.msgid = 4352 + seed;
    r.pageindex = seed % 4 + 1;
    r.dctype = 15;
    SetText(r.recvtime, u"20240101" + Sample(seed, 6));
    SetText(r.data, u"Typhoon warning " + Sample(seed, 40));
    r.datalen = 99;  // kept as given
    return r;
  }
  static SmsAreaBroadcast Longest(int seed) {
    SmsAreaBroadcast r = Make(seed);
    SetText(r.recvtime, Sample(seed, 15));  // the column's width, below the field's
    SetText(r.data, Sample(seed, 670));
    r.status = -32768;
    r.datalen = -1;
    r.sn = INT32_MAX;
    return r;
  }
};

template <>
struct Traits<SmsFilter> : EntryIdTraits<SmsFilter> {
  static constexpr const char* kTable = "SmsFilter";
  ZU_TRAITS_FUNCTIONS(SmsFilter)
  static SmsFilter Make(int seed) {
    SmsFilter r;
    std::memset(&r, 0, sizeof r);
    r.folderid = seed % 20 + 1;  // need not name an existing folder
    r.ftype = static_cast<int16_t>(seed % 4);
    r.fattr = static_cast<int16_t>(-seed);
    SetText(r.tel, u"1065" + Sample(seed, 8));
    SetText(r.name, Sample(seed, 6));
    return r;
  }
  static SmsFilter Longest(int seed) {
    SmsFilter r = Make(seed);
    SetText(r.tel, Sample(seed, 32));
    SetText(r.name, Sample(seed, 39));
    r.ftype = -32768;
    r.fattr = 32767;
    return r;
  }
};

template <>
struct Traits<SmsRecieverHistory> : EntryIdTraits<SmsRecieverHistory> {
  static constexpr const char* kTable = "SmsReceiverHistory";
  ZU_TRAITS_FUNCTIONS(SmsReceiverHistory)
  static SmsRecieverHistory Make(int seed) {
    SmsRecieverHistory r;
    std::memset(&r, 0, sizeof r);
    SetText(r.tel, u"139" + Sample(seed, 8));
    SetText(r.name, u"\u738b " + Sample(seed, 4));
    r.privmode = static_cast<int16_t>(seed % 2);
    SetText(r.lastdate, u"2024010" + Sample(seed, 1));
    return r;
  }
  static SmsRecieverHistory Longest(int seed) {
    SmsRecieverHistory r = Make(seed);
    SetText(r.tel, Sample(seed, 32));
    SetText(r.name, Sample(seed, 39));
    SetText(r.lastdate, Sample(seed, 14));
    r.privmode = -32768;
    return r;
  }
};

template <>
struct Traits<SmsPhrase> : EntryIdTraits<SmsPhrase> {
  static constexpr const char* kTable = "SmsPhrase";
  ZU_TRAITS_FUNCTIONS(SmsPhrase)
  static SmsPhrase Make(int seed) {
    SmsPhrase r;
    std::memset(&r, 0, sizeof r);
    SetText(r.content, u"On my way, " + Sample(seed, 10));
    r.impBool = static_cast<int16_t>(seed % 2 ? -seed : seed);
    return r;
  }
  static SmsPhrase Longest(int seed) {
    SmsPhrase r = Make(seed);
    SetText(r.content, Sample(seed, 99));
    r.impBool = -32768;
    return r;
  }
};

}  // namespace zusms::testing

#endif  // ZUSMS_TESTS_RECORDTRAITS_H_
