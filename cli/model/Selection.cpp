#include "model/Selection.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <unordered_set>

#include "model/ReadState.h"
#include "model/Records.h"
#include "text/Print.h"

namespace zusms::cli {

namespace {

// What the tool checks itself, on the whole message.
class Meets {
 public:
  // `tels`: the number must be written as one of these (none: the store
  // checked it).
  Meets(Store& store, const Selection& s, const std::vector<std::u16string>* tels)
      : s_(s), since_(Utf16(s.since)), until_(Utf16(s.until)) {
    if (s.unread) unread_.emplace(store);
    if (tels) tels_.emplace(tels->begin(), tels->end());
  }
  bool operator()(const Message& m) const {
    const SmsHead& h = m.head();
    const std::u16string_view tel = FieldText(h.tel, std::size(h.tel));
    if ((tels_ && !tels_->contains(std::u16string(tel)) && !InGroup(m.id())) ||
        (s_.number_is && !s_.number_is(tel))) {
      return false;
    }
    const std::u16string_view time = FieldText(h.recvtime, std::size(h.recvtime));
    if ((s_.folder && h.fid != *s_.folder) || (!since_.empty() && time < since_) ||
        (!until_.empty() && time >= until_) || (s_.locked && !IsLocked(m)) ||
        (s_.long_only && !IsPart(h)) || (unread_ && !unread_->Unread(m))) {
      return false;
    }
    if (s_.text.empty()) return true;
    const std::u16string text = m.Text();
    if (!s_.anywhere) return s_.text.Matches(text);
    return s_.text.MatchesAny({text, tel, FieldText(h.name, std::size(h.name))});
  }
  bool InGroup(uint32_t id) const {
    return std::binary_search(s_.groups.begin(), s_.groups.end(), id);
  }

