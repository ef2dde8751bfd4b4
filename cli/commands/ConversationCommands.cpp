// conversations, conversation WHO: messages by correspondent.
#include <fmt/format.h>

#include <iostream>
#include <map>
#include <set>

#include "Command.h"
#include "Selecting.h"
#include "model/Conversations.h"
#include "model/ReadState.h"
#include "model/Region.h"

namespace zusms::cli {

namespace {

struct Correspondent {
  Message latest;
  std::vector<std::string> members;       // of a group: every number's key
  std::vector<std::string> member_names;  // of a group: each member's name, or ""
  std::string name;                       // the newest message's that has one
  std::string name_time;
  size_t messages = 0, unread = 0;
  bool locked = false;
};

bool Newer(const SmsHead& a, const SmsHead& b) {
  const int c = std::u16string_view(a.recvtime).compare(b.recvtime);
  return c != 0 ? c > 0 : a.id > b.id;
}

// The group messages of the user by id: those exchanged with more than one
// number, which make conversations of their own, one per set of members.
class Groups {
 public:
  Groups(Store& s, const PhoneNumbers& numbers) {
    for (GroupMessage& g : GroupMessages(s, numbers)) {
      const uint32_t id = g.id;
      by_id_.emplace(id, std::move(g));
    }
  }
  bool empty() const { return by_id_.empty(); }
  size_t size() const { return by_id_.size(); }
  const GroupMessage* Find(uint32_t id) const {
    const auto g = by_id_.find(id);
    return g == by_id_.end() ? nullptr : &g->second;
  }
  const std::map<uint32_t, GroupMessage>& all() const { return by_id_; }

