#include "backup/StoredMessages.h"

#include <xxhash.h>

#include <algorithm>
#include <optional>
#include <set>

#include "backup/MmsRecord.h"

namespace zusms::cli {

std::string Identity(std::u16string_view tel, std::u16string_view time, std::u16string_view text) {
  const std::string key = MessageKey(tel, time, text);
  XXH128_canonical_t digest;
  XXH128_canonicalFromHash(&digest, XXH3_128bits(key.data(), key.size()));
  return std::string(reinterpret_cast<const char*>(digest.digest), sizeof digest.digest);
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

std::u16string_view TelOf(const SmsHead& h) { return FieldText(h.tel, std::size(h.tel)); }
std::u16string_view TimeOf(const SmsHead& h) {
  return FieldText(h.recvtime, std::size(h.recvtime));
}
std::u16string_view TextOf(const SmsHead& h) { return FieldText(h.content, std::size(h.content)); }
std::string UuidOf(const SmsHead& h) {
  return std::string(reinterpret_cast<const char*>(h.uuid), sizeof h.uuid);
}
uint64_t TimeKey(std::u16string_view time) {
  return XXH3_64bits(time.data(), time.size() * sizeof(char16_t));
}

}  // namespace

void StoredMessages::Refresh(Store& store) {
  last_id_ = store.ForEachHead(
      [&](const SmsHead& h) {
        batid_ = std::max(batid_, h.batid);
        if (ours_.contains(h.id)) return;
        if (mms_) by_time_.emplace(TimeKey(TimeOf(h)), h.id);
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

bool StoredMessages::HasMms(Store& store, const std::string& identity, std::u16string_view time,
                            const uint8_t* uuid) {
  if (by_uuid_ && uuid &&
      !uuids_.insert(std::string(reinterpret_cast<const char*>(uuid), 16)).second) {
    return true;
  }
  const auto [from, to] = by_time_.equal_range(TimeKey(time));
  for (auto it = from; it != to; ++it) {
    SmsHead h{};
    if (GetZuSmsHead(*store, static_cast<uint32_t>(it->second), &h) != 0) continue;  // deleted
    if (const auto m = ReadMms(store, h)) mms_known_.insert(StoredMmsIdentity(store, *m));
  }
  by_time_.erase(from, to);
  return !mms_known_.insert(identity).second;
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

void ReadMessages::Add(const Message& m) {
  const SmsHead& h = m.head();
  uint8_t identities = 0;
  if (m.complete) {
    const std::u16string text = m.Text();
    keys_ += Identity(TelOf(h), TimeOf(h), text);
    ++identities;
    if (auto written = WrittenIdentity(TelOf(h), TimeOf(h), text)) {
      keys_ += *written;
      ++identities;
    }
  }
  if (by_uuid_) {
    for (const SmsHead& p : m.parts) keys_ += UuidOf(p);
  }
  ends_.push_back({static_cast<uint32_t>(keys_.size() / 16), identities});
}

void ReadMessages::Clear() {
  keys_.clear();
  ends_.clear();
  mms_.clear();
}

size_t ReadMessages::StoredIn(Store& store) const {
  StoredMessages stored(by_uuid_);
  if (!mms_.empty()) stored.WithMms();
  stored.Refresh(store);
  const auto key = [&](size_t i) { return keys_.substr(16 * i, 16); };
  size_t n = 0, from = 0;
  for (const End& end : ends_) {
    const size_t uuids = from + end.identities;
    bool there = false;
    for (size_t i = from; i < uuids && !there; ++i) there = stored.Knows(key(i));
    if (!there && uuids < end.keys) {
      there = true;
      for (size_t i = uuids; i < end.keys && there; ++i) there = stored.KnowsUuid(key(i));
    }
    n += there ? 1 : 0;
    from = end.keys;
  }
  for (const auto& [identity, time] : mms_) {
    if (stored.HasMms(store, identity, time, nullptr)) ++n;
  }
  return n;
}

}  // namespace zusms::cli
