#include "model/Messages.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace zusms::cli {

std::u16string_view FieldText(const char16_t* text, size_t capacity) {
  size_t n = 0;
  while (n < capacity && text[n] != 0) ++n;
  return {text, n};
}

_MimerQueryFilterItem Condition(int32_t field, int32_t op) {
  _MimerQueryFilterItem item{};
  item.field = field;
  item.op = op;
  return item;
}

namespace {

uint64_t Fnv(std::string_view text, uint64_t hash) {
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string Bytes(std::u16string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

bool ContainsIgnoringCase(std::string haystack, std::string needle) {
  auto lower = [](std::string& s) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  };
  lower(haystack);
  lower(needle);
  return haystack.find(needle) != std::string::npos;
}

}  // namespace

void ForEachPart(Store& store, const std::function<void(const SmsHead&)>& visit,
                 std::span<const _MimerQueryFilterItem> more) {
  std::vector<_MimerQueryFilterItem> also(more.begin(), more.end());
  also.push_back(Condition(ZU_HEAD_LONGSMS, ZU_OP_GT));
  also.back().value.number = 1;
  also.push_back(Condition(ZU_HEAD_BATID, ZU_OP_NE));
  also.back().value.number = 0;
  store.ForEachHead(visit, 0, also);
}

std::u16string Message::Text() const {
  std::u16string text;
  for (const SmsHead& p : parts) text += FieldText(p.content, std::size(p.content));
  return text;
}

namespace {

// The default folder that tells where a message came from: its own, but
// for the trash (9) and the user's folders (past 14), which hold messages
// of any kind: there the folder it was moved from, where the store says.
int32_t HomeFolder(const SmsHead& h) {
  const bool any_kind = h.fid == 9 || h.fid > 14 || h.fid < 1;
  return any_kind && h.oldfid >= 1 && h.oldfid <= 14 ? h.oldfid : h.fid;
}

}  // namespace

bool IsSent(const SmsHead& h) {
  const int32_t home = HomeFolder(h);
  return h.type >= 2 || home == 6 || home == 7 || home == 8;
}

bool IsDraft(const SmsHead& h) { return h.type == 3 || (h.type < 2 && HomeFolder(h) == 8); }

bool IsUnsent(const SmsHead& h) {
  return (h.type >= 4 && h.type <= 6) || (h.type < 2 && HomeFolder(h) == 6);
}

bool IsPart(const SmsHead& h) { return h.batid != 0 && h.longsms > 1; }

void Seal(Message& m) {
  std::stable_sort(m.parts.begin(), m.parts.end(),
                   [](const SmsHead& a, const SmsHead& b) { return a.index < b.index; });
  if (!IsPart(m.head())) return;
  std::set<int16_t> indexes;
  for (const SmsHead& p : m.parts) indexes.insert(p.index);
  m.complete =
      static_cast<int>(indexes.size()) >= m.head().longsms && indexes.size() == m.parts.size();
}

namespace {

// A long message's parts share these: its batid and its number.
using LongKey = std::tuple<int32_t, std::u16string>;

LongKey KeyOf(const SmsHead& h) {
  return {h.batid, std::u16string(FieldText(h.tel, std::size(h.tel)))};
}

Message Single(const SmsHead& h) {
  Message m;
  m.parts.push_back(h);
  return m;
}

// Adds to `m` the heads of `more` it does not hold yet.
void Merge(Message& m, const std::vector<SmsHead>& more) {
  std::set<int32_t> ids;
  for (const SmsHead& p : m.parts) ids.insert(p.id);
  for (const SmsHead& p : more) {
    if (ids.insert(p.id).second) m.parts.push_back(p);
  }
}

// The parts of `m`'s message whose ids lie near those of the parts it holds:
// the parts of a message are added together, so their ids are next to each
// other (whatever their times). Nothing when the parts it holds lie apart.
std::vector<SmsHead> PartsNearby(Store& store, const Message& m) {
  int64_t low = INT32_MAX, high = 0, reach = 1;
  for (const SmsHead& p : m.parts) {
    low = std::min<int64_t>(low, p.id);
    high = std::max<int64_t>(high, p.id);
    reach = std::max<int64_t>(reach, p.longsms);
  }
  if (high - low > 4 * reach) return {};
  _MimerQueryFilterItem items[5] = {
      Condition(ZU_HEAD_ID, ZU_OP_GE), Condition(ZU_HEAD_ID, ZU_OP_LE),
      Condition(ZU_HEAD_BATID, ZU_OP_EQ), Condition(ZU_HEAD_TEL, ZU_OP_EQ),
      Condition(ZU_HEAD_LONGSMS, ZU_OP_GT)};
  items[0].value.number = static_cast<int32_t>(std::max<int64_t>(low - reach, 0));
  items[1].value.number = static_cast<int32_t>(std::min<int64_t>(high + reach, INT32_MAX));
  items[2].value.number = m.head().batid;
  items[3].value.text = m.head().tel;
  items[4].value.number = 1;
  MimerQueryFilter filter{5, items, 1, 0, nullptr};
  return store.Heads(&filter, static_cast<uint32_t>(high - low + 2 * reach + 1));
}

// The parts of `h`'s message wherever they are: the store reads every head
// of the user for them, but hands on only these.
std::vector<SmsHead> PartsAnywhere(Store& store, const SmsHead& h) {
  _MimerQueryFilterItem items[3] = {Condition(ZU_HEAD_BATID, ZU_OP_EQ),
                                    Condition(ZU_HEAD_TEL, ZU_OP_EQ),
                                    Condition(ZU_HEAD_LONGSMS, ZU_OP_GT)};
  items[0].value.number = h.batid;
  items[1].value.text = h.tel;
  items[2].value.number = 1;
  MimerQueryFilter filter{3, items, 1, 0, nullptr};
  constexpr uint32_t kEnough = 1000;  // more only where parts are stored twice
  std::vector<SmsHead> parts = store.Heads(&filter, kEnough);
  return parts.size() < kEnough ? parts : store.AllHeads(&filter);
}

// A search of the store for one message's parts costs about half a pass
// through the tool over all parts, which hands every part over.
constexpr size_t kSearchesBeforeAPass = 2;

// Gives the long messages in `open`, whose parts are not all there, the
// parts they lack: from the ids around them where that completes them, the
// others from a search of the store each when they are few, else from one
// pass over all long parts, so that the work does not grow with the
// product of messages and store. What is still missing then is
// not stored; those stay incomplete.
void CompleteParts(Store& store, const std::vector<Message*>& open) {
  std::map<LongKey, Message*> rest;
  for (Message* m : open) {
    Message near = *m;
    Merge(near, PartsNearby(store, *m));
    Seal(near);
    if (near.complete) {
      *m = std::move(near);
    } else {
      rest.emplace(KeyOf(m->head()), m);
    }
  }
  if (rest.empty()) return;
  std::map<LongKey, std::vector<SmsHead>> found;
  if (rest.size() <= kSearchesBeforeAPass) {
    for (auto& [key, m] : rest) found[key] = PartsAnywhere(store, m->head());
  } else {
    ForEachPart(store, [&](const SmsHead& h) {
      LongKey key = KeyOf(h);
      if (rest.contains(key)) found[std::move(key)].push_back(h);
    });
  }
  for (auto& [key, m] : rest) {
    Merge(*m, found[key]);
    Seal(*m);
  }
}

}  // namespace

void Complete(Store& store, std::vector<Message>& messages) {
  std::vector<Message*> open;
  for (Message& m : messages) {
    if (!IsPart(m.head())) continue;
    Seal(m);
    if (!m.complete) open.push_back(&m);
  }
  if (!open.empty()) CompleteParts(store, open);
}

namespace {

std::vector<std::u16string_view> Pieces(std::u16string_view text) {
  std::vector<std::u16string_view> pieces;
  for (size_t at = 0; at < text.size() || pieces.empty();) {
    size_t len = std::min(kPartLength, text.size() - at);
    const char16_t last = len == 0 ? 0 : text[at + len - 1];
    if (at + len < text.size() && last >= 0xD800 && last <= 0xDBFF) --len;
    pieces.push_back(text.substr(at, len));
    at += len;
  }
  if (pieces.size() > kMostParts) {
    throw Failure(fmt::format("the text needs {}, more than the {} a message can have",
                              Counted(pieces.size(), "part"), kMostParts));
  }
  return pieces;
}

}  // namespace

size_t PartCount(std::u16string_view text) { return Pieces(text).size(); }

std::vector<SmsHead> SplitMessage(const SmsHead& base, std::u16string_view text,
                                  const uint8_t* uuid, int32_t batid) {
  const std::vector<std::u16string_view> pieces = Pieces(text);
  std::vector<SmsHead> parts;
  for (size_t p = 0; p < pieces.size(); ++p) {
    SmsHead part = base;
    std::fill(std::begin(part.content), std::end(part.content), u'\0');
    std::copy(pieces[p].begin(), pieces[p].end(), part.content);
    if (pieces.size() > 1) {
      part.longsms = static_cast<int16_t>(pieces.size());
      part.index = static_cast<int16_t>(p + 1);
      part.batid = batid;
    }
    if (uuid) {
      DerivedUuid(std::string(reinterpret_cast<const char*>(uuid), 16) + std::to_string(p),
                  part.uuid);
    }
    parts.push_back(part);
  }
  return parts;
}

std::string MessageKey(std::u16string_view tel, std::u16string_view time,
                       std::u16string_view text) {
  return Bytes(tel) + '\0' + Bytes(time) + '\0' + Bytes(text);
}

void DerivedUuid(std::string_view parts, uint8_t* uuid) {
  const uint64_t a = Fnv(parts, 14695981039346656037ULL);
  const uint64_t b = Fnv(parts, a ^ 0x9E3779B97F4A7C15ULL);
  for (int i = 0; i < 8; ++i) {
    uuid[i] = static_cast<uint8_t>(a >> (8 * i));
    uuid[8 + i] = static_cast<uint8_t>(b >> (8 * i));
  }
  uuid[6] = static_cast<uint8_t>((uuid[6] & 0x0F) | 0x80);  // version 8
  uuid[8] = static_cast<uint8_t>((uuid[8] & 0x3F) | 0x80);  // RFC 9562 variant
}

bool MessageCounter::Starts(const SmsHead& h) {
  return !IsPart(h) ||
         long_.emplace(h.batid, std::u16string(FieldText(h.tel, std::size(h.tel)))).second;
}

uint32_t CountMessagesInFolder(Store& store, int32_t fid) {
  _MimerQueryFilterItem items[3] = {Condition(ZU_HEAD_FID, ZU_OP_EQ),
                                    Condition(ZU_HEAD_LONGSMS, ZU_OP_GT),
                                    Condition(ZU_HEAD_BATID, ZU_OP_NE)};
  items[0].value.number = fid;
  items[1].value.number = 1;
  items[2].value.number = 0;
  MimerQueryFilter filter{3, items, 1, 0, nullptr};
  const std::vector<SmsHead> parts = store.AllHeads(&filter);
  MessageCounter counter;
  uint32_t long_messages = 0;
  for (const SmsHead& p : parts) long_messages += counter.Starts(p) ? 1 : 0;
  return store.CountInFolder(fid) - static_cast<uint32_t>(parts.size()) + long_messages;
}

void MessageAssembler::Add(const SmsHead& h, bool unread) {
  if (!IsPart(h)) {
    Message m;
    m.parts.push_back(h);
    m.unread = unread;
    emit_(std::move(m));
    return;
  }
  auto key = std::make_tuple(h.batid, std::u16string(FieldText(h.tel, std::size(h.tel))));
  Message& m = pending_[key];
  m.parts.push_back(h);
  m.unread = m.unread || unread;
  if (static_cast<int>(m.parts.size()) >= h.longsms) {
    Message done = std::move(m);
    pending_.erase(key);
    Seal(done);
    emit_(std::move(done));
  }
}

void MessageAssembler::Finish() {
  for (auto& [key, m] : pending_) {
    Seal(m);
    emit_(std::move(m));
  }
  pending_.clear();
}

bool IsLocked(const Message& m) {
  return std::any_of(m.parts.begin(), m.parts.end(), [](const SmsHead& p) { return p.lockflag; });
}

size_t SkipLocked(std::vector<Message>& messages, bool include_locked) {
  if (include_locked) return 0;
  return std::erase_if(messages, IsLocked);
}

void DeleteMessages(Store& store, const std::vector<Message>& messages) {
  Batch batch(store);
  for (const Message& m : messages) {
    for (const SmsHead& p : m.parts) {
      Check(DeleteZuSmsHead(*store, static_cast<uint32_t>(p.id)), "deleting the message");
    }
  }
  batch.Commit();
}

Message GetMessage(Store& store, uint32_t id) {
  SmsHead h;
  std::memset(&h, 0, sizeof h);
  Check(GetZuSmsHead(*store, id, &h), "reading message " + std::to_string(id));
  if (h.id == 0) throw Failure(fmt::format("no message {}", id));
  std::vector<Message> m{Single(h)};
  Complete(store, m);
  return std::move(m.front());
}

namespace {

// What a listing asks for, as the store's conditions (which point into the
// texts here: a Wanted stays where it is made).
struct Wanted {
  explicit Wanted(const ListOptions& o)
      : number(Utf16(o.number)), since(Utf16(o.since)), until(Utf16(o.until)), folder(o.folder) {
    if (folder) {
      items.push_back(Condition(ZU_HEAD_FID, ZU_OP_EQ));
      items.back().value.number = *folder;
    }
    for (const auto& [text, field, op] : {std::tuple{&number, ZU_HEAD_TEL, ZU_OP_EQ},
                                          std::tuple{&since, ZU_HEAD_RECVTIME, ZU_OP_GE},
                                          std::tuple{&until, ZU_HEAD_RECVTIME, ZU_OP_LT}}) {
      if (text->empty()) continue;
      items.push_back(Condition(field, op));
      items.back().value.text = text->c_str();
    }
  }
  Wanted(const Wanted&) = delete;
  Wanted& operator=(const Wanted&) = delete;
  // Whether the head meets the conditions.
  bool Meets(const SmsHead& h) const {
    const std::u16string_view time = FieldText(h.recvtime, std::size(h.recvtime));
    return (!folder || h.fid == *folder) &&
           (number.empty() || FieldText(h.tel, std::size(h.tel)) == number) &&
           (since.empty() || time >= since) && (until.empty() || time < until);
  }

