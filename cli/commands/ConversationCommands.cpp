// conversations, conversation NUMBER: messages by correspondent.
#include <map>

#include "Command.h"
#include "model/Region.h"

namespace zusms::cli {

namespace {

struct Correspondent {
  Message latest;
  size_t messages = 0;
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

void ShowConversations(Store& s, const Options& o) {
  const PhoneNumbers numbers = NumbersOf(s, o.region);
  std::map<std::string, Correspondent> by_key;
  MessageAssembler messages([&](Message&& m) {
    Correspondent& c = by_key[numbers.Key(Utf8(m.head().tel))];
    ++c.messages;
    for (const SmsHead& p : m.parts) c.locked = c.locked || p.lockflag != 0;
    if (c.latest.parts.empty() || Newer(m.head(), c.latest.head())) c.latest = std::move(m);
  });
  s.ForEachHead([&](const SmsHead& h) { messages.Add(h); });
  messages.Finish();
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
                     {"name", Utf8(h.name)},
                     {"messages", c->messages},
                     {"locked", c->locked},
                     {"time", IsoTime(Utf8(h.recvtime), o.utc)},
                     {"latest", TextOf(c->latest)}});
    }
    return PrintJson(out);
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& [key, c] : list) {
    const SmsHead& h = c->latest.head();
    rows.push_back({key, Clip(OneLine(Utf8(h.name)), 16), std::to_string(c->messages),
                    c->locked ? "\U0001F512" : "", ReadableTime(Utf8(h.recvtime), o.utc),
                    Clip(OneLine(TextOf(c->latest)), 48)});
  }
  PrintTable({"CORRESPONDENT", "NAME", "MESSAGES", "LOCKED", "LATEST", "TEXT"}, rows);
}

void ShowConversation(Store& s, const Options& o, const std::string& number) {
  const NumberMatch wanted(NumbersOf(s, o.region), number);
  std::vector<Message> exchange;
  MessageAssembler messages([&](Message&& m) {
    if (wanted(Utf8(m.head().tel))) exchange.push_back(std::move(m));
  });
  s.ForEachHead([&](const SmsHead& h) { messages.Add(h); });
  messages.Finish();
  if (exchange.empty()) throw Failure("no messages with " + number);
  std::sort(exchange.begin(), exchange.end(),
            [](const Message& a, const Message& b) { return Newer(b.head(), a.head()); });
  if (o.json) {
    Json out = Json::array();
    for (const Message& m : exchange) {
      out.push_back({{"id", m.id()},
                     {"direction", Sent(m.head()) ? "sent" : "received"},
                     {"number", Utf8(m.head().tel)},
                     {"time", IsoTime(Utf8(m.head().recvtime), o.utc)},
                     {"text", TextOf(m)},
                     {"complete", m.complete}});
    }
    return PrintJson(out);
  }
  std::vector<std::vector<std::string>> rows;
  for (const Message& m : exchange) {
    rows.push_back({std::to_string(m.id()), ReadableTime(Utf8(m.head().recvtime), o.utc),
                    Sent(m.head()) ? "\u2192 " + Word("sent") : "\u2190 " + Word("received"),
                    OneLine(TextOf(m))});
  }
  PrintTable({"ID", o.utc ? "TIME (UTC)" : "TIME", "", "TEXT"}, rows);
}

}  // namespace

void AddConversationCommands(Commands& c) {
  c.On(c.app().add_subcommand("conversations", "one row per correspondent, the latest first"),
       [&c](Store& s) { ShowConversations(s, c.options()); });
  auto number = std::make_shared<std::string>();
  auto* one = c.app().add_subcommand("conversation",
                                     "the messages exchanged with one number, in time order");
  one->add_option("NUMBER", *number)->required();
  c.On(one, [&c, number](Store& s) { ShowConversation(s, c.options(), *number); });
}

}  // namespace zusms::cli
