// Random filters (selectors, comparisons, values, joins, orderings, texts of
// any length) run against a small store of two users. A query may refuse a
// filter with -1; it must never crash, write beyond its array, or hand back
// a row of the other user.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "FuzzStore.h"
#include "ZuSmsDB.h"

namespace {

SmsDatabase* g_mine = nullptr;
SmsDatabase* g_theirs = nullptr;
std::set<uint32_t> g_my_heads, g_my_folders;

// Selectors whose value is a pointer (text, or the UUID's bytes). A caller
// that puts a number there hands the store a wild pointer, which no library
// can detect; those get a real text, real bytes or null.
bool TakesPointer(int32_t field) {
  return (field >= 6 && field <= 10) || field == 17 || field == 18 || field == 22;
}

void Fill(SmsDatabase* store, int count, const char16_t* text) {
  for (int i = 0; i < count; ++i) {
    SmsHead h;
    std::memset(&h, 0, sizeof h);
    h.fid = i % 4 + 1;
    h.index = static_cast<int16_t>(i);
    for (int k = 0; text[k] && k < 600; ++k) h.content[k] = text[k];
    h.name[0] = static_cast<char16_t>(u'A' + i % 26);
    h.createtime[0] = static_cast<char16_t>(u'0' + i % 10);
    uint32_t id = 0;
    AddZuSmsHead(store, &h, &id);
    if (store == g_mine) g_my_heads.insert(id);
  }
  SmsFolder f;
  std::memset(&f, 0, sizeof f);
  f.fname[0] = u'x';
  uint32_t id = 0;
  AddZuSmsFolder(store, &f, &id);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  OpenTwoStores(g_mine, g_theirs);
  Fill(g_mine, 30, u"mine % _ \\ 'quoted' \u4e2d\u6587");
  Fill(g_theirs, 30, u"OTHER");
  uint32_t ids[64], n = 0;
  GetAllZuSmsFolderID(g_mine, ids, 64, &n);
  g_my_folders.insert(ids, ids + n);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint32_t filter_count = in.ConsumeIntegralInRange<uint32_t>(0, 3);
  std::vector<std::vector<_MimerQueryFilterItem>> items(filter_count);
  std::vector<std::vector<_MimerQueryOrderItem>> orders(filter_count);
  std::vector<std::u16string> texts;
  texts.reserve(64);
  std::vector<std::vector<uint8_t>> bytes;
  bytes.reserve(64);
  std::vector<MimerQueryFilter> filters(filter_count);
  for (uint32_t f = 0; f < filter_count; ++f) {
    const size_t item_count = in.ConsumeIntegralInRange<size_t>(0, 8);
    for (size_t i = 0; i < item_count; ++i) {
      _MimerQueryFilterItem item{};
      item.field = in.ConsumeIntegralInRange<int32_t>(-1, 30);
      item.op = in.ConsumeIntegralInRange<int32_t>(-1, 12);
      const int kind = in.ConsumeIntegralInRange<int>(TakesPointer(item.field) ? 1 : 0, 3);
      switch (kind) {
        case 0:
          item.value.number = in.ConsumeIntegral<int64_t>();
          break;
        case 1: {
          std::u16string text;
          const size_t length = in.ConsumeIntegralInRange<size_t>(0, 700);
          for (size_t k = 0; k < length && in.remaining_bytes() > 0; ++k) {
            const auto c = in.ConsumeIntegral<uint16_t>();
            text += static_cast<char16_t>(c == 0 ? u'%' : c);
          }
          texts.push_back(std::move(text));
          texts.back().reserve(16);  // 16 bytes readable even when read as a UUID
          item.value.text = texts.back().c_str();
          break;
        }
        case 2:
          // 16 bytes, then a zero character, so that they also read as a text.
          bytes.push_back(in.ConsumeBytes<uint8_t>(16));
          bytes.back().resize(18);
          item.value.bytes = bytes.back().data();
          break;
        default:
          item.value.text = nullptr;
          break;
      }
      items[f].push_back(item);
    }
    const size_t order_count = in.ConsumeIntegralInRange<size_t>(0, 40);
    for (size_t i = 0; i < order_count; ++i) {
      orders[f].push_back(
          {in.ConsumeIntegralInRange<int32_t>(-1, 30), in.ConsumeIntegralInRange<int32_t>(-1, 3)});
    }
    const bool lie = in.ConsumeBool();  // counts that do not match null arrays
    filters[f] = {static_cast<uint32_t>(items[f].size()) + (lie && items[f].empty() ? 1 : 0),
                  items[f].empty() ? nullptr : items[f].data(),
                  in.ConsumeIntegralInRange<int32_t>(-1, 3),
                  static_cast<uint32_t>(orders[f].size()) + (lie ? 2 : 0),
                  orders[f].empty() || lie ? nullptr : orders[f].data()};
  }
  const uint32_t capacity = in.ConsumeIntegralInRange<uint32_t>(0, 40);
  std::vector<SmsHead> heads(capacity + 1);
  std::vector<SmsFolder> folders(capacity + 1);
  std::vector<uint32_t> ids(capacity + 1, 0xFFFFFFFFu);
  std::memset(heads.data(), 0x77, heads.size() * sizeof(SmsHead));
  MimerQueryFilter* list = filters.empty() ? nullptr : filters.data();
  uint32_t n = 0xABCDu;
  int32_t status = 0;
  const int which = in.ConsumeIntegralInRange<int>(0, 5);
  switch (which) {
    case 0:
      status = CombineZuQuerySmsHeadCount(g_mine, list, filter_count, &n);
      break;
    case 1:
      status = CombineZuQuerySmsHeadID(g_mine, list, filter_count, ids.data(), capacity, &n);
      break;
    case 2:
      status = CombineZuQuerySmsHead(g_mine, list, filter_count, heads.data(), capacity, &n);
      break;
    default: {
      MimerQueryFilter empty{};
      MimerQueryFilter* one = list ? list : &empty;
      if (which == 3) status = QueryZuSmsFolderCount(g_mine, one, &n);
      if (which == 4) status = QueryZuSmsFolderID(g_mine, one, ids.data(), capacity, &n);
      if (which == 5) status = QueryZuSmsFolder(g_mine, one, folders.data(), capacity, &n);
    }
  }
  Check(status == 0 || status == -1, "status");
  if (status != 0) return 0;
  if (which == 0 || which == 3) {
    Check(n <= (which ? g_my_folders : g_my_heads).size(), "a count larger than the user's rows");
    return 0;
  }
  Check(n <= capacity, "more elements than capacity");
  Check(ids[capacity] == 0xFFFFFFFFu, "id array written beyond its capacity");
  for (uint32_t i = 0; i < n; ++i) {
    if (which == 1 || which == 4)
      Check((which == 1 ? g_my_heads : g_my_folders).count(ids[i]) == 1, "another user's id");
    if (which == 2) {
      Check(g_my_heads.count(static_cast<uint32_t>(heads[i].id)) == 1, "another user's head");
      Check(heads[i].content[0] != u'O', "another user's content");
    }
    if (which == 5)
      Check(g_my_folders.count(static_cast<uint32_t>(folders[i].id)) == 1, "another user's folder");
  }
  const auto* beyond = reinterpret_cast<const uint8_t*>(&heads[capacity]);
  Check(std::all_of(beyond, beyond + sizeof(SmsHead), [](uint8_t b) { return b == 0x77; }),
        "record beyond capacity");
  return 0;
}
