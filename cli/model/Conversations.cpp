#include "model/Conversations.h"

#include <algorithm>
#include <map>
#include <set>

#include "model/Multimedia.h"
#include "model/ReadState.h"
#include "model/Records.h"

namespace zusms::cli {

std::vector<Conversation> GroupByPerson(Store& store, const Selection& which,
                                        const PhoneNumbers& numbers) {
  const UnreadHeads unread(store);
  std::map<std::u16string, std::string> keys;  // each way of writing a number read once
  // A conversation with the moments of its first and last message and of
  // the name kept.
  struct Gathered {
    Conversation c;
    int64_t first = 0, last = 0, named = 0;
  };
  std::map<std::string, Gathered> by_key;
  std::map<uint32_t, std::vector<std::string>> groups;  // group messages' members
  for (GroupMessage& g : GroupMessages(store, numbers)) groups[g.id] = std::move(g.members);
  ForEachSelected(store, which, [&](Message&& m) {
    const SmsHead& h = m.head();
    auto [key, added] = keys.try_emplace(std::u16string(FieldText(h.tel, std::size(h.tel))));
    if (added) key->second = numbers.Key(Utf8(h.tel));
    const auto group = groups.find(m.id());
    const std::string person = group == groups.end() ? key->second : GroupKey(group->second);
    Gathered& gathered = by_key[person];
    Conversation& c = gathered.c;
    if (group != groups.end()) c.members = group->second;
    // By the moment a time names; one that names none (-1) is the oldest.
    const std::string time = Utf8(h.recvtime);
    const int64_t at = ParseTimeText(time);
    if (c.entries.empty() || at < gathered.first) c.first = time, gathered.first = at;
    if (c.entries.empty() || at > gathered.last) c.last = time, gathered.last = at;
    if (h.name[0] != 0 && group == groups.end() && (c.name.empty() || at > gathered.named)) {
      if (std::string name = Utf8(h.name); !ShowsNothing(name)) {
        c.name = std::move(name);
        gathered.named = at;
      }
    }
    if (unread.Unread(m)) ++c.unread;
    c.entries.push_back({at, m.id()});
  });
  // A person the messages give no name, and the members of groups: named
  // by what else the store knows.
  std::set<std::string> unnamed;
  for (const auto& [key, gathered] : by_key) {
    const Conversation& c = gathered.c;
    if (c.members.empty() && c.name.empty()) unnamed.insert(key);
    unnamed.insert(c.members.begin(), c.members.end());
  }
  const std::map<std::string, std::string> names = NamesOf(
      store, numbers, unnamed,
      [&](const std::string& key) {
        const auto c = by_key.find(key);
        return c == by_key.end() ? std::string() : c->second.c.name;
      },
      which.All(), [&](uint32_t id) { return groups.contains(id); });
  for (auto& [key, gathered] : by_key) {
    Conversation& c = gathered.c;
    const auto name = names.find(key);
    if (c.members.empty() && c.name.empty() && name != names.end()) c.name = name->second;
    c.member_names = MemberNames(c.members, names);
  }
  std::vector<Conversation> all;
  all.reserve(by_key.size());
  while (!by_key.empty()) {  // each taken out as it is moved, so as not to be held twice
    auto node = by_key.extract(by_key.begin());
    Conversation& c = node.mapped().c;
    c.key = std::move(node.key());
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

std::map<std::string, std::string> NamesOf(
    Store& store, const PhoneNumbers& numbers, const std::set<std::string>& keys,
    const std::function<std::string(const std::string&)>& known, bool all_read,
    const std::function<bool(uint32_t)>& in_group) {
  std::map<std::string, std::string> names;
  std::set<std::string> left;
  for (const std::string& key : keys) {
    if (std::string name = known(key); !ShowsNothing(name)) {
      names.emplace(key, std::move(name));
    } else {
      left.insert(key);
    }
  }
  if (!all_read && !left.empty()) {
    std::map<std::u16string, std::string> wanted;  // each way of writing a number: its key,
                                                   // or "" for one not looked for
    std::map<std::string, std::string> name_time;
    Selection theirs;
    theirs.number_is = [&](std::u16string_view tel) {
      auto [at, added] = wanted.try_emplace(std::u16string(tel));
      if (added) {
        std::string key = numbers.Key(Utf8(tel.data(), tel.size()));
        if (left.contains(key)) at->second = std::move(key);
      }
      return !at->second.empty();
    };
    ForEachSelected(store, theirs, [&](Message&& m) {
      const SmsHead& h = m.head();
      if (in_group(m.id())) return;
      const std::string& key = wanted[std::u16string(FieldText(h.tel, std::size(h.tel)))];
      std::string name = Utf8(h.name), time = Utf8(h.recvtime);
      if (key.empty() || ShowsNothing(name)) return;
      if (auto [at, added] = name_time.try_emplace(key, time); added || time > at->second) {
        at->second = time;
        names[key] = std::move(name);
      }
    });
    for (const auto& [key, name] : names) left.erase(key);
  }
  if (left.empty()) return names;
  for (const SmsRecieverHistory& r : ReadAll<SmsRecieverHistory>(
           store, GetZuSmsReceiverHistoryCount, GetAllZuSmsReceiverHistory, "recipient history")) {
    std::string name = Utf8(r.name);
    const auto key = left.find(numbers.Key(Utf8(r.tel)));
    if (key != left.end() && !ShowsNothing(name)) {
      names.emplace(*key, std::move(name));
      left.erase(key);
    }
  }
  return names;
}

std::vector<std::string> MemberNames(const std::vector<std::string>& members,
                                     const std::map<std::string, std::string>& names) {
  std::vector<std::string> named;
  for (const std::string& m : members) {
    const auto name = names.find(m);
    named.push_back(name == names.end() ? "" : name->second);
  }
  return named;
}

std::string MembersShown(const std::vector<std::string>& members,
                         const std::vector<std::string>& names) {
  if (std::all_of(names.begin(), names.end(), [](const std::string& n) { return n.empty(); })) {
    return "";
  }
  std::string shown;
  for (size_t i = 0; i < members.size(); ++i) {
    shown += (i ? kMemberSeparator : "") +
             (i < names.size() && !names[i].empty() ? names[i] : members[i]);
  }
  return shown;
}

}  // namespace zusms::cli