  const std::u16string number, since, until;
  const std::optional<int32_t> folder;
  std::vector<_MimerQueryFilterItem> items;
};

// Rows in order until `limit` messages, the parts of a long message
// gathered from the rows read; parts of a message taken count once, so
// fetch more rows when they ate into the page. The first query asks for
// room for some parts: a query ordered by time alone reads the user's
// every row (no index serves it), whatever its limit.
std::vector<Message> Page(Store& store, const ListOptions& o, const Wanted& wanted) {
  _MimerQueryOrderItem orders[] = {{ZU_HEAD_RECVTIME, o.oldest ? 1 : 2},
                                   {ZU_HEAD_ID, o.oldest ? 1 : 2}};
  std::vector<_MimerQueryFilterItem> conditions = wanted.items;
  MimerQueryFilter filter{static_cast<uint32_t>(conditions.size()), conditions.data(), 1, 2,
                          orders};
  std::vector<Message> out;
  for (uint64_t want = o.limit + o.limit / 2 + 64;; want *= 2) {
    const auto rows = static_cast<uint32_t>(std::min<uint64_t>(want, UINT32_MAX));
    out.clear();
    std::map<LongKey, size_t> taken;  // where each long message is in `out`
    const std::vector<SmsHead> heads = store.Heads(&filter, rows);
    for (const SmsHead& h : heads) {
      if (IsPart(h)) {
        const auto [at, first] = taken.try_emplace(KeyOf(h), out.size());
        if (!first) {
          out[at->second].parts.push_back(h);
          continue;
        }
        if (out.size() == o.limit) taken.erase(at);
      }
      if (out.size() < o.limit) out.push_back(Single(h));
    }
    if (out.size() == o.limit || heads.size() < rows) break;
  }
  Complete(store, out);
  return out;
}

// Sorts messages gathered out of order as a listing shows them, by the
// time of their first part, and keeps the first `limit`.
void InListOrder(std::vector<Message>& out, const ListOptions& o) {
  std::sort(out.begin(), out.end(), [&](const Message& a, const Message& b) {
    const int c = std::u16string_view(a.head().recvtime).compare(b.head().recvtime);
    if (c != 0) return o.oldest ? c < 0 : c > 0;
    return o.oldest ? a.id() < b.id() : a.id() > b.id();
  });
  if (out.size() > o.limit) out.resize(o.limit);
}

bool HoldsText(const Message& m, const std::string& text) {
  const std::u16string whole = m.Text();
  return ContainsIgnoringCase(Utf8(whole.c_str(), whole.size()), text);
}

// A search: the store finds the short messages that hold the text; the
// long ones are gathered from one pass over all parts, and found when one
// of their parts meets the other conditions and their whole text holds it.
std::vector<Message> Search(Store& store, const ListOptions& o, const Wanted& wanted) {
  const std::u16string contains = Utf16(o.contains);
  std::vector<_MimerQueryFilterItem> matching = wanted.items;
  matching.push_back(Condition(ZU_HEAD_CONTENT, ZU_OP_CONTAINS));
  matching.back().value.text = contains.c_str();
  MimerQueryFilter filter{static_cast<uint32_t>(matching.size()), matching.data(), 1, 0, nullptr};
  std::vector<Message> out;
  for (const SmsHead& h : store.AllHeads(&filter)) {
    if (!IsPart(h)) out.push_back(Single(h));
  }
  MessageAssembler messages([&](Message&& m) {
    const auto meets = [&](const SmsHead& h) { return wanted.Meets(h); };
    if (std::any_of(m.parts.begin(), m.parts.end(), meets) && HoldsText(m, o.contains)) {
      out.push_back(std::move(m));
    }
  });
  ForEachPart(store, [&](const SmsHead& h) { messages.Add(h); });
  messages.Finish();
  std::erase_if(out, [&](const Message& m) { return !HoldsText(m, o.contains); });
  InListOrder(out, o);
  return out;
}

}  // namespace

std::vector<Message> ListMessages(Store& store, const ListOptions& o) {
  if (!o.numbers) {
    const Wanted wanted(o);
    return o.contains.empty() ? Page(store, o, wanted) : Search(store, o, wanted);
  }
  // The listing of each way of writing the number holds the first `limit`
  // of its messages, so the first `limit` of them all are among them.
  std::vector<Message> out;
  for (const std::string& number : *o.numbers) {
    ListOptions one = o;
    one.numbers.reset();
    one.number = number;
    for (Message& m : ListMessages(store, one)) out.push_back(std::move(m));
  }
  if (o.numbers->size() > 1) InListOrder(out, o);
  return out;
}

}  // namespace zusms::cli
