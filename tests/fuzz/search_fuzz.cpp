// Random search terms (any UTF-16, unpaired surrogates, quotes, FTS5's own
// syntax) and random messages added between searches: the index must
// answer exactly what reading every message answers, for the store's user
// only, and a search of no terms fails cleanly. Random numbers, as messages
// write them and as a caller asks for them, under random regions: the
// conversations agree too, and a person's key is its own key.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "Exports.h"
#include "FuzzStore.h"
#include "MimerException.h"
#include "Numbers.h"
#include "TextIndex.h"
#include "ZuSmsDB.h"

namespace {

SmsDatabase* g_mine = nullptr;
SmsDatabase* g_theirs = nullptr;  // another user's messages, never found

void Add(SmsDatabase* store, const std::u16string& text, int batid, int parts, int index,
         const std::u16string& tel = u"1") {
  SmsHead h;
  std::memset(&h, 0, sizeof h);
  h.fid = 1;
  h.batid = batid;
  h.longsms = static_cast<int16_t>(parts);
  h.index = static_cast<int16_t>(index);
  std::memcpy(h.content, text.data(), std::min<size_t>(text.size(), 670) * 2);
  std::memcpy(h.tel, tel.data(), std::min<size_t>(tel.size(), 32) * 2);
  h.name[0] = static_cast<char16_t>(u'A' + index);
  uint32_t id = 0;
  AddZuSmsHead(store, &h, &id);
}

std::u16string Text(FuzzedDataProvider& in, size_t most) {
  std::u16string text;
  const size_t length = in.ConsumeIntegralInRange<size_t>(0, most);
  for (size_t k = 0; k < length && in.remaining_bytes() > 0; ++k) {
    // Mostly characters that matter to folding or to FTS5's syntax.
    static const char16_t kSome[] =
        u" \"*:^-(){}+NEARORAND\u00df\u0130\u212a\u0301e\u00e9\u4e2d"
        u"\u6587\xd83d\xde00\xd800\u3000\t0123456789";
    text += in.ConsumeBool() ? kSome[in.ConsumeIntegralInRange<size_t>(0, std::size(kSome) - 2)]
                             : in.ConsumeIntegral<char16_t>();
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  OpenTwoStores(g_mine, g_theirs);
  for (const char16_t* text : {u"Stra\u00dfe caf\u00e9 \u4e2d\u6587 \"quoted\" a*b NEAR(x y)",
                               u"STRASSE Cafe\u0301 \xd83d\xde00 1-800 ^start", u"{col}: -not"}) {
    Add(g_mine, text, 0, 0, 0);
    Add(g_theirs, text, 0, 0, 0);
  }
  Add(g_mine, u"first half of a lo", 9, 2, 1);
  Add(g_mine, u"ng message", 9, 2, 2);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    Add(g_mine, Text(in, 80), in.ConsumeIntegralInRange<int>(0, 2), 2,
        in.ConsumeIntegralInRange<int>(1, 2));
  }
  if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
    static const char16_t* kRegions[] = {u"", u"CN", u"us", u"RU", u"ZZ", u"\xd800"};
    SetZuSmsSetting(g_mine, u"region", kRegions[in.ConsumeIntegralInRange<size_t>(0, 5)]);
  }
  const std::u16string tel = Text(in, 20), number = in.ConsumeBool() ? tel : Text(in, 20);
  if (in.ConsumeBool()) Add(g_mine, u"x", 0, 0, 0, tel);
  for (const char* region : {"", "CN", "US", "RU"}) {
    const std::u16string key = zusms::search::PersonKey(tel, region);
    Check(zusms::search::PersonKey(key, region) == key, "a key is not its own key");
  }
  {
    std::vector<uint32_t> found[2];
    uint64_t totals[2] = {0, 0};
    for (const bool scan : {false, true}) {
      CMimerTextIndex::Conversation(zusms::HeadSearchSource(), 1, number.c_str(), 0, 4, found[scan],
                                    &totals[scan], scan);
    }
    Check(found[0] == found[1] && totals[0] == totals[1], "the conversations differ");
  }
  const uint32_t flags = in.ConsumeIntegralInRange<uint32_t>(0, 7);
  const std::u16string terms = Text(in, 40);
  std::vector<uint32_t> ids(8);
  uint32_t n = 0;
  uint64_t total = 0;
  const int32_t status = SearchZuSmsHead(g_mine, terms.c_str(), flags, ids.data(), 8, &n, &total);
  CMimerTextQuery query{terms, (flags & ZU_SEARCH_ACCENTS) != 0, (flags & ZU_SEARCH_ANYWHERE) != 0,
                        (flags & ZU_SEARCH_OLDEST) != 0};
  query.terms = terms.c_str();  // as the export reads it: up to the first zero
  std::vector<uint32_t> scanned;
  uint64_t scanned_total = 0;
  try {
    CMimerTextIndex::Search(zusms::HeadSearchSource(), 1, query, 8, scanned, &scanned_total, true);
  } catch (const CMimerException&) {
    Check(status == -1, "a search the scan refuses succeeded");
    return 0;
  }
  Check(status == 0, "a search failed");
  ids.resize(n);
  Check(ids == scanned && total == scanned_total, "the index and the scan differ");
  return 0;
}
