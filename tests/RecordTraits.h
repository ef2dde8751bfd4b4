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

template <>
struct Traits<SmsHead> {
  static constexpr const char* kTable = "SmsHead";
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

}  // namespace zusms::testing

#endif  // ZUSMS_TESTS_RECORDTRAITS_H_