 private:
  const Selection& s_;
  const std::u16string since_, until_;
  std::optional<UnreadHeads> unread_;
  std::optional<std::unordered_set<std::u16string>> tels_;
};

// Up to this many ways of writing the number, the store looks for each in
// a pass of its own; beyond, one pass over all heads checks them (a name
// that many people share).
constexpr size_t kFewForms = 4;

// In the order a listing shows them: by the time of the first part, then id.
bool Before(const Message& a, const Message& b, bool oldest) {
  const int c = std::u16string_view(a.head().recvtime).compare(b.head().recvtime);
  if (c != 0) return oldest ? c < 0 : c > 0;
  return oldest ? a.id() < b.id() : a.id() > b.id();
}

// The store's conditions for the heads of one way of writing the number
// (`tel`, or any number when null), which point into the texts given.
std::vector<_MimerQueryFilterItem> Number(const char16_t* tel) {
  std::vector<_MimerQueryFilterItem> items;
  if (tel) {
    items.push_back(Condition(ZU_HEAD_TEL, ZU_OP_EQ));
    items.back().value.text = tel;
  }
  return items;
}

void AddTimes(std::vector<_MimerQueryFilterItem>& items, const std::u16string& since,
              const std::u16string& until) {
  for (const auto& [text, op] : {std::pair{&since, ZU_OP_GE}, std::pair{&until, ZU_OP_LT}}) {
    if (text->empty()) continue;
    items.push_back(Condition(ZU_HEAD_RECVTIME, op));
    items.back().value.text = text->c_str();
  }
}

}  // namespace

void RefreshSearch(Store& store, bool shown) {
  uint32_t heads = 0;
  if (shown) Check(GetZuSmsHeadCount(*store, &heads), "counting the messages");
  std::string failed;
  int64_t made_in = -1;  // seconds, when the index was made from nothing
  {
    Progress bar("making the search index", heads, shown);
    auto step = [](uint64_t done, void* to) { static_cast<Progress*>(to)->Set(done); };
    try {
      Check(RefreshZuSmsIndexes(*store, step, &bar), "making the search index");
    } catch (const Failure& e) {
      failed = e.what();
    }
    if (bar.Drawn() && failed.empty()) made_in = std::max<int64_t>(bar.Seconds(), 1);
  }
  // Where it cannot be brought up to date now (another program holds the
  // file, say), the store reads the messages instead.
  if (!failed.empty()) {
    if (shown) std::cerr << "zusms: " << failed << "; reading every message instead\n";
  } else if (made_in >= 0) {
    // Made from nothing (a store of an earlier version, or one whose index
    // was dropped): how long it took, once.
    std::cerr << "zusms: made the search index of " << heads << " messages in " << Duration(made_in)
              << "\n";
  }
}

namespace {

// The first `limit` messages (0: all) whose text holds the terms, by the
// store's search, newest first unless `oldest`; how many there are in all.
std::vector<uint32_t> Found(Store& store, const Selection& s, bool oldest, uint32_t limit,
                            uint64_t& total) {
  const std::u16string terms = s.text.Quoted();
  const uint32_t flags = (s.text.fold_accents() ? ZU_SEARCH_ACCENTS : 0) |
                         (s.anywhere ? ZU_SEARCH_ANYWHERE : 0) | (oldest ? ZU_SEARCH_OLDEST : 0);
  RefreshSearch(store, ProgressWanted());
  std::vector<uint32_t> ids;
  uint32_t n = 0;
  // A first page, then all that were asked for when there are more.
  for (uint32_t capacity = limit == 0 ? 4096 : std::min<uint32_t>(limit, 4096);;) {
    ids.resize(capacity);
    Check(SearchZuSmsHead(*store, terms.c_str(), flags, ids.data(), capacity, &n, &total),
          "searching the messages");
    const uint64_t wanted = limit == 0 ? total : std::min<uint64_t>(limit, total);
    if (n >= wanted || capacity >= wanted) break;
    capacity = static_cast<uint32_t>(wanted);
  }
  ids.resize(n);
  return ids;
}

// Whether the store's search alone selects: terms and nothing else.
bool TextOnly(const Selection& s) {
  return s.ids.empty() && !s.text.empty() && !s.folder && !s.numbers && !s.number_is &&
         s.since.empty() && s.until.empty() && !s.unread && !s.locked && !s.long_only;
}

std::vector<std::u16string> Forms(const Selection& s) {
  std::vector<std::u16string> forms;
  if (s.numbers) {
    for (const std::string& n : *s.numbers) forms.push_back(Utf16(n));
  }
  return forms;
}

}  // namespace

bool Selection::All() const {
  return ids.empty() && !folder && !numbers && !number_is && since.empty() && until.empty() &&
         text.empty() && !unread && !locked && !long_only;
}

std::vector<stSmsPerson> StorePersons(Store& store) {
  RefreshSearch(store, ProgressWanted());
  std::vector<stSmsPerson> persons;
  uint32_t n = 0;
  uint64_t total = 0;
  // One call reads them all at one moment; persons added since the count
  // make it call again.
  do {
    persons.resize(total + 64);
    Check(ListZuSmsPersons(*store, 0, persons.data(), static_cast<uint32_t>(persons.size()), &n,
                           &total),
          "listing the conversations");
  } while (total > n && n == persons.size());
  persons.resize(n);
  return persons;
}

std::vector<uint32_t> PersonMessages(Store& store, const char16_t* key, uint32_t limit,
                                     uint64_t& total) {
  std::vector<uint32_t> ids;
  uint32_t n = 0;
  // All at one moment: asked again with twice the room until the answer
  // leaves some, whatever the count says (a damaged index may count more
  // or fewer than it lists).
  for (uint32_t capacity = limit == 0 ? 4096 : limit;;) {
    ids.resize(capacity);
    Check(ListZuSmsConversation(*store, key, 0, ids.data(), capacity, &n, &total),
          "listing a conversation");
    if (limit != 0 || n < capacity || capacity == UINT32_MAX) break;
    capacity = capacity > UINT32_MAX / 2 ? UINT32_MAX : 2 * capacity;
  }
  ids.resize(n);
  return ids;
}

bool Selection::Plain() const {
  return ids.empty() && text.empty() && !unread && !locked && !long_only && !number_is &&
         groups.empty() && (!numbers || numbers->size() <= kFewForms);
}

void ForEachSelected(Store& store, const Selection& s,
                     const std::function<void(Message&&)>& visit) {
  // Terms: the store's search finds the messages that hold them, the tool
  // checks the rest on each.
  if (s.ids.empty() && !s.text.empty()) {
    Selection found = s;
    uint64_t total = 0;
    found.ids = Found(store, s, false, 0, total);
    if (!found.ids.empty()) ForEachSelected(store, found, visit);
    return;
  }
  const std::vector<std::u16string> forms = Forms(s);
  const bool one_pass = !s.ids.empty() || forms.size() > kFewForms;
  const Meets meets(store, s, s.numbers && one_pass ? &forms : nullptr);
  if (!s.ids.empty()) {
    std::set<uint32_t> seen;
    for (const uint32_t id : s.ids) {
      Message m = GetMessage(store, id);
      if (seen.insert(m.id()).second && meets(m)) visit(std::move(m));
    }
    return;
  }
  const std::u16string since = Utf16(s.since), until = Utf16(s.until);
  std::vector<const char16_t*> numbers;
  if (!one_pass) {
    for (const std::u16string& form : forms) numbers.push_back(form.c_str());
  }
  if (!s.numbers || one_pass) numbers.push_back(nullptr);
  for (const char16_t* tel : numbers) {
    // Short messages: the store checks what it can on each head.
    std::vector<_MimerQueryFilterItem> shorts = Number(tel);
    AddTimes(shorts, since, until);
    if (s.locked) {
      shorts.push_back(Condition(ZU_HEAD_LOCKFLAG, ZU_OP_NE));
      shorts.back().value.number = 0;
    }
    // Long messages: all their parts, whatever each holds; from the same
    // pass when the store checks nothing on a head but its number.
    MessageAssembler parts([&](Message&& m) {
      if (meets(m)) visit(std::move(m));
    });
    const bool together = shorts.size() == Number(tel).size();
    store.ForEachHead(
        [&](const SmsHead& h) {
          if (IsPart(h)) {
            if (together) parts.Add(h);
            return;
          }
          Message m;
          m.parts.push_back(h);
          if (meets(m)) visit(std::move(m));
        },
        0, shorts);
    if (!together)
      ForEachPart(
          store, [&](const SmsHead& h) { parts.Add(h); }, Number(tel));
    parts.Finish();
  }
  // The group messages the passes by number did not find (one deleted
  // since the selection was made is gone).
  for (const uint32_t id : one_pass ? std::vector<uint32_t>() : s.groups) {
    SmsHead h{};
    Check(GetZuSmsHead(*store, id, &h), "reading message " + std::to_string(id));
    const std::u16string_view tel = FieldText(h.tel, std::size(h.tel));
    if (h.id == 0 || std::find(forms.begin(), forms.end(), tel) != forms.end()) continue;
    Message m = GetMessage(store, id);
    if (meets(m)) visit(std::move(m));
  }
}

SelectedPage SelectPage(Store& store, const Selection& s, bool oldest, uint32_t limit, bool count) {
  SelectedPage page;
  if (s.Plain() && !count) {
    ListOptions o;
    o.folder = s.folder;
    o.numbers = s.numbers;
    o.since = s.since;
    o.until = s.until;
    o.oldest = oldest;
    // One more than asked: whether there are more. A limit past what a
    // store holds is no limit.
    constexpr uint32_t kAll = UINT32_MAX / 4;
    if (limit >= kAll) limit = 0;
    o.limit = limit == 0 ? kAll : limit + 1;
    page.messages = ListMessages(store, o);
    page.more = limit != 0 && page.messages.size() > limit;
    if (page.more) page.messages.resize(limit);
    if (!page.more) page.total = page.messages.size();
    return page;
  }
  if (TextOnly(s)) {
    uint64_t total = 0;
    for (const uint32_t id : Found(store, s, oldest, limit, total)) {
      page.messages.push_back(GetMessage(store, id));
    }
    page.total = total;
    page.more = total > page.messages.size();
    return page;
  }
  // The first `limit` in a heap whose top is the last of them.
  auto later = [oldest](const Message& a, const Message& b) { return Before(a, b, oldest); };
  std::vector<Message>& kept = page.messages;
  uint64_t total = 0;
  ForEachSelected(store, s, [&](Message&& m) {
    ++total;
    if (limit == 0 || kept.size() < limit) {
      kept.push_back(std::move(m));
      if (limit != 0) std::push_heap(kept.begin(), kept.end(), later);
    } else if (Before(m, kept.front(), oldest)) {
      std::pop_heap(kept.begin(), kept.end(), later);
      kept.back() = std::move(m);
      std::push_heap(kept.begin(), kept.end(), later);
    }
  });
  std::sort(kept.begin(), kept.end(), later);
  page.total = total;
  page.more = total > kept.size();
  return page;
}

std::vector<Person> PeopleNamed(Store& store, const PhoneNumbers& numbers,
                                const std::string& name) {
  const TextQuery wanted = TextQuery::Phrase(name, true);
  std::map<std::string, Person> people;
  std::set<std::pair<std::u16string, std::u16string>> seen;
  std::map<std::u16string, std::string> keys;  // each number read once
  auto note = [&](std::u16string_view tel, std::u16string_view called) {
    if (!seen.emplace(tel, called).second) return;
    auto [key, added] = keys.try_emplace(std::u16string(tel));
    const std::string written = Utf8(tel.data(), tel.size());
    if (added) key->second = numbers.Key(written);
    Person& p = people[key->second];
    p.key = key->second;
    if (std::find(p.numbers.begin(), p.numbers.end(), written) == p.numbers.end()) {
      p.numbers.push_back(written);
    }
    const std::string text = Utf8(called.data(), called.size());
    if (!called.empty() && std::find(p.names.begin(), p.names.end(), text) == p.names.end()) {
      p.names.push_back(text);
    }
  };
  store.ForEachHead([&](const SmsHead& h) {
    note(FieldText(h.tel, std::size(h.tel)), FieldText(h.name, std::size(h.name)));
  });
  for (const SmsRecieverHistory& r : ReadAll<SmsRecieverHistory>(
           store, GetZuSmsReceiverHistoryCount, GetAllZuSmsReceiverHistory, "recipient history")) {
    note(FieldText(r.tel, std::size(r.tel)), FieldText(r.name, std::size(r.name)));
  }
  std::vector<Person> exactly, partly;
  for (auto& [key, p] : people) {
    bool is = false, has = false;
    for (const std::string& n : p.names) {
      const std::u16string text = Utf16(n);
      is = is || wanted.Is(text);
      has = has || wanted.Matches(text);
    }
    if (is) exactly.push_back(p);
    if (has) partly.push_back(std::move(p));
  }
  return exactly.empty() ? partly : exactly;
}

}  // namespace zusms::cli
