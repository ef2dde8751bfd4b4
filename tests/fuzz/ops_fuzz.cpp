// Random sequences of record operations with random records (texts with and
// without terminators, surrogates, extreme numbers) for two users. No
// operation of one user may read, count, change or delete a row of the
// other: the other user's rows are compared before and after every step.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "../RecordTraits.h"
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

// Every row a user has of a family, sorted (a listing's order is no concern here).
template <typename Record>
std::string Snapshot(SmsDatabase* store) {
  using T = zusms::testing::Traits<Record>;
  uint32_t n = 0;
  Check(T::Count(store, &n) == 0, "count");
  std::vector<Record> recs(n + 1);
  std::memset(recs.data(), 0, recs.size() * sizeof(Record));
  Check(T::All(store, recs.data(), n, &n) == 0, "list");
  std::vector<std::string> rows;
  for (uint32_t i = 0; i < n; ++i)
    rows.emplace_back(reinterpret_cast<char*>(&recs[i]), sizeof(Record));
  std::sort(rows.begin(), rows.end());
  return std::accumulate(rows.begin(), rows.end(), std::string());
}

template <typename Record>
void Step(FuzzedDataProvider& in, int actor) {
  using T = zusms::testing::Traits<Record>;
  SmsDatabase* store = g_store[actor];
  const int other = 1 - actor;
  // An id of either user, or any number at all.
  uint32_t id = in.ConsumeIntegral<uint32_t>();
  const int pick = in.ConsumeIntegralInRange<int>(0, 2);
  if (pick < 2 && !g_ids[pick].empty()) {
    id = *std::next(g_ids[pick].begin(),
                    in.ConsumeIntegralInRange<long>(0, static_cast<long>(g_ids[pick].size()) - 1));
  }
  Record rec;
  Fill(in, rec);
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: {
      uint32_t new_id = 0;
      if (T::Add(store, &rec, &new_id) == 0) {
        Check(g_ids[other].count(new_id) == 0, "an id of the other user handed out again");
        g_ids[actor].insert(new_id);
      }
      break;
    }
    case 1:
      rec.id = static_cast<int32_t>(id);
      T::Update(store, &rec);
      break;
    case 2:
      T::Delete(store, id);
      break;
    case 3:
      if (in.ConsumeIntegralInRange<int>(0, 9) == 0) T::DeleteAll(store);
      break;
    case 4: {
      const Record before = rec;
      const int32_t status = T::Get(store, id, &rec);
      if (g_ids[other].count(id) && !g_ids[actor].count(id))
        Check(std::memcmp(&rec, &before, sizeof rec) == 0, "read another user's row");
      Check(status == 0 || status == -1, "get status");
      break;
    }
    case 5: {
      uint32_t n = 0;
      T::Count(store, &n);
      break;
    }
    case 6: {
      const uint32_t capacity = in.ConsumeIntegralInRange<uint32_t>(0, 64);
      std::vector<uint32_t> list(capacity + 1, 0xFFFFFFFFu);
      uint32_t n = 0;
      if (T::AllIds(store, list.data(), capacity, &n) == 0) {
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
      if (T::All(store, list.data(), capacity, &n) == 0) {
        for (uint32_t i = 0; i < n; ++i) {
          const auto row = static_cast<uint32_t>(list[i].id);
          Check(!g_ids[other].count(row) || g_ids[actor].count(row), "read another user's row");
        }
      }
    }
  }
}

void (*const kSteps[])(FuzzedDataProvider&, int) = {Step<SmsHead>, Step<SmsFolder>, Step<SmsFilter>,
                                                    Step<SmsPhrase>, Step<SmsAreaBroadcast>};

std::string Everything(SmsDatabase* store) {
  return Snapshot<SmsHead>(store) + "|" + Snapshot<SmsFolder>(store) + "|" +
         Snapshot<SmsFilter>(store) + "|" + Snapshot<SmsPhrase>(store) + "|" +
         Snapshot<SmsAreaBroadcast>(store);
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
    kSteps[in.ConsumeIntegralInRange<int>(0, 4)](in, actor);
    Check(Everything(g_store[1 - actor]) == before, "one user's step changed the other's rows");
  }
  // Keep the store small: past a few hundred heads, start the users afresh.
  uint32_t n = 0;
  for (SmsDatabase* store : g_store)
    if (GetZuSmsHeadCount(store, &n) == 0 && n > 300) DeleteAllZuSmsHead(store);
  return 0;
}
