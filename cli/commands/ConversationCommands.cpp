// conversations, conversation WHO: messages by correspondent.
#include <fmt/format.h>

#include <iostream>
#include <map>

#include "Command.h"
#include "Selecting.h"
#include "model/ReadState.h"
#include "model/Region.h"

namespace zusms::cli {

namespace {

struct Correspondent {
  Message latest;
  std::string name;  // the newest message's that has one
  std::string name_time;
  size_t messages = 0, unread = 0;
  bool locked = false;
};

bool Newer(const SmsHead& a, const SmsHead& b) {
  const int c = std::u16string_view(a.recvtime).compare(b.recvtime);
  return c != 0 ? c > 0 : a.id > b.id;
}

bool Sent(const SmsHead& h) { return h.type >= 2 || h.fid == 6 || h.fid == 7 || h.fid == 8; }

std::string TextOf(const Message& m) {
  const std::u16string text = m.Text();
  return Utf8(text.c_str(), text.size());
}

void ShowConversations(Store& s, const Options& o, const Selection& which) {
  const PhoneNumbers numbers = NumbersOf(s, o.region);
  const UnreadHeads unread(s);
  std::map<std::u16string, std::string> keys;  // each way of writing a number read once
  std::map<std::string, Correspondent> by_key;
  ForEachSelected(s, which, [&](Message&& m) {
    const SmsHead& h = m.head();
    auto [key, added] = keys.try_emplace(std::u16string(FieldText(h.tel, std::size(h.tel))));
    if (added) key->second = numbers.Key(Utf8(h.tel));
    Correspondent& c = by_key[key->second];
    ++c.messages;
    if (unread.Unread(m)) ++c.unread;
    c.locked = c.locked || IsLocked(m);
    const std::string time = Utf8(h.recvtime);
    if (h.name[0] != 0 && (c.name.empty() || time > c.name_time)) {
      c.name = Utf8(h.name);
      c.name_time = time;
    }
    if (c.latest.parts.empty() || Newer(h, c.latest.head())) c.latest = std::move(m);
  });
  std::vector<std::pair<std::string, const Correspondent*>> list;
  for (const auto& [key, c] : by_key) list.emplace_back(key, &c);
  std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
    return Newer(a.second->latest.head(), b.second->latest.head());
  });
  if (o.json) {
    Json out = Json::array();
    for (const auto& [key, c] : list) {
      const SmsHead& h = c->latest.head();
      out.push_back({{"correspondent", key},
                     {"number", Utf8(h.tel)},
                     {"name", c->name},
                     {"messages", c->messages},
                     {"unread", c->unread},
                     {"locked", c->locked},
                     {"time", IsoTime(Utf8(h.recvtime), o.utc)},
                     {"latest", TextOf(c->latest)}});
    }
    return PrintJson(out);
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& [key, c] : list) {
    const SmsHead& h = c->latest.head();
    rows.push_back({Clip(OneLine(c->name), 16), key, std::to_string(c->messages),
                    c->unread ? std::to_string(c->unread) : "",
                    ReadableTime(Utf8(h.recvtime), o.utc), Clip(OneLine(TextOf(c->latest)), 40)});
  }
  PrintTable({"NAME", "CORRESPONDENT", "MESSAGES", "UNREAD", "LATEST", "TEXT"}, rows);
}

// The ways of writing the number of the person `who` names: a number, or
// a name only one person has; a Failure naming the candidates otherwise.
std::vector<std::string> NumbersOfPerson(Store& s, const Options& o, const std::string& who) {
  const PhoneNumbers numbers = NumbersOf(s, o.region);
  if (who.find_first_of("0123456789") != std::string::npos) {
    std::vector<std::string> forms = WrittenForms(s, NumberMatch(numbers, who));
    if (!forms.empty()) return forms;
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
  return people.front().numbers;
}

void ShowConversation(Store& s, const Options& o, const std::string& who, Selection which,
                      uint32_t limit) {
  which.numbers = NumbersOfPerson(s, o, who);
  SelectedPage page = SelectPage(s, which, false, limit);
  std::vector<Message>& exchange = page.messages;
  // The newest, shown oldest first, a long message at its first part's time.
  std::sort(exchange.begin(), exchange.end(),
            [](const Message& a, const Message& b) { return Newer(b.head(), a.head()); });
  const UnreadHeads unread(s);
  if (o.json) {
    Json out = Json::array();
    for (const Message& m : exchange) {
      out.push_back({{"id", m.id()},
                     {"direction", Sent(m.head()) ? "sent" : "received"},
                     {"number", Utf8(m.head().tel)},
                     {"time", IsoTime(Utf8(m.head().recvtime), o.utc)},
                     {"text", TextOf(m)},
                     {"parts", m.parts.size()},
                     {"read", !unread.Unread(m)},
                     {"complete", m.complete}});
    }
    return PrintJson(out);
  }
  if (exchange.empty()) {
    std::cout << "no messages with " << OneLine(who) << " that the options select\n";
    return;
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
    const bool sent = Sent(m.head());
    std::string text = OneLine(TextOf(m));
    if (!m.complete) text = "[incomplete] " + text;
    if (m.parts.size() > 1) text += "  (" + Counted(m.parts.size(), "part") + ")";
    std::cout << fmt::format("{}{}  {} {}{}  {}\n", sent ? "        " : "  ",
                             when.substr(when.find(' ') + 1), sent ? "\u2192" : "\u2190",
                             Word(sent ? "sent" : "received"), unread.Unread(m) ? " \u25CF" : "",
                             text);
  }
  if (page.total > exchange.size()) {
    std::cerr << fmt::format("the newest {} of {}; --limit N or --all\n", exchange.size(),
                             page.total);
  }
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
    uint32_t limit = 50;
    bool all = false;
  };
  auto one = std::make_shared<One>();
  auto* cmd = c.app().add_subcommand(
      "conversation",
      "the messages exchanged with one person (a number, or a name), day by day, the newest "
      "--limit of them");
  cmd->add_option("WHO", one->who, "a telephone number, or a name only one person has")->required();
  one->which.Declare(cmd, false);
  cmd->add_option("--limit", one->limit, "the newest this many (default 50; 0 means all)");
  cmd->add_flag("--all", one->all, "every one (as --limit 0)");
  c.On(cmd, [&c, one](Store& s) {
    if (!one->which.number.empty() || !one->which.contact.empty()) {
      throw CLI::ValidationError("conversation: the person is WHO, not --number or --contact");
    }
    ShowConversation(s, c.options(), one->who, one->which.Resolve(s, c.options()),
                     one->all ? 0 : one->limit);
  });
}

}  // namespace zusms::cli
