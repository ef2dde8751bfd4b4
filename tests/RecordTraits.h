// What the parameterised record tests need to know of each record family:
// its exported functions, its table, and how to fill and compare a record.
#ifndef ZUSMS_TESTS_RECORDTRAITS_H_
#define ZUSMS_TESTS_RECORDTRAITS_H_

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

#include "RecordFrame.h"
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
};

// Make(seed) with every text as long as its field holds (a cell broadcast's
// receive time as its column holds) and every number at one extreme or the
// other, field by field through the family's own field table.
template <typename Record>
Record Longest(int seed) {
  Record r = Traits<Record>::Make(seed);
  bool low = seed % 2;
  for (const Field& f : FamilyOf<Record>().row_fields) {
    auto* at = reinterpret_cast<char*>(&r) + f.offset;
    low = !low;
    if (f.offset == offsetof(Record, id)) continue;
    if (f.kind == FieldKind::kText) {
      auto* text = reinterpret_cast<char16_t*>(at);
      const std::u16string fill = Sample(seed, f.size / sizeof(char16_t) - 1);
      std::memcpy(text, fill.c_str(), (fill.size() + 1) * sizeof(char16_t));
    } else if (f.kind == FieldKind::kInt16) {
      const int16_t v = low ? std::numeric_limits<int16_t>::min() : INT16_MAX;
      std::memcpy(at, &v, sizeof v);
    } else if (f.kind == FieldKind::kInt32) {
      const int32_t v = low ? std::numeric_limits<int32_t>::min() : INT32_MAX;
      std::memcpy(at, &v, sizeof v);
    }
  }
  if constexpr (std::is_same_v<Record, SmsAreaBroadcast>) {
    std::memset(r.recvtime, 0, sizeof r.recvtime);
    SetText(r.recvtime, Sample(seed, 15));
  }
  return r;
}

}  // namespace zusms::testing

#endif  // ZUSMS_TESTS_RECORDTRAITS_H_
