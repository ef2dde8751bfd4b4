// What the parameterised record tests need to know of each record family:
// its exported functions, its table, and how to fill and compare a record.
#ifndef ZUSMS_TESTS_RECORDTRAITS_H_
#define ZUSMS_TESTS_RECORDTRAITS_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "RecordFrame.h"
#include "ZuSmsDB.h"

namespace zusms::testing {

template <typename Record>
struct Traits;

// The exported functions of a family, under names the tests share.
#define ZU_TRAITS_FUNCTIONS(Name)                      \
  static constexpr const char* kTable = #Name;         \
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
  for (size_t i = 0; i < length; ++i) s += static_cast<char16_t>(u'a' + (seed + int(i)) % 26);
  return s;
}

// Texts people and other programs leave in a store: the empty one first,
// white space and invisible characters, letters whose folding changes length
// or leaves ASCII, accents composed and not, Chinese, emoji, Arabic and
// Persian, control characters, markup, numbers and times.
inline const std::u16string kOddTexts[] = {u"",
                                           u" ",
                                           u"   \t ",
                                           u"\ufeffhello",
                                           u"\u200b\u200e\u2060 \u00a0",
                                           u"e\u0301",
                                           u"\u5f20\u4f1f \u751f\u65e5\u5feb\u4e50",
                                           u"\U0001F600\U0001F44D\U0001F3FD",
                                           u"line\nbreak\r\n\ttab",
                                           u"<b>&amp;\"quoted\" 'single'</b>",
                                           u"\u0645\u0631\u062d\u0628\u0627 \u202e",
                                           u"\x01\x1f\x7f\u0085\u2028",
                                           u"+86 138 0013 8000",
                                           u"0",
                                           u"20240102030405",
                                           u"19850101000000",
                                           u"Straße STRASSE strasse",
                                           u"Caf\u00e9 cafe\u0301 CAF\u00c9",
                                           u"\u212a kelvin \u212b",
                                           u"\u6211\u4eec\u660e\u5929\u89c1\u9762\u5427",
                                           u"\u751f\u65e5\u5feb\u4e50 \U0001F382\U0001F382",
                                           u"\u0633\u0644\u0627\u0645 \u062f\u0648\u0633\u062a",
                                           u"\ufb03 ffi office \u0130stanbul",
                                           u"tab\there\u00a0nbsp\u3000ideo  spaces",
                                           u"call 138 0013 8000 or +8613800138000",
                                           u"\u1f08\u0345 \u1f88 \u03b1\u0313\u0345 greek",
                                           u"\"quoted\" 100% _under_"};

// Sets every number and text of `r` but its id from `seed`, field by field
// through the family's own field table: numbers that differ by seed and
// field and texts of a few characters or, when `longest`, every text as long
// as its field holds and every number at one extreme or the other.
template <typename Record>
void Fill(Record& r, int seed, bool longest) {
  int k = seed;
  for (const Field& f : FamilyOf<Record>().row_fields) {
    auto* at = reinterpret_cast<char*>(&r) + f.offset;
    const bool low = ++k % 2;
    if (f.offset == offsetof(Record, id)) continue;
    const int32_t n = (seed + 1) * (k % 7 + 1) * (low ? -1 : 1);
    if (f.kind == FieldKind::kText) {
      const size_t chars = f.size / sizeof(char16_t) - 1;
      const std::u16string fill =
          u"\u5f20" + Sample(seed, (longest ? chars : std::min<size_t>(chars, 12)) - 1);
      std::memcpy(at, fill.c_str(), (fill.size() + 1) * sizeof(char16_t));
    } else if (f.kind == FieldKind::kInt16) {
      const int16_t v = !longest ? static_cast<int16_t>(n) : low ? INT16_MIN : INT16_MAX;
      std::memcpy(at, &v, sizeof v);
    } else if (f.kind == FieldKind::kInt32) {
      const int32_t v = !longest ? n : low ? INT32_MIN : INT32_MAX;
      std::memcpy(at, &v, sizeof v);
    }
  }
}

// Besides the functions and Make: kSeeded, the rows a user has from the
// open; kMissingGet/kMissingUpdate, the status for a missing row;
// KeepAssigned, copies what Add assigns into an expected record;
// kAddSetsIdFirst, a failed add leaves *newId's entry value in rec.id.
template <typename Record>
struct PlainTraits {
  static constexpr uint32_t kSeeded = 0;
  static constexpr int32_t kMissingGet = 0;
  static constexpr int32_t kMissingUpdate = 0;
  static constexpr bool kAddSetsIdFirst = false;
  static void KeepAssigned(Record&, const Record&) {}
  static Record Make(int seed) {
    Record r;
    std::memset(&r, 0, sizeof r);
    Fill(r, seed, false);
    return r;
  }
};

template <typename Record>
struct EntryIdTraits : PlainTraits<Record> {
  static constexpr bool kAddSetsIdFirst = true;
};

#define ZU_TRAITS(Record, Name, Base)    \
  template <>                            \
  struct Traits<Record> : Base<Record> { \
    ZU_TRAITS_FUNCTIONS(Name)            \
  };
ZU_TRAITS(SmsContent, SmsContent, PlainTraits)
ZU_TRAITS(SmsAreaBroadcast, SmsAreaBroadcast, PlainTraits)
ZU_TRAITS(SmsFilter, SmsFilter, EntryIdTraits)
ZU_TRAITS(SmsRecieverHistory, SmsReceiverHistory, EntryIdTraits)
ZU_TRAITS(SmsPhrase, SmsPhrase, EntryIdTraits)

template <>
struct Traits<SmsFolder> : PlainTraits<SmsFolder> {
  static constexpr uint32_t kSeeded = 14;  // the default folders
  static constexpr int32_t kMissingGet = -1;
  static constexpr int32_t kMissingUpdate = 100;
  static void KeepAssigned(SmsFolder& to, const SmsFolder& from) {
    to.FdId = from.FdId;
    to.system = from.system;
  }
  ZU_TRAITS_FUNCTIONS(SmsFolder)
};

// A head in a default folder, with a valid UUID (kept by the add) of its own.
template <>
struct Traits<SmsHead> : PlainTraits<SmsHead> {
  ZU_TRAITS_FUNCTIONS(SmsHead)
  static SmsHead Make(int seed) {
    SmsHead r = PlainTraits<SmsHead>::Make(seed);
    r.fid = seed % 14 + 1;
    for (int i = 0; i < 16; ++i) r.uuid[i] = static_cast<uint8_t>(seed + i + 1);
    r.uuid[8] = 0x80;
    return r;
  }
};

// Make(seed) with every text as long as its field holds (a cell broadcast's
// receive time as its column holds) and every number at an extreme.
template <typename Record>
Record Longest(int seed) {
  Record r = Traits<Record>::Make(seed);
  Fill(r, seed, true);
  if constexpr (std::is_same_v<Record, SmsAreaBroadcast>) {
    std::memset(r.recvtime, 0, sizeof r.recvtime);
    SetText(r.recvtime, Sample(seed, 15));
  }
  return r;
}

}  // namespace zusms::testing

#endif  // ZUSMS_TESTS_RECORDTRAITS_H_
