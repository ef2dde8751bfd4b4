// export --format csv | txt: the selected messages for a spreadsheet, or
// for a letter.
#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <set>
#include <unordered_set>

#include "Command.h"
#include "model/Conversations.h"
#include "model/Folders.h"
#include "model/ReadState.h"
#include "model/Region.h"

namespace zusms::cli {

namespace {

// Group messages by id: their members, and the members' names.
using Groups = std::map<uint32_t, std::pair<std::vector<std::string>, std::vector<std::string>>>;

struct Row {
  std::string person;  // the number's Key; a group's GroupKey
  std::string time;    // the record's time text
  int64_t at;          // the moment it names, for order (-1: none, the oldest)
  uint32_t id;
  bool sent, draft, unsent, read;
  int32_t folder;
  std::string number, name, text;  // of a group message: its sender, or the members it went to
                                   // (and their names); the name is the person's when the
                                   // message has none
  const std::vector<std::string>* members = nullptr;  // of a group message
  std::vector<std::string>* member_names = nullptr;
};

// A CSV field (RFC 4180): quoted when it holds a separator, a quote or a
// line break, quotes doubled. For a spreadsheet, a field that starts like
// a formula (= + - @, a tab or a carriage return) is shown as text by a
// leading apostrophe, so that a message can run nothing in it.
std::string Field(const std::string& value, bool excel) {
  std::string text = value;
  if (excel && !text.empty() && std::string("=+-@\t\r").find(text.front()) != std::string::npos) {
    text.insert(0, "'");
  }
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

void WriteCsv(std::ostream& out, const std::vector<Row>& rows,
              const std::map<int32_t, std::string>& folders, bool excel) {
  const char* end = excel ? "\r\n" : "\n";
  if (excel) out << "\xEF\xBB\xBF";
  out << "id,time,time_utc,direction,number,name,folder_number,folder,read,text" << end;
  for (const Row& r : rows) {
    const auto folder = folders.find(r.folder);
    const std::vector<std::string> fields = {std::to_string(r.id),
                                             IsoTime(r.time, false),
                                             IsoTime(r.time, true),
                                             r.draft    ? "draft"
                                             : r.unsent ? "unsent"
                                             : r.sent   ? "sent"
                                                        : "received",
                                             r.number,
                                             r.name,
                                             std::to_string(r.folder),
                                             folder == folders.end() ? "" : folder->second,
                                             r.read ? "yes" : "no",
                                             r.text};
    for (size_t i = 0; i < fields.size(); ++i) {
      out << (i ? "," : "") << Field(fields[i], excel);
    }
    out << end;
  }
}

// One conversation after another, the most recent first, each day by day
// and oldest first, as a person would paste them into a letter.
void WriteTxt(std::ostream& out, const std::vector<Row>& rows, bool utc) {
  std::map<std::string, std::vector<const Row*>> people;
  for (const Row& r : rows) people[r.person].push_back(&r);
  std::vector<std::pair<std::string, std::vector<const Row*>>> order(people.begin(), people.end());
  std::sort(order.begin(), order.end(),
            [](const auto& a, const auto& b) { return a.second.back()->at > b.second.back()->at; });
  if (!order.empty()) {
    const std::string zone = ZoneName();
    out << (utc ? std::string("Times in UTC.")
                : "Local times" + (zone.empty() ? std::string() : " in " + OneLine(zone)) + ".")
        << "\n\n";
  }
  bool first = true;
  for (const auto& [person, messages] : order) {
    // A group is named by its members, each by name and number; a
    // message's name is its sender's.
    std::string name, title;
    for (const Row* r : messages) {
      if (!r->name.empty() && !r->members) name = r->name;
    }
    if (const Row* r = messages.back(); r->members) {
      for (size_t i = 0; i < r->members->size(); ++i) {
        const std::string& member = (*r->members)[i];
        const std::string& called = (*r->member_names)[i];
        title += (i ? kMemberSeparator : "") + NameAndNumber(called, member);
      }
    } else {
      title = NameAndNumber(name, person);
    }
    if (!first) out << "\n\n";
    first = false;
    out << title << "\n" << std::string(static_cast<size_t>(DisplayWidth(title)), '=') << "\n";
    std::string day;
    for (const Row* r : messages) {
      const std::string when = ReadableTime(r->time, utc);
      const size_t space = when.find(' ');
      const std::string today = r->at < 0 ? "unknown time" : when.substr(0, space);
      if (today != day) {
        day = today;
        out << "\n" << day << "\n";
      }
      const std::string who = r->draft    ? Word("me") + " (" + Word("draft") + ")"
                              : r->unsent ? Word("me") + " (" + Word("unsent") + ")"
                              : r->sent   ? Word("me")
                              : r->members
                                  ? r->name.empty() ? CodeLine(r->number) : OneLine(r->name)
                              : name.empty() ? CodeLine(r->number)
                                             : OneLine(name);
      // Continued lines of a message stand under its text.
      std::string text = Printable(r->text, true), indented;
      for (const char c : text) {
        indented += c;
        if (c == '\n') indented += "        ";
      }
      // On a day the clocks change, a time says its offset: the hour they
      // show twice is told apart.
      std::string clock = r->at < 0 ? "--:--" : when.substr(space + 1);
      if (const std::string offset = utc || r->at < 0 ? "" : OffsetOnChangeDay(r->at);
          !offset.empty()) {
        clock += " " + offset;
      }
      out << fmt::format("  {}  {}: {}\n", clock, who, indented);
    }
  }
  if (!first) out << "\n";
}

// Names every row: a message without a name of its own by its person's
// (the newest its messages give, else what else the store knows); a group
// message by its sender's, or, sent, by its members'.
void NameRows(Store& store, const PhoneNumbers& numbers, const Selection& which, Groups& groups,
              std::vector<Row>& rows) {
  std::map<std::string, std::pair<int64_t, std::string>> newest;  // of each person
  std::set<std::string> keys;
  for (const Row& r : rows) {
    if (r.members) {
      keys.insert(r.members->begin(), r.members->end());
    } else if (!ShowsNothing(r.name)) {
      auto [at, added] = newest.try_emplace(r.person, r.at, r.name);
      if (!added && r.at >= at->second.first) at->second = {r.at, r.name};
    } else {
      keys.insert(r.person);
    }
  }
  const std::map<std::string, std::string> names = NamesOf(
      store, numbers, keys,
      [&](const std::string& key) {
        const auto at = newest.find(key);
        return at == newest.end() ? std::string() : at->second.second;
      },
      which.All(), [&](uint32_t id) { return groups.contains(id); });
  for (auto& [id, group] : groups) group.second = MemberNames(group.first, names);
  for (Row& r : rows) {
    if (r.members && r.sent) {
      r.name = MembersShown(*r.members, *r.member_names);
    } else if (r.members || ShowsNothing(r.name)) {
      const auto name = names.find(r.members ? numbers.Key(r.number) : r.person);
      r.name = name == names.end() ? "" : name->second;
    }
  }
}

}  // namespace

size_t ExportReadable(Store& store, const Options& o, const Selection& which,
                      const std::string& format, bool excel, std::ostream& out) {
  const PhoneNumbers numbers = NumbersOf(store, o.region);
  const UnreadHeads unread(store);
  std::map<std::u16string, std::string> keys;  // each way of writing a number read once
  const std::vector<uint32_t> ids = MultimediaIds(store);
  const std::unordered_set<uint32_t> multimedia(ids.begin(), ids.end());
  // A group message goes in its members' conversation, as the pages and
  // `conversations` have it.
  Groups groups;
  if (!ids.empty()) {
    for (GroupMessage& g : GroupMessages(store, numbers)) groups[g.id].first = std::move(g.members);
  }
  std::vector<Row> rows;
  ForEachSelected(store, which, [&](Message&& m) {
    const SmsHead& h = m.head();
    auto [key, added] = keys.try_emplace(std::u16string(FieldText(h.tel, std::size(h.tel))));
    if (added) key->second = numbers.Key(Utf8(h.tel));
    const std::u16string own = m.Text();
    std::string text = Utf8(own.c_str(), own.size());
    std::string person = key->second, number = Utf8(h.tel);
    const auto group = groups.find(m.id());
    Groups::mapped_type* members = nullptr;  // of a group message
    if (multimedia.contains(m.id())) {       // its text, then its attachments named
      // as `attachments save` names their files
      const ShownText shown = TextShown(store, m);
      text = shown.text;
      for (Attachment a :
           shown.multimedia ? shown.multimedia->attachments : std::vector<Attachment>()) {
        a.name = SavedFileName(a);
        text += (text.empty() ? "" : " ") + AttachmentLine(a);
      }
      if (group != groups.end() && shown.multimedia) {
        members = &group->second;
        person = number = GroupKey(members->first);
        for (const SmsMmsAddress& a : shown.multimedia->addresses) {
          if (a.type == ZU_MMS_FROM && !IsSent(h)) number = Utf8(a.address);
        }
      }
    }
    const std::string time = Utf8(h.recvtime);
    rows.push_back({person, time, ParseTimeText(time), m.id(), IsSent(h), IsDraft(h), IsUnsent(h),
                    !unread.Unread(m), h.fid, number, Utf8(h.name), std::move(text)});
    if (members) {
      rows.back().members = &members->first;
      rows.back().member_names = &members->second;
    }
  });
  NameRows(store, numbers, which, groups, rows);
  std::sort(rows.begin(), rows.end(),
            [](const Row& a, const Row& b) { return a.at != b.at ? a.at < b.at : a.id < b.id; });
  if (format == "csv") {
    WriteCsv(out, rows, FolderNames(store), excel);
  } else {
    WriteTxt(out, rows, o.utc);
  }
  return rows.size();
}

}  // namespace zusms::cli
