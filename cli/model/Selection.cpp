#include "model/Selection.h"

#include <algorithm>
#include <map>
#include <set>

#include "model/ReadState.h"
#include "model/Records.h"

namespace zusms::cli {

namespace {

// What the tool checks itself, on the whole message.
class Meets {
 public:
  Meets(Store& store, const Selection& s) : s_(s), since_(Utf16(s.since)), until_(Utf16(s.until)) {
    if (s.unread) unread_.emplace(store);
  }
  bool operator()(const Message& m) const {
    const SmsHead& h = m.head();
    const std::u16string_view time = FieldText(h.recvtime, std::size(h.recvtime));
    if ((s_.folder && h.fid != *s_.folder) || (!since_.empty() && time < since_) ||
        (!until_.empty() && time >= until_) || (s_.locked && !IsLocked(m)) ||
        (s_.long_only && !IsPart(h)) || (unread_ && !unread_->Unread(m))) {
      return false;
    }
    if (s_.text.empty()) return true;
    const std::u16string text = m.Text();
    if (!s_.anywhere) return s_.text.Matches(text);
    return s_.text.MatchesAny(
        {text, FieldText(h.tel, std::size(h.tel)), FieldText(h.name, std::size(h.name))});
  }

 private:
  const Selection& s_;
  const std::u16string since_, until_;
  std::optional<UnreadHeads> unread_;
};

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

// How many messages the store's conditions `items` select: the heads that
// meet them, less the parts of long messages but their first.
uint64_t CountMessages(Store& store, std::vector<_MimerQueryFilterItem> items) {
  MimerQueryFilter filter{static_cast<uint32_t>(items.size()), items.data(), 1, 0, nullptr};
  const uint64_t heads = store.Count(&filter);
  for (const auto& [field, op, value] :
       {std::tuple{ZU_HEAD_LONGSMS, ZU_OP_GT, 1}, std::tuple{ZU_HEAD_BATID, ZU_OP_NE, 0},
        std::tuple{ZU_HEAD_INDEX, ZU_OP_GT, 1}}) {
    items.push_back(Condition(field, op));
    items.back().value.number = value;
  }
  filter = {static_cast<uint32_t>(items.size()), items.data(), 1, 0, nullptr};
  return heads - store.Count(&filter);
}

std::vector<std::u16string> Forms(const Selection& s) {
  std::vector<std::u16string> forms;
  if (s.numbers) {
    for (const std::string& n : *s.numbers) forms.push_back(Utf16(n));
  }
  return forms;
}

}  // namespace

void ForEachSelected(Store& store, const Selection& s,
                     const std::function<void(Message&&)>& visit) {
  const Meets meets(store, s);
  const std::vector<std::u16string> forms = Forms(s);
  if (!s.ids.empty()) {
    std::set<uint32_t> seen;
    for (const uint32_t id : s.ids) {
      Message m = GetMessage(store, id);
      const std::u16string_view tel = FieldText(m.head().tel, std::size(m.head().tel));
      const bool number = !s.numbers || std::find(forms.begin(), forms.end(), tel) != forms.end();
      if (seen.insert(m.id()).second && number && meets(m)) visit(std::move(m));
    }
    return;
  }
  const std::u16string since = Utf16(s.since), until = Utf16(s.until);
  // Terms the store can look for first; with --anywhere a term may be in
  // the number or the name instead.
  const std::vector<std::u16string> patterns =
      s.anywhere || s.text.empty() ? std::vector<std::u16string>{} : s.text.LikePatterns();
  std::vector<const char16_t*> numbers;
  for (const std::u16string& form : forms) numbers.push_back(form.c_str());
  if (!s.numbers) numbers.push_back(nullptr);
  for (const char16_t* tel : numbers) {
    // Short messages: the store checks what it can on each head.
    std::vector<_MimerQueryFilterItem> shorts = Number(tel);
    AddTimes(shorts, since, until);
    for (const std::u16string& pattern : patterns) {
      shorts.push_back(Condition(ZU_HEAD_CONTENT, ZU_OP_LIKE));
      shorts.back().value.text = pattern.c_str();
    }
    if (s.locked) {
      shorts.push_back(Condition(ZU_HEAD_LOCKFLAG, ZU_OP_NE));
      shorts.back().value.number = 0;
    }
    store.ForEachHead(
        [&](const SmsHead& h) {
          if (IsPart(h)) return;
          Message m;
          m.parts.push_back(h);
          if (meets(m)) visit(std::move(m));
        },
        0, shorts);
    // Long messages: all their parts, whatever each holds.
    MessageAssembler parts([&](Message&& m) {
      if (meets(m)) visit(std::move(m));
    });
    ForEachPart(
        store, [&](const SmsHead& h) { parts.Add(h); }, Number(tel));
    parts.Finish();
  }
}

SelectedPage SelectPage(Store& store, const Selection& s, bool oldest, uint32_t limit) {
  SelectedPage page;
  if (s.Plain()) {
    ListOptions o;
    o.folder = s.folder;
    o.numbers = s.numbers;
    o.since = s.since;
    o.until = s.until;
    o.oldest = oldest;
    o.limit = limit == 0 ? UINT32_MAX / 4 : limit;
    page.messages = ListMessages(store, o);
    page.total = page.messages.size();
    if (page.messages.size() < o.limit) return page;
    // The page is full: count the rest.
    const std::u16string since = Utf16(s.since), until = Utf16(s.until);
    const std::vector<std::u16string> forms = Forms(s);
    std::vector<const char16_t*> numbers;
    for (const std::u16string& form : forms) numbers.push_back(form.c_str());
    if (!s.numbers) numbers.push_back(nullptr);
    page.total = 0;
    for (const char16_t* tel : numbers) {
      std::vector<_MimerQueryFilterItem> items = Number(tel);
      AddTimes(items, since, until);
      if (s.folder) {
        items.push_back(Condition(ZU_HEAD_FID, ZU_OP_EQ));
        items.back().value.number = *s.folder;
      }
      page.total += CountMessages(store, items);
    }
    page.total = std::max<uint64_t>(page.total, page.messages.size());
    return page;
  }
  // The first `limit` in a heap whose top is the last of them.
  auto later = [oldest](const Message& a, const Message& b) { return Before(a, b, oldest); };
  std::vector<Message>& kept = page.messages;
  ForEachSelected(store, s, [&](Message&& m) {
    ++page.total;
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
