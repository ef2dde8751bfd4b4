#include "backup/MmsRecord.h"

#include <fmt/format.h>
#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "backup/StoredMessages.h"
#include "model/Messages.h"
#include "model/Multimedia.h"
#include "text/Text.h"

namespace zusms::cli {

namespace {

template <size_t N>
std::u16string_view Field(const char16_t (&f)[N]) {
  return FieldText(f, N);
}

// Hashes fields with their lengths, so that no two lists of them run together.
class Hasher {
 public:
  Hasher() : state_(XXH3_createState(), XXH3_freeState) {
    if (!state_) throw std::bad_alloc();
    XXH3_128bits_reset(state_.get());
  }
  void Bytes(const void* p, size_t n) { XXH3_128bits_update(state_.get(), p, n); }
  void Number(uint64_t v) { Bytes(&v, sizeof v); }
  // A text as the XML export writes it (what XML cannot carry as U+FFFD),
  // so that a message read back from our own export is the same message.
  void Text(std::u16string_view t) {
    Number(t.size());
    size_t i = 0;
    while (i < t.size() && XmlCarries(t, i)) ++i;
    if (i == t.size()) {
      Bytes(t.data(), t.size() * sizeof(char16_t));
      return;
    }
    std::u16string written(t);
    for (; i < t.size(); ++i) {
      if (!XmlCarries(t, i)) written[i] = u'\uFFFD';
    }
    Bytes(written.data(), written.size() * sizeof(char16_t));
  }
  std::string Digest() {
    XXH128_canonical_t digest;
    XXH128_canonicalFromHash(&digest, XXH3_128bits_digest(state_.get()));
    return std::string(reinterpret_cast<const char*>(digest.digest), sizeof digest.digest);
  }

 private:
  std::unique_ptr<XXH3_state_t, XXH_errorcode (*)(XXH3_state_t*)> state_;
};

}  // namespace

bool IsLayoutName(std::u16string_view name) {
  return name.starts_with(u"part:") || name.starts_with(u"addr:");
}

std::u16string_view Cut(std::u16string_view text, size_t most) {
  if (text.size() <= most) return text;
  if (most > 0 && text[most - 1] >= 0xD800 && text[most - 1] <= 0xDBFF) --most;
  return text.substr(0, most);
}

SmsMmsAttribute Attribute(std::u16string_view name, std::u16string_view value) {
  SmsMmsAttribute a{};
  // Named as the file names it: a part's or an address's attribute without its place.
  const std::u16string_view own = name.substr(IsLayoutName(name) ? name.rfind(u':') + 1 : 0);
  const std::string shown = Utf8(own.data(), own.size());
  if (name.size() + 1 > std::size(a.name)) {
    throw Failure(
        fmt::format("the attribute name \"{}\" is longer than {}", shown,
                    Counted(std::size(a.name) - 1 - (name.size() - own.size()), "character")));
  }
  if (value.size() + 1 > std::size(a.value)) {
    throw Failure(
        fmt::format("{}: longer than {}", shown, Counted(std::size(a.value) - 1, "character")));
  }
  if (name.find(u'\0') != name.npos || value.find(u'\0') != value.npos) {
    throw Failure(fmt::format("{}: a NUL character", shown));
  }
  std::copy(name.begin(), name.end(), a.name);
  std::copy(value.begin(), value.end(), a.value);
  return a;
}

void AddAttribute(std::vector<SmsMmsAttribute>& attrs, std::u16string_view name,
                  std::u16string_view value) {
  constexpr size_t kRow = std::size(SmsMmsAttribute{}.value) - 1;
  do {
    const std::u16string_view row = Cut(value, kRow);
    attrs.push_back(Attribute(name, row));
    name = u"+";
    value.remove_prefix(row.size());
  } while (!value.empty());
}

std::vector<std::pair<std::u16string, std::u16string>> JoinedAttributes(const MmsRecord& m) {
  std::vector<std::pair<std::u16string, std::u16string>> joined;
  for (const SmsMmsAttribute& a : m.attrs) {
    const std::u16string_view name = Field(a.name), value = Field(a.value);
    if (name == u"+" && !joined.empty()) {
      joined.back().second += value;
    } else {
      joined.emplace_back(name, value);
    }
  }
  return joined;
}

std::string MmsIdentity(const MmsRecord& m, const DataReader& data) {
  Hasher h;
  h.Text(Field(m.head.recvtime));
  h.Number(m.addrs.size());
  for (const SmsMmsAddress& a : m.addrs) {
    h.Text(Field(a.address));
    h.Number(static_cast<uint64_t>(a.type));
  }
  h.Number(m.parts.size());
  for (size_t i = 0; i < m.parts.size(); ++i) {
    const SmsMmsPart& d = m.parts[i].desc;
    h.Number(static_cast<uint64_t>(static_cast<int64_t>(d.seq)));
    for (const auto text : {Field(d.ctype), Field(d.name), Field(d.fname), Field(d.charset),
                            Field(d.cid), Field(d.cl)}) {
      h.Text(text);
    }
    h.Text(m.parts[i].text);
    h.Number(d.datalen);
    data(i, [&](const uint8_t* p, size_t n) { h.Bytes(p, n); });
  }
  return h.Digest();
}

std::string MmsIdentity(const MmsRecord& m) {
  return MmsIdentity(m, [&](size_t i, const auto& piece) { m.parts[i].data.Read(piece); });
}

namespace {

// Hands AddZuSmsMmsFrom a record's parts, one in memory at a time.
struct PartSource {
  const MmsRecord& m;
  std::vector<uint8_t> buffer;  // a part kept aside, read back
  std::string error;