 private:
  std::map<uint32_t, GroupMessage> by_id_;
};

// The members a conversation name stands for: numbers separated by commas
// (or semicolons, or "~", as backups write several), each by its key;
// sorted, each once.
std::vector<std::string> MembersNamed(const PhoneNumbers& numbers, const std::string& who) {
  std::set<std::string> keys;
  size_t from = 0;
  while (from <= who.size()) {
    const size_t to = std::min(who.find_first_of(",;~", from), who.size());
    const std::string number = who.substr(from, to - from);
    if (!IsBlank(number)) keys.insert(numbers.Key(number));
    from = to + 1;
  }
  return {keys.begin(), keys.end()};
}

std::string TextOf(Store& s, const Message& m) { return TextShown(s, m).text; }

// Takes `m` into the correspondent: `messages` more of them, `unread`
// and `locked` of those; `m` is its newest when it is newer than the one
// held, and names it when it is the newest with a name.
void Take(Correspondent& c, Message&& m, size_t messages, size_t unread, bool locked) {
  const SmsHead& h = m.head();
  c.messages += messages;
  c.unread += unread;
  c.locked = c.locked || locked;
  const std::string time = Utf8(h.recvtime);
  if (h.name[0] != 0 && (c.name.empty() || time > c.name_time)) {
    c.name = Utf8(h.name);
    c.name_time = time;
  }
  if (c.latest.parts.empty() || Newer(h, c.latest.head())) c.latest = std::move(m);
}

// Every selected message, read and counted by its number's Key.
std::map<std::string, Correspondent> ReadCorrespondents(Store& s, const PhoneNumbers& numbers,
                                                        const Selection& which,
                                                        const Groups& groups) {
  const UnreadHeads unread(s);
  std::map<std::u16string, std::string> keys;  // each way of writing a number read once
  std::map<std::string, Correspondent> by_key;
  ForEachSelected(s, which, [&](Message&& m) {
    const SmsHead& h = m.head();
    const bool is_unread = unread.Unread(m), locked = IsLocked(m);
    if (const GroupMessage* g = groups.Find(m.id())) {
      Correspondent& c = by_key[GroupKey(g->members)];
      c.members = g->members;
      return Take(c, std::move(m), 1, is_unread, locked);
    }
    auto [key, added] = keys.try_emplace(std::u16string(FieldText(h.tel, std::size(h.tel))));
    if (added) key->second = numbers.Key(Utf8(h.tel));
    Take(by_key[key->second], std::move(m), 1, is_unread, locked);
  });
  return by_key;
}

// How many of a person's newest messages are looked through for a name
// when the newest has none.
constexpr uint32_t kNameLookBack = 20;

// Every message, from the store's conversations: its persons, those whose
// numbers have one Key taken together, each named by the newest of its
// messages that has a name (of the newest few).
std::map<std::string, Correspondent> IndexedCorrespondents(Store& s, const PhoneNumbers& numbers) {
  std::map<std::string, Correspondent> by_key;
  std::multimap<std::string, std::u16string> persons;  // the store's persons of each Key
  for (const stSmsPerson& p : StorePersons(s)) {
    Message newest = GetMessage(s, p.newest);
    const std::string key = numbers.Key(Utf8(newest.head().tel));
    persons.emplace(key, p.person);
    Take(by_key[key], std::move(newest), p.messages, p.unread, p.locked > 0);
  }
  for (auto& [key, c] : by_key) {
    if (!c.name.empty()) continue;
    const auto [from, to] = persons.equal_range(key);
    for (auto p = from; p != to; ++p) {
      uint64_t total = 0;
      for (const uint32_t id : PersonMessages(s, p->second.c_str(), kNameLookBack, total)) {
        Message m = GetMessage(s, id);
        if (m.head().name[0] == 0) continue;
        Take(c, std::move(m), 0, 0, false);
        break;
      }
    }
  }
  return by_key;
}

// Whether the store's persons are the tool's: nothing else selects,
// numbers are read by the store's own region (the store groups them by it)
// and there is no group message (the store counts one with its number).
bool StoreGroups(Store& s, const Options& o, const Selection& which, const Groups& groups) {
  return which.All() && groups.empty() &&
         (o.region.empty() || RegionCode(o.region) == RegionCode(StoreRegion(s)));
}

void ShowConversations(Store& s, const Options& o, const Selection& which) {
  const PhoneNumbers numbers = NumbersOf(s, o.region);
  const Groups groups(s, numbers);
  std::map<std::string, Correspondent> by_key = StoreGroups(s, o, which, groups)
                                                    ? IndexedCorrespondents(s, numbers)
                                                    : ReadCorrespondents(s, numbers, which, groups);
  // A person the messages give no name, and the members of groups: named
  // by what else the store knows; a group by its members' names.
  std::set<std::string> unnamed;
  for (const auto& [key, c] : by_key) {
    if (c.members.empty() && ShowsNothing(c.name)) unnamed.insert(key);
    unnamed.insert(c.members.begin(), c.members.end());
  }
  const std::map<std::string, std::string> names = NamesOf(
      s, numbers, unnamed,
      [&](const std::string& key) {
        const auto c = by_key.find(key);
        return c == by_key.end() || !c->second.members.empty() ? std::string() : c->second.name;
      },
      which.All(), [&](uint32_t id) { return groups.Find(id) != nullptr; });
  for (auto& [key, c] : by_key) {
    const auto name = names.find(key);
    if (c.members.empty() && ShowsNothing(c.name) && name != names.end()) c.name = name->second;
    if (c.members.empty()) continue;
    c.member_names = MemberNames(c.members, names);
    c.name = MembersShown(c.members, c.member_names);
  }
  std::vector<std::pair<std::string, const Correspondent*>> list;
  for (const auto& [key, c] : by_key) list.emplace_back(key, &c);
  std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
    return Newer(a.second->latest.head(), b.second->latest.head());
  });
  if (o.json) {
    Json out = Json::array();
    for (const auto& [key, c] : list) {
      const SmsHead& h = c->latest.head();
      Json row{{"correspondent", key},
               {"number", Utf8(h.tel)},
               {"name", c->name},
               {"messages", c->messages},
               {"unread", c->unread},
               {"locked", c->locked},
               {"time", IsoTime(Utf8(h.recvtime), o.utc)},
               {"latest", TextOf(s, c->latest)}};
      if (!c->members.empty()) {
        row["members"] = c->members;
        row["member_names"] = c->member_names;
      }
      out.push_back(std::move(row));
    }
    return PrintJson(out);
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& [key, c] : list) {
    const SmsHead& h = c->latest.head();
    rows.push_back({Clip(OneLine(ShowsNothing(c->name) ? "" : c->name), 16), CodeLine(key),
                    std::to_string(c->messages), c->unread ? std::to_string(c->unread) : "",
                    ReadableTime(Utf8(h.recvtime), o.utc),
                    Clip(OneLine(TextOf(s, c->latest)), 40)});
  }
  PrintTable({"NAME", "CORRESPONDENT", "MESSAGES", "UNREAD", "LATEST", "TEXT"}, rows);
}

