// What the parameterised record tests need to know of each record family:
// its exported functions, its table, and how to fill and compare a record.
#ifndef ZUSMS_TESTS_RECORDTRAITS_H_
#define ZUSMS_TESTS_RECORDTRAITS_H_

#include <cstring>
#include <string>

#include "ZuSmsDB.h"

namespace zusms::testing {

template <typename Record>
struct Traits;

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
//    never changes afterwards from a stored record into an expected one.
template <>
struct Traits<SmsHead> {
  static constexpr const char* kTable = "SmsHead";
  static constexpr uint32_t kSeeded = 0;
  static constexpr int32_t kMissingGet = 0;
  static constexpr int32_t kMissingUpdate = 0;
  static void KeepAssigned(SmsHead&, const SmsHead&) {}
  static constexpr auto Add = AddZuSmsHead;
  static constexpr auto Update = UpdateZuSmsHead;
  static constexpr auto Delete = DeleteZuSmsHead;
  static constexpr auto DeleteAll = DeleteAllZuSmsHead;
  static constexpr auto Get = GetZuSmsHead;
  static constexpr auto Count = GetZuSmsHeadCount;
  static constexpr auto AllIds = GetAllZuSmsHeadID;
  static constexpr auto All = GetAllZuSmsHead;

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
struct Traits<SmsFolder> {
  static constexpr const char* kTable = "SmsFolder";
  static constexpr uint32_t kSeeded = 14;  // the default folders
  static constexpr int32_t kMissingGet = -1;
  static constexpr int32_t kMissingUpdate = 100;
  static void KeepAssigned(SmsFolder& to, const SmsFolder& from) {
    to.FdId = from.FdId;
    to.system = from.system;
  }
  static constexpr auto Add = AddZuSmsFolder;
  static constexpr auto Update = UpdateZuSmsFolder;
  static constexpr auto Delete = DeleteZuSmsFolder;
  static constexpr auto DeleteAll = DeleteAllZuSmsFolder;
  static constexpr auto Get = GetZuSmsFolder;
  static constexpr auto Count = GetZuSmsFolderCount;
  static constexpr auto AllIds = GetAllZuSmsFolderID;
  static constexpr auto All = GetAllZuSmsFolder;

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

}  // namespace zusms::testing

#endif  // ZUSMS_TESTS_RECORDTRAITS_H_