  static int32_t ZUSMS_CALL Give(void* context, uint32_t i, SmsMmsPartData* out) {
    auto& s = *static_cast<PartSource*>(context);
    try {
      const MmsPart& p = s.m.parts[i];
      out->part = p.desc;
      out->part.datalen = static_cast<uint32_t>(p.data.size);
      out->text = p.has_text ? p.text.c_str() : nullptr;
      s.buffer = std::vector<uint8_t>();
      out->data = p.data.size == 0 ? nullptr : p.data.Get(s.buffer);
      return 0;
    } catch (const std::exception& e) {
      s.error = e.what();
      return 1;
    }
  }
};

}  // namespace

std::string MmsProblem(Store& store, const MmsRecord& m) {
  std::vector<SmsMmsPart> descs;
  for (const MmsPart& p : m.parts) {
    descs.push_back(p.desc);
    descs.back().textlen = static_cast<uint32_t>(std::min<size_t>(p.text.size(), UINT32_MAX));
    descs.back().datalen = static_cast<uint32_t>(std::min<uint64_t>(p.data.size, UINT32_MAX));
  }
  try {
    Check(CheckZuSmsMms(*store, &m.head, &m.mms, m.attrs.data(),
                        static_cast<uint32_t>(m.attrs.size()), descs.data(),
                        static_cast<uint32_t>(descs.size()), m.addrs.data(),
                        static_cast<uint32_t>(m.addrs.size())),
          "mms");
  } catch (const Failure& f) {
    return f.what();
  }
  return {};
}

uint32_t StoreMms(Store& store, MmsRecord& m, const std::string& what) {
  PartSource source{m, {}, {}};
  uint32_t id = 0;
  const int32_t status = AddZuSmsMmsFrom(
      *store, &m.head, &m.mms, m.attrs.data(), static_cast<uint32_t>(m.attrs.size()),
      static_cast<uint32_t>(m.parts.size()), &PartSource::Give, &source, m.addrs.data(),
      static_cast<uint32_t>(m.addrs.size()), &id);
  if (!source.error.empty()) throw Failure(what + ": " + source.error);
  Check(status, what);
  return id;
}

std::optional<MmsRecord> ReadMms(Store& store, const SmsHead& h) {
  MmsRecord m;
  uint32_t attrs = 0, parts = 0, addrs = 0;
  const auto id = static_cast<uint32_t>(h.id);
  const int32_t status = GetZuSmsMms(*store, id, &m.mms, &attrs, &parts, &addrs);
  if (status == 100) return std::nullopt;
  Check(status, "reading a multimedia message");
  m.head = h;
  uint32_t n = 0;
  m.attrs.resize(attrs);
  Check(GetAllZuSmsMmsAttribute(*store, id, m.attrs.data(), attrs, &n), "reading its attributes");
  m.attrs.resize(n);
  m.addrs.resize(addrs);
  Check(GetAllZuSmsMmsAddress(*store, id, m.addrs.data(), addrs, &n), "reading its addresses");
  m.addrs.resize(n);
  std::vector<SmsMmsPart> descs(parts);
  Check(GetAllZuSmsMmsPart(*store, id, descs.data(), parts, &n), "reading its parts");
  descs.resize(n);
  for (uint32_t i = 0; i < descs.size(); ++i) {
    MmsPart p;
    p.desc = descs[i];
    if (p.desc.textlen > 0) {
      p.text.resize(p.desc.textlen + 1);
      uint32_t length = 0;
      Check(GetZuSmsMmsPartText(*store, id, i, p.text.data(), p.desc.textlen + 1, &length),
            "reading a part's text");
      p.text.resize(std::min(length, p.desc.textlen));
      p.has_text = true;
    }
    m.parts.push_back(std::move(p));
  }
  return m;
}

void ReadPartData(Store& store, uint32_t id, uint32_t part, uint64_t size,
                  const std::function<void(const uint8_t*, size_t)>& on, uint32_t piece) {
  if (size > 0)
    StreamPartData(store, id, part, on, static_cast<uint32_t>(std::min<uint64_t>(piece, size)));
}

std::string StoredMmsIdentity(Store& store, const MmsRecord& m) {
  return MmsIdentity(m, [&](size_t i, const auto& piece) {
    ReadPartData(store, static_cast<uint32_t>(m.head.id), static_cast<uint32_t>(i),
                 m.parts[i].desc.datalen, piece);
  });
}

}  // namespace zusms::cli