// The person `who` names, as a condition on the selection: a number (any
// way of writing it) the store has messages with, or else a name only one
// person has; a Failure naming the candidates otherwise.
SelectedPage SelectPerson(Store& s, const Options& o, const std::string& who, Selection which,
                          uint32_t limit, const Groups& groups) {
  const PhoneNumbers numbers = NumbersOf(s, o.region);
  if (who.find_first_of("0123456789") != std::string::npos && StoreGroups(s, o, which, groups)) {
    // The store's persons whose number is the one wanted: the newest of
    // their messages, together.
    const NumberMatch match(numbers, who);
    SelectedPage page;
    page.total = 0;
    for (const stSmsPerson& p : StorePersons(s)) {
      if (!match(Utf8(p.person))) continue;
      uint64_t total = 0;
      for (const uint32_t id : PersonMessages(s, p.person, limit, total)) {
        page.messages.push_back(GetMessage(s, id));
      }
      *page.total += total;
    }
    if (*page.total > 0) {
      std::sort(page.messages.begin(), page.messages.end(),
                [](const Message& a, const Message& b) { return Newer(a.head(), b.head()); });
      if (limit != 0 && page.messages.size() > limit) page.messages.resize(limit);
      page.more = *page.total > page.messages.size();
      return page;
    }
  }
  if (who.find_first_of("0123456789") != std::string::npos) {
    const NumberMatch match(numbers, who);
    which.number_is = [&match](std::u16string_view tel) {
      return match(Utf8(tel.data(), tel.size()));
    };
    SelectedPage page = SelectPage(s, which, false, limit, true);
    which.number_is = nullptr;
    if (*page.total > 0 || !which.text.empty() || !which.since.empty() || !which.until.empty()) {
      return page;
    }
  }
  const std::vector<Person> people = PeopleNamed(s, numbers, who);
  if (people.empty()) throw Failure("no messages with " + OneLine(who));
  if (people.size() > 1) {
    std::string candidates;
    for (const Person& p : people) {
      candidates += fmt::format("\n  {}  {}", p.key, OneLine(p.names.empty() ? "" : p.names[0]));
      for (size_t i = 1; i < p.names.size(); ++i) candidates += ", " + OneLine(p.names[i]);
    }
    throw Failure(fmt::format("\"{}\" names {} people; give one of their numbers:{}", OneLine(who),
                              people.size(), candidates));
  }
  which.numbers = people.front().numbers;
  return SelectPage(s, which, false, limit, true);
}

// The messages of the group `who` names (its members, separated by commas),
// or of the one person it names, without the group messages they are in.
SelectedPage SelectConversation(Store& s, const Options& o, const PhoneNumbers& numbers,
                                const Groups& groups, const std::string& who, Selection which,
                                uint32_t limit, std::vector<std::string>& members) {
  if (who.find_first_of(",;~") != std::string::npos) {
    // A group, when there is one of these members; else a number written so.
    const std::vector<std::string> named = MembersNamed(numbers, who);
    Selection group = which;
    for (const auto& [id, g] : groups.all()) {
      if (named.size() > 1 && g.members == named) group.ids.push_back(id);
    }
    if (!group.ids.empty()) {
      members = named;
      return SelectPage(s, group, false, limit, true);
    }
  }
  // Room for the group messages the person's page may hold, taken out.
  const uint32_t wanted = limit == 0 ? 0 : limit + static_cast<uint32_t>(groups.size());
  SelectedPage page = SelectPerson(s, o, who, std::move(which), wanted, groups);
  if (groups.empty()) return page;
  const size_t before = page.messages.size();
  std::erase_if(page.messages, [&](const Message& m) { return groups.Find(m.id()) != nullptr; });
  const size_t removed = before - page.messages.size();
  if (page.total) {
    // The person's group messages beyond the page are found by their number.
    size_t counted = removed;
    if (page.more && who.find_first_of("0123456789") != std::string::npos) {
      const NumberMatch match(numbers, who);
      counted = 0;
      for (const auto& [id, g] : groups.all()) counted += match(g.tel);
    }
    *page.total -= std::min<uint64_t>(*page.total, counted);
  }
  if (limit != 0 && page.messages.size() > limit) {
    page.messages.resize(limit);
    page.more = true;
  }
  if (page.total) page.more = *page.total > page.messages.size();
  return page;
}

