#include "model/Conversations.h"

#include <algorithm>
#include <map>

#include "model/Multimedia.h"
#include "model/ReadState.h"
#include "model/Records.h"

namespace zusms::cli {

std::vector<Conversation> GroupByPerson(Store& store, const Selection& which,
                                        const PhoneNumbers& numbers) {
  const UnreadHeads unread(store);
  std::map<std::u16string, std::string> keys;  // each way of writing a number read once
  std::map<std::string, Conversation> by_key;
  std::map<std::string, int64_t> name_time;             // of the name kept
  std::map<uint32_t, std::vector<std::string>> groups;  // group messages' members
  for (GroupMessage& g : GroupMessages(store, numbers)) groups[g.id] = std::move(g.members);
  std::map<std::string, std::pair<int64_t, int64_t>> span;  // of first and last
  ForEachSelected(store, which, [&](Message&& m) {
    const SmsHead& h = m.head();
    auto [key, added] = keys.try_emplace(std::u16string(FieldText(h.tel, std::size(h.tel))));
    if (added) key->second = numbers.Key(Utf8(h.tel));
    const auto group = groups.find(m.id());
    const std::string person = group == groups.end() ? key->second : GroupKey(group->second);
    Conversation& c = by_key[person];
    if (group != groups.end()) c.members = group->second;
    // By the moment a time names; one that names none (-1) is the oldest.
    const std::string time = Utf8(h.recvtime);
    const int64_t at = ParseTimeText(time);
    auto& [first, last] = span[person];
    if (c.entries.empty() || at < first) c.first = time, first = at;
    if (c.entries.empty() || at > last) c.last = time, last = at;
    if (h.name[0] != 0 && group == groups.end() && (c.name.empty() || at > name_time[person])) {
      c.name = Utf8(h.name);
      name_time[person] = at;
    }
    if (unread.Unread(m)) ++c.unread;
    c.entries.push_back({at, m.id()});
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
  std::stable_sort(all.begin(), all.end(), [](const Conversation& a, const Conversation& b) {
    return a.entries.back().time > b.entries.back().time;
  });
  return all;
}

}  // namespace zusms::cli
