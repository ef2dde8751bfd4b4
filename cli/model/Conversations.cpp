#include "model/Conversations.h"

#include <algorithm>
#include <map>

#include "model/ReadState.h"
#include "model/Records.h"

namespace zusms::cli {

std::vector<Conversation> GroupByPerson(Store& store, const Selection& which,
                                        const PhoneNumbers& numbers) {
  const UnreadHeads unread(store);
  std::map<std::u16string, std::string> keys;  // each way of writing a number read once
  std::map<std::string, Conversation> by_key;
  std::map<std::string, std::string> name_time;  // of the name kept
  ForEachSelected(store, which, [&](Message&& m) {
    const SmsHead& h = m.head();
    auto [key, added] = keys.try_emplace(std::u16string(FieldText(h.tel, std::size(h.tel))));
    if (added) key->second = numbers.Key(Utf8(h.tel));
    Conversation& c = by_key[key->second];
    const std::string time = Utf8(h.recvtime);
    if (c.entries.empty() || time < c.first) c.first = time;
    if (c.entries.empty() || time > c.last) c.last = time;
    if (h.name[0] != 0 && (c.name.empty() || time > name_time[key->second])) {
      c.name = Utf8(h.name);
      name_time[key->second] = time;
    }
    if (unread.Unread(m)) ++c.unread;
    c.entries.push_back({ParseTimeText(time), m.id()});
  });
  // A person the messages give no name: the recipient history's, if any.
  for (const SmsRecieverHistory& r : ReadAll<SmsRecieverHistory>(
           store, GetZuSmsReceiverHistoryCount, GetAllZuSmsReceiverHistory, "recipient history")) {
    const auto c = by_key.find(numbers.Key(Utf8(r.tel)));
    if (c != by_key.end() && c->second.name.empty() && r.name[0] != 0) {
      c->second.name = Utf8(r.name);
    }
  }
  std::vector<Conversation> all;
  all.reserve(by_key.size());
  for (auto& [key, c] : by_key) {
    c.key = key;
    std::sort(c.entries.begin(), c.entries.end(), [](const auto& a, const auto& b) {
      return a.time != b.time ? a.time < b.time : a.id < b.id;
    });
    c.entries.shrink_to_fit();
    all.push_back(std::move(c));
  }
  std::stable_sort(all.begin(), all.end(),
                   [](const Conversation& a, const Conversation& b) { return a.last > b.last; });
  return all;
}

}  // namespace zusms::cli
