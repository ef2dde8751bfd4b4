// Random sequences of record operations with random records (texts with and
// without terminators, surrogates, extreme numbers) for two users. No
// operation of one user may read, count, change or delete a row of the
// other: the other user's rows are compared before and after every step.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "FuzzStore.h"
#include "ZuSmsDB.h"

namespace {

SmsDatabase* g_store[2] = {nullptr, nullptr};
std::set<uint32_t> g_ids[2];  // ids each user's adds returned

template <typename Record>
void Fill(FuzzedDataProvider& in, Record& rec) {
  // Random bytes over the whole record: texts may lack a terminator or hold
  // surrogate halves, numbers take any value.
  const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(sizeof rec);
  std::memset(&rec, 0, sizeof rec);
  if (!bytes.empty()) std::memcpy(&rec, bytes.data(), bytes.size());
}

// One family's eight functions, and how to read everything a user has.
template <typename Record>
struct Family {
  int32_t (*add)(SmsDatabase*, Record*, uint32_t*);
  int32_t (*update)(SmsDatabase*, Record*);
  int32_t (*remove)(SmsDatabase*, uint32_t);
  int32_t (*remove_all)(SmsDatabase*);
  int32_t (*get)(SmsDatabase*, uint32_t, Record*);
  int32_t (*count)(SmsDatabase*, uint32_t*);
  int32_t (*ids)(SmsDatabase*, uint32_t*, uint32_t, uint32_t*);
  int32_t (*all)(SmsDatabase*, Record*, uint32_t, uint32_t*);

  std::string Snapshot(SmsDatabase* store) const {
    uint32_t n = 0;
    Check(count(store, &n) == 0, "count");
    std::vector<Record> recs(n + 1);
    std::memset(recs.data(), 0, recs.size() * sizeof(Record));
    Check(all(store, recs.data(), n, &n) == 0, "list");
    std::vector<std::string> rows;
    for (uint32_t i = 0; i < n; ++i) {
      rows.emplace_back(reinterpret_cast<const char*>(&recs[i]), sizeof(Record));
    }
    std::sort(rows.begin(), rows.end());
    std::string out;
    for (const auto& r : rows) out += r;
    return out;
  }

  void Step(FuzzedDataProvider& in, int actor) const {
    SmsDatabase* store = g_store[actor];
    const int other = 1 - actor;
    // An id of either user, or any number at all.
    uint32_t id = in.ConsumeIntegral<uint32_t>();
    const int pick = in.ConsumeIntegralInRange<int>(0, 2);
    if (pick < 2 && !g_ids[pick].empty()) {
      id = *std::next(g_ids[pick].begin(), in.ConsumeIntegralInRange<long>(
                                               0, static_cast<long>(g_ids[pick].size()) - 1));
    }
    Record rec;
    Fill(in, rec);
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
      case 0: {
        uint32_t new_id = 0;
        if (add(store, &rec, &new_id) == 0) {
          Check(g_ids[other].count(new_id) == 0, "an id of the other user handed out again");
          g_ids[actor].insert(new_id);
        }
        break;
      }
      case 1:
        rec.id = static_cast<int32_t>(id);
        update(store, &rec);
        break;
      case 2:
        remove(store, id);
        break;
      case 3:
        if (in.ConsumeIntegralInRange<int>(0, 9) == 0) remove_all(store);
        break;
      case 4: {
        const Record before = rec;
        const int32_t status = get(store, id, &rec);
        if (g_ids[other].count(id) && !g_ids[actor].count(id)) {
          Check(std::memcmp(&rec, &before, sizeof rec) == 0, "read another user's row");
        }
        Check(status == 0 || status == -1, "get status");
        break;
      }
      case 5: {
        uint32_t n = 0;
        count(store, &n);
        break;
      }
      case 6: {
        const uint32_t capacity = in.ConsumeIntegralInRange<uint32_t>(0, 64);
        std::vector<uint32_t> list(capacity + 1, 0xFFFFFFFFu);
        uint32_t n = 0;
        if (ids(store, list.data(), capacity, &n) == 0) {
          Check(n <= capacity && list[capacity] == 0xFFFFFFFFu, "id list beyond capacity");
          for (uint32_t i = 0; i < n; ++i) {
            Check(!g_ids[other].count(list[i]) || g_ids[actor].count(list[i]),
                  "listed another user's id");
          }
        }
        break;
      }
      default: {
        const uint32_t capacity = in.ConsumeIntegralInRange<uint32_t>(0, 64);
        std::vector<Record> list(capacity);
        uint32_t n = 0;
        if (all(store, list.data(), capacity, &n) == 0) {
          for (uint32_t i = 0; i < n; ++i) {
            const auto row = static_cast<uint32_t>(list[i].id);
            Check(!g_ids[other].count(row) || g_ids[actor].count(row), "read another user's row");
          }
        }
      }
    }
  }
};

#define ZU_FAMILY(Record, Name)                                                  \
  Family<Record> {                                                               \
    AddZu##Name, UpdateZu##Name, DeleteZu##Name, DeleteAllZu##Name, GetZu##Name, \
        GetZu##Name##Count, GetAllZu##Name##ID, GetAllZu##Name                   \
  }
const Family<SmsHead> kHeads = ZU_FAMILY(SmsHead, SmsHead);
const Family<SmsFolder> kFolders = ZU_FAMILY(SmsFolder, SmsFolder);
const Family<SmsFilter> kFilters = ZU_FAMILY(SmsFilter, SmsFilter);
const Family<SmsPhrase> kPhrases = ZU_FAMILY(SmsPhrase, SmsPhrase);
const Family<SmsAreaBroadcast> kPages = ZU_FAMILY(SmsAreaBroadcast, SmsAreaBroadcast);
#undef ZU_FAMILY

std::string Everything(SmsDatabase* store) {
  return kHeads.Snapshot(store) + "|" + kFolders.Snapshot(store) + "|" + kFilters.Snapshot(store) +
         "|" + kPhrases.Snapshot(store) + "|" + kPages.Snapshot(store);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  OpenTwoStores(g_store[0], g_store[1]);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
    const int actor = in.ConsumeIntegralInRange<int>(0, 1);
    const std::string before = Everything(g_store[1 - actor]);
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
      case 0:
        kHeads.Step(in, actor);
        break;
      case 1:
        kFolders.Step(in, actor);
        break;
      case 2:
        kFilters.Step(in, actor);
        break;
      case 3:
        kPhrases.Step(in, actor);
        break;
      default:
        kPages.Step(in, actor);
    }
    Check(Everything(g_store[1 - actor]) == before, "one user's step changed the other's rows");
  }
  // Keep the store small: past a few hundred heads, start the users afresh.
  uint32_t n = 0;
  GetZuSmsHeadCount(g_store[0], &n);
  if (n > 300) DeleteAllZuSmsHead(g_store[0]);
  GetZuSmsHeadCount(g_store[1], &n);
  if (n > 300) DeleteAllZuSmsHead(g_store[1]);
  return 0;
}
