#include "model/Selection.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_set>

#include "model/ReadState.h"
#include "model/Records.h"

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
    if ((tels_ && !tels_->contains(std::u16string(tel))) || (s_.number_is && !s_.number_is(tel))) {
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

// Past this length a LIKE pattern is more than SQLite takes; the terms are
// then checked by the tool alone.
constexpr size_t kLongestPattern = 10000;

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

std::vector<std::u16string> Forms(const Selection& s) {
  std::vector<std::u16string> forms;
  if (s.numbers) {
    for (const std::string& n : *s.numbers) forms.push_back(Utf16(n));
  }
  return forms;
}

}  // namespace

bool Selection::Plain() const {
  return ids.empty() && text.empty() && !unread && !locked && !long_only && !number_is &&
         (!numbers || numbers->size() <= kFewForms);
}

void ForEachSelected(Store& store, const Selection& s,
                     const std::function<void(Message&&)>& visit) {
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
  // Terms the store can look for first; with --anywhere a term may be in
  // the number or the name instead.
  const std::vector<std::u16string> patterns =
      s.anywhere || s.text.empty() ? std::vector<std::u16string>{} : s.text.LikePatterns();
  std::vector<const char16_t*> numbers;
  if (!one_pass) {
    for (const std::u16string& form : forms) numbers.push_back(form.c_str());
  }
  if (!s.numbers || one_pass) numbers.push_back(nullptr);
  for (const char16_t* tel : numbers) {
    // Short messages: the store checks what it can on each head.
    std::vector<_MimerQueryFilterItem> shorts = Number(tel);
    AddTimes(shorts, since, until);
    for (const std::u16string& pattern : patterns) {
      if (pattern.size() > kLongestPattern) continue;
      shorts.push_back(Condition(ZU_HEAD_CONTENT, ZU_OP_LIKE));
      shorts.back().value.text = pattern.c_str();
    }
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
