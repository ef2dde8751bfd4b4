#include "model/Messages.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace zusms::cli {

namespace {

uint64_t Fnv(std::string_view text, uint64_t hash) {
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::u16string_view Field(const char16_t* text, size_t capacity) {
  size_t n = 0;
  while (n < capacity && text[n] != 0) ++n;
  return {text, n};
}

std::string Bytes(std::u16string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

_MimerQueryFilterItem Condition(int32_t field, int32_t op) {
  _MimerQueryFilterItem item{};
  item.field = field;
  item.op = op;
  return item;
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

std::u16string Message::Text() const {
  std::u16string text;
  for (const SmsHead& p : parts) text += Field(p.content, std::size(p.content));
  return text;
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
  return {h.batid, std::u16string(Field(h.tel, std::size(h.tel)))};
}

Message Single(const SmsHead& h) {
  Message m;
  m.parts.push_back(h);
  return m;
}

// Visits every part of a long message the user has, in id order: one pass
// over the store, a page at a time.
void ForEachPart(Store& store, const std::function<void(const SmsHead&)>& visit) {
  const _MimerQueryFilterItem parts[] = {Condition(ZU_HEAD_LONGSMS, ZU_OP_GT),
                                         Condition(ZU_HEAD_BATID, ZU_OP_NE)};
  std::vector<_MimerQueryFilterItem> also(std::begin(parts), std::end(parts));
  also[0].value.number = 1;
  also[1].value.number = 0;
  store.ForEachHead(visit, 0, also);
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

// Seals the long messages of `messages` and completes those that lack parts.
void Complete(Store& store, std::vector<Message>& messages) {
  std::vector<Message*> open;
  for (Message& m : messages) {
    if (!IsPart(m.head())) continue;
    Seal(m);
    if (!m.complete) open.push_back(&m);
  }
  if (!open.empty()) CompleteParts(store, open);
}

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
    throw Failure(fmt::format("the text needs {} parts, more than the {} a message can have",
                              pieces.size(), kMostParts));
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

std::string Identity(std::u16string_view tel, std::u16string_view time, std::u16string_view text) {
  const std::string key = Bytes(tel) + '\0' + Bytes(time) + '\0' + Bytes(text);
  uint8_t bytes[16];
  DerivedUuid(key, bytes);
  return std::string(reinterpret_cast<const char*>(bytes), 16);
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
         long_.emplace(h.batid, std::u16string(Field(h.tel, std::size(h.tel)))).second;
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

void MessageAssembler::Add(const SmsHead& h) {
  if (!IsPart(h)) {
    Message m;
    m.parts.push_back(h);
    emit_(std::move(m));
    return;
  }
  auto key = std::make_tuple(h.batid, std::u16string(Field(h.tel, std::size(h.tel))));
  Message& m = pending_[key];
  m.parts.push_back(h);
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

bool XmlCarries(std::u16string_view text, size_t i) {
  const char16_t c = text[i];
  if (c >= 0xD800 && c <= 0xDBFF) {
    return i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
  }
  if (c >= 0xDC00 && c <= 0xDFFF) {
    return i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF;
  }
  return !(c == 0xFFFE || c == 0xFFFF || (c < 0x20 && c != '\t' && c != '\n' && c != '\r'));
}

namespace {

// A text as the XML export writes it; nullopt when XML carries it whole.
std::optional<std::u16string> AsXmlWrites(std::u16string_view text) {
  std::optional<std::u16string> out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (XmlCarries(text, i)) continue;
    if (!out) out.emplace(text);
    (*out)[i] = u'\uFFFD';
  }
  return out;
}

// The identity of a message as the XML export writes it, when that differs.
std::optional<std::string> WrittenIdentity(std::u16string_view tel, std::u16string_view time,
                                           std::u16string_view text) {
  const auto written_tel = AsXmlWrites(tel);
  const auto written_text = AsXmlWrites(text);
  if (!written_tel && !written_text) return std::nullopt;
  return Identity(written_tel ? *written_tel : std::u16string(tel), time,
                  written_text ? *written_text : std::u16string(text));
}

std::u16string_view TelOf(const SmsHead& h) { return Field(h.tel, std::size(h.tel)); }
std::u16string_view TimeOf(const SmsHead& h) { return Field(h.recvtime, std::size(h.recvtime)); }
std::u16string_view TextOf(const SmsHead& h) { return Field(h.content, std::size(h.content)); }
std::string UuidOf(const SmsHead& h) {
  return std::string(reinterpret_cast<const char*>(h.uuid), sizeof h.uuid);
}

}  // namespace

void StoredMessages::Refresh(Store& store) {
  last_id_ = store.ForEachHead(
      [&](const SmsHead& h) {
        batid_ = std::max(batid_, h.batid);
        if (ours_.contains(h.id)) return;
        if (by_uuid_) uuids_.insert(UuidOf(h));
        if (!IsPart(h)) {
          Know(h, TextOf(h));
          return;
        }
        // The parts of a long message may come in several refreshes.
        const Key key(h.batid, std::u16string(TelOf(h)));
        Message& m = incomplete_[key];
        m.parts.push_back(h);
        if (static_cast<int>(m.parts.size()) < h.longsms) return;
        m.complete = true;
        Seal(m);
        if (!m.complete) return;
        Know(m.head(), m.Text());
        incomplete_.erase(key);
      },
      last_id_);
  ours_.clear();
}

void StoredMessages::Know(const SmsHead& h, std::u16string_view text) {
  theirs_.insert(Identity(TelOf(h), TimeOf(h), text));
  if (auto written = WrittenIdentity(TelOf(h), TimeOf(h), text)) theirs_.insert(*written);
}

bool StoredMessages::Has(const SmsHead& h, std::u16string_view text,
                         const std::string& identity) const {
  if (mine_.contains(identity) || theirs_.contains(identity)) return true;
  const auto written = WrittenIdentity(TelOf(h), TimeOf(h), text);
  return written && theirs_.contains(*written);
}

// Whether the file's long message `m` is the stored incomplete `stored`:
// the same number, time and part count, and every part both have the same,
// by UUID or by text.
bool StoredMessages::Completes(const Message& stored, const Message& m) const {
  const SmsHead& first = m.head();
  std::set<int16_t> indexes;
  size_t shared = 0;
  for (const SmsHead& p : stored.parts) {
    if (p.longsms != first.longsms || TelOf(p) != TelOf(first) || TimeOf(p) != TimeOf(first) ||
        !indexes.insert(p.index).second) {
      return false;
    }
    const auto same = std::find_if(m.parts.begin(), m.parts.end(),
                                   [&](const SmsHead& q) { return q.index == p.index; });
    if (same == m.parts.end()) continue;
    if (!(by_uuid_ && UuidOf(*same) == UuidOf(p)) && TextOf(*same) != TextOf(p)) return false;
    ++shared;
  }
  return shared > 0;
}

void StoredMessages::Took(const Message& m, const std::string& identity) {
  if (m.complete) mine_.insert(identity);
  if (by_uuid_) {
    for (const SmsHead& p : m.parts) uuids_.insert(UuidOf(p));
  }
}

std::vector<SmsHead> StoredMessages::Missing(const Message& m) {
  const SmsHead& h = m.head();
  const std::u16string text = m.Text();
  const std::string identity = Identity(TelOf(h), TimeOf(h), text);
  if (m.complete && Has(h, text, identity)) return {};
  if (IsPart(h)) {
    for (auto it = incomplete_.begin(); it != incomplete_.end(); ++it) {
      if (!Completes(it->second, m)) continue;
      std::set<int16_t> have;
      for (const SmsHead& p : it->second.parts) have.insert(p.index);
      const int32_t batid = std::get<0>(it->first);
      std::vector<SmsHead> missing;
      for (const SmsHead& p : m.parts) {
        if (have.contains(p.index)) continue;
        missing.push_back(p);
        missing.back().batid = batid;
      }
      incomplete_.erase(it);
      Took(m, identity);
      return missing;
    }
  }
  if (by_uuid_ && std::any_of(m.parts.begin(), m.parts.end(),
                              [&](const SmsHead& p) { return uuids_.contains(UuidOf(p)); })) {
    return {};
  }
  std::vector<SmsHead> parts = m.parts;
  if (IsPart(h)) {
    ++batid_;
    for (SmsHead& p : parts) p.batid = batid_;
  }
  Took(m, identity);
  return parts;
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

std::vector<Message> ListMessages(Store& store, const ListOptions& o) {
  std::vector<_MimerQueryFilterItem> items;
  const std::u16string number = Utf16(o.number), since = Utf16(o.since), until = Utf16(o.until),
                       contains = Utf16(o.contains);
  if (o.folder) {
    items.push_back(Condition(ZU_HEAD_FID, ZU_OP_EQ));
    items.back().value.number = *o.folder;
  }
  if (!o.number.empty()) {
    items.push_back(Condition(ZU_HEAD_TEL, ZU_OP_EQ));
    items.back().value.text = number.c_str();
  }
  if (!o.since.empty()) {
    items.push_back(Condition(ZU_HEAD_RECVTIME, ZU_OP_GE));
    items.back().value.text = since.c_str();
  }
  if (!o.until.empty()) {
    items.push_back(Condition(ZU_HEAD_RECVTIME, ZU_OP_LT));
    items.back().value.text = until.c_str();
  }
  _MimerQueryOrderItem orders[] = {{ZU_HEAD_RECVTIME, o.oldest ? 1 : 2},
                                   {ZU_HEAD_ID, o.oldest ? 1 : 2}};
  auto filter_with = [&](std::vector<_MimerQueryFilterItem> extra) {
    extra.insert(extra.begin(), items.begin(), items.end());
    return extra;
  };
  std::vector<Message> out;
  if (o.contains.empty()) {
    // Rows in order until `limit` messages, the parts of a long message
    // gathered from the rows read; parts of a message taken count once, so
    // fetch more rows when they ate into the page. The first query asks for
    // room for some parts: a query ordered by time alone reads the user's
    // every row (no index serves it), whatever its limit.
    for (uint64_t wanted = o.limit + o.limit / 2 + 64;; wanted *= 2) {
      const auto rows = static_cast<uint32_t>(std::min<uint64_t>(wanted, UINT32_MAX));
      out.clear();
      std::map<LongKey, size_t> taken;  // where each long message is in `out`
      auto conditions = filter_with({});
      MimerQueryFilter filter{static_cast<uint32_t>(conditions.size()), conditions.data(), 1, 2,
                              orders};
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
  // A search: the store finds the short messages that hold the text; the
  // long ones are gathered from one pass over all parts, and found when one
  // of their parts meets the other conditions and their whole text holds it.
  auto matching = filter_with({Condition(ZU_HEAD_CONTENT, ZU_OP_CONTAINS)});
  matching.back().value.text = contains.c_str();
  MimerQueryFilter filter{static_cast<uint32_t>(matching.size()), matching.data(), 1, 0, nullptr};
  for (const SmsHead& h : store.AllHeads(&filter)) {
    if (!IsPart(h)) out.push_back(Single(h));
  }
  auto meets = [&](const SmsHead& h) {
    const std::u16string_view time = Field(h.recvtime, std::size(h.recvtime));
    return (!o.folder || h.fid == *o.folder) &&
           (number.empty() || Field(h.tel, std::size(h.tel)) == number) &&
           (since.empty() || time >= since) && (until.empty() || time < until);
  };
  MessageAssembler messages([&](Message&& m) {
    if (!std::any_of(m.parts.begin(), m.parts.end(), meets)) return;
    const std::u16string text = m.Text();
    if (ContainsIgnoringCase(Utf8(text.c_str(), text.size()), o.contains)) {
      out.push_back(std::move(m));
    }
  });
  ForEachPart(store, [&](const SmsHead& h) { messages.Add(h); });
  messages.Finish();
  std::erase_if(out, [&](const Message& m) {
    const std::u16string text = m.Text();
    return !ContainsIgnoringCase(Utf8(text.c_str(), text.size()), o.contains);
  });
  std::sort(out.begin(), out.end(), [&](const Message& a, const Message& b) {
    const int c = std::u16string_view(a.head().recvtime).compare(b.head().recvtime);
    if (c != 0) return o.oldest ? c < 0 : c > 0;
    return o.oldest ? a.id() < b.id() : a.id() > b.id();
  });
  if (out.size() > o.limit) out.resize(o.limit);
  return out;
}

}  // namespace zusms::cli
