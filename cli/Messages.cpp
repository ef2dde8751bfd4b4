#include "Messages.h"

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

// The parts of the long message `h` belongs to.
Message PartsOf(Store& store, const SmsHead& h) {
  _MimerQueryFilterItem items[3] = {Condition(ZU_HEAD_BATID, ZU_OP_EQ),
                                    Condition(ZU_HEAD_TEL, ZU_OP_EQ),
                                    Condition(ZU_HEAD_LONGSMS, ZU_OP_GT)};
  items[0].value.number = h.batid;
  items[1].value.text = h.tel;
  items[2].value.number = 1;
  _MimerQueryOrderItem order[] = {{ZU_HEAD_INDEX, 1}, {ZU_HEAD_ID, 1}};
  MimerQueryFilter filter{3, items, 1, 2, order};
  Message m;
  m.parts = store.AllHeads(&filter);
  if (m.parts.empty()) m.parts.push_back(h);
  Seal(m);
  return m;
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

Message GetMessage(Store& store, uint32_t id) {
  SmsHead h;
  std::memset(&h, 0, sizeof h);
  Check(GetZuSmsHead(*store, id, &h), "reading message " + std::to_string(id));
  if (h.id == 0) throw Failure(fmt::format("no message {}", id));
  if (IsPart(h)) return PartsOf(store, h);
  Message m;
  m.parts.push_back(h);
  return m;
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
  std::set<std::tuple<int32_t, std::u16string>> seen;
  auto take = [&](const SmsHead& h) -> bool {  // false: h was part of one taken already
    if (!IsPart(h)) {
      Message m;
      m.parts.push_back(h);
      out.push_back(std::move(m));
      return true;
    }
    if (!seen.emplace(h.batid, std::u16string(Field(h.tel, std::size(h.tel)))).second) {
      return false;
    }
    out.push_back(PartsOf(store, h));
    return true;
  };
  if (o.contains.empty()) {
    // Rows in order until `limit` messages; parts of a message taken count
    // once, so fetch more rows when they ate into the page.
    for (uint64_t wanted = o.limit;; wanted *= 2) {
      const auto rows = static_cast<uint32_t>(std::min<uint64_t>(wanted, UINT32_MAX));
      out.clear();
      seen.clear();
      auto conditions = filter_with({});
      MimerQueryFilter filter{static_cast<uint32_t>(conditions.size()), conditions.data(), 1, 2,
                              orders};
      const std::vector<SmsHead> heads = store.Heads(&filter, rows);
      for (const SmsHead& h : heads) {
        if (out.size() == o.limit) break;
        take(h);
      }
      if (out.size() == o.limit || heads.size() < rows) return out;
    }
  }
  // A search: heads whose own text matches, and every long message, whose
  // whole text may match across its parts.
  auto matching = filter_with({Condition(ZU_HEAD_CONTENT, ZU_OP_CONTAINS)});
  matching.back().value.text = contains.c_str();
  auto parts = filter_with({Condition(ZU_HEAD_LONGSMS, ZU_OP_GT)});
  parts.back().value.number = 1;
  for (auto* conditions : {&matching, &parts}) {
    MimerQueryFilter filter{static_cast<uint32_t>(conditions->size()), conditions->data(), 1, 0,
                            nullptr};
    for (const SmsHead& h : store.AllHeads(&filter)) take(h);
  }
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