void ShowConversation(Store& s, const Options& o, const std::string& who, Selection which,
                      uint32_t limit) {
  std::vector<std::string> members;
  const PhoneNumbers numbers = NumbersOf(s, o.region);
  const Groups groups(s, numbers);
  SelectedPage page =
      SelectConversation(s, o, numbers, groups, who, std::move(which), limit, members);
  std::vector<Message>& exchange = page.messages;
  // The newest, shown oldest first, a long message at its first part's time.
  std::sort(exchange.begin(), exchange.end(),
            [](const Message& a, const Message& b) { return Newer(b.head(), a.head()); });
  const UnreadHeads unread(s);
  if (o.json) {
    Json out = Json::array();
    for (const Message& m : exchange) {
      const ShownText shown = TextShown(s, m);
      Json j{{"id", m.id()},
             {"direction", IsSent(m.head()) ? "sent" : "received"},
             {"number", Utf8(m.head().tel)},
             {"time", IsoTime(Utf8(m.head().recvtime), o.utc)},
             {"text", shown.text},
             {"parts", m.parts.size()},
             {"read", !unread.Unread(m)},
             {"complete", m.complete}};
      AddMultimediaJson(shown, j);
      out.push_back(std::move(j));
    }
    return PrintJson(out);
  }
  if (exchange.empty()) throw Failure("no messages with " + OneLine(who) + " (as selected)");
  // A group's members, and who wrote what, by name where the store knows
  // one, as the other views name them.
  std::map<std::string, std::string> names;
  if (!members.empty()) {
    names = NamesOf(
        s, numbers, std::set<std::string>(members.begin(), members.end()),
        [](const std::string&) { return std::string(); }, false,
        [&](uint32_t id) { return groups.Find(id) != nullptr; });
    const std::vector<std::string> called = MemberNames(members, names);
    std::string shown;
    for (size_t i = 0; i < members.size(); ++i) {
      shown += (i ? kMemberSeparator : "") + NameAndNumber(called[i], members[i]);
    }
    std::cout << Word("members") << ": " << shown << "\n";
  }
  // A line for each day, then each message at its time: what the person
  // wrote at the left, what was sent to them further right.
  std::string day;
  for (const Message& m : exchange) {
    const std::string when = ReadableTime(Utf8(m.head().recvtime), o.utc);
    const std::string date = when.substr(0, when.find(' '));
    if (date != day) {
      std::cout << fmt::format("\u2500\u2500 {} \u2500\u2500\n", date);
      day = date;
    }
    const bool sent = IsSent(m.head());
    const ShownText shown = TextShown(s, m);
    std::string text = OneLine(shown.text);
    if (!m.complete) text = "[incomplete] " + text;
    if (m.parts.size() > 1) text += "  (" + Counted(m.parts.size(), "part") + ")";
    // In a group, who wrote what was received.
    std::string from;
    if (!members.empty() && !sent && shown.multimedia) {
      for (const SmsMmsAddress& a : shown.multimedia->addresses) {
        if (a.type != ZU_MMS_FROM) continue;
        const std::string key = numbers.Key(Utf8(a.address));
        const auto name = names.find(key);
        from = " " + NameAndNumber(name == names.end() ? "" : name->second, key);
      }
    }
    const char* indent = sent ? "        " : "  ";
    std::cout << fmt::format("{}{}  {} {}{}{}  {}\n", indent, when.substr(when.find(' ') + 1),
                             sent ? "\u2192" : "\u2190", Word(sent ? "sent" : "received"), from,
                             unread.Unread(m) ? " \u25CF" : "", text);
    for (const std::string& a : shown.attachments) {
      std::cout << indent << "       " << OneLine(a) << "\n";
    }
  }
  SayWhenCut(page, "the newest ");
}

}  // namespace

void AddConversationCommands(Commands& c) {
  auto all = std::make_shared<SelectionOptions>();
  auto* list = c.app().add_subcommand("conversations",
                                      "one row per correspondent, the latest first: name, "
                                      "number, messages, unread ones, the latest");
  all->Declare(list, false);
  c.On(list,
       [&c, all](Store& s) { ShowConversations(s, c.options(), all->Resolve(s, c.options())); });

  struct One {
    std::string who;
    SelectionOptions which;
    Limit limit{50};
  };
  auto one = std::make_shared<One>();
  auto* cmd = c.app().add_subcommand(
      "conversation",
      "the messages exchanged with one person (a number, or a name) or one group (its members' "
      "numbers, separated by commas), day by day, the newest --limit of them");
  cmd->add_option("WHO", one->who,
                  "a telephone number, a name only one person has, or a group's numbers "
                  "(\"+15550001,+15550002\")")
      ->required();
  one->which.Declare(cmd, false, false);
  one->limit.Declare(cmd, "the newest this many");
  c.On(cmd, [&c, one](Store& s) {
    ShowConversation(s, c.options(), one->who, one->which.Resolve(s, c.options()),
                     one->limit.Value());
  });
}

}  // namespace zusms::cli
