#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <streambuf>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "backup/Interchange.h"
#include "backup/MmsRecord.h"
#include "model/Folders.h"
#include "model/Messages.h"
#include "model/ReadState.h"
#include "model/Records.h"
#include "text/Base64.h"
#include "text/Print.h"

namespace zusms::cli {

namespace {

constexpr size_t kNotAnArray = SIZE_MAX;  // the position given for a kind that is no array

// Counts the bytes read through it.
class CountingInput : public std::streambuf {
 public:
  CountingInput(std::streambuf* source, std::function<void(size_t)> on_bytes)
      : source_(source), on_bytes_(std::move(on_bytes)) {}

 protected:
  int_type underflow() override {
    const std::streamsize got = source_->sgetn(buffer_, sizeof buffer_);
    if (got <= 0) return traits_type::eof();
    bytes_ += static_cast<size_t>(got);
    on_bytes_(bytes_);
    setg(buffer_, buffer_, buffer_ + got);
    return traits_type::to_int_type(buffer_[0]);
  }

 private:
  std::streambuf* source_;
  std::function<void(size_t)> on_bytes_;
  char buffer_[1 << 16];
  size_t bytes_ = 0;
};

// The base64 values of the parts' "data" in a JSON file, decoded as the
// file streams (JsonDataFilter): the parser sees "#N" in their place, and
// the parts take their data by N. Held until the element that holds them
// has been handed on, as HeldParts holds a message's parts.
class DecodedValues {
 public:
  struct Value {
    PartBytes data;
    uint64_t size = 0;    // all the bytes, also beyond the most a part holds
    std::string problem;  // why it is not base64, empty when it is
  };
  std::string Add(Base64Decoder& decoder) {
    Value v;
    v.problem = decoder.Finish();
    v.size = decoder.size();
    v.data = PartBytes(std::move(decoder.bytes()));
    held_.Keep(v.data);
    values_.emplace(next_, std::move(v));
    return "#" + std::to_string(next_++);
  }
  // The value a part's "data" text stands for; null when it stands for none.
  const Value* Find(std::string_view text) const {
    if (!text.starts_with('#')) return nullptr;
    const auto it = values_.find(std::strtoull(std::string(text.substr(1)).c_str(), nullptr, 10));
    return it == values_.end() ? nullptr : &it->second;
  }
  // What was read so far has been handed on.
  void Clear() {
    values_.clear();
    held_.Clear();
  }

 private:
  std::map<size_t, Value> values_;
  size_t next_ = 0;
  HeldParts held_;
};

// Stands between the file and the JSON parser: follows the JSON's nesting
// and decodes the string value of "data" in an object of "parts" in the
// "mms" of an element of "heads" as it streams, handing the parser its
// number instead (DecodedValues), so that the parser never holds a part's
// base64 (its lexer would keep it twice). Everything else passes as it is.
// A value is decoded only once the parser has taken all that came before
// it, so that the elements before it have been handed on. The parser's
// error offsets are mapped back to the file's (FileOffset).
class JsonDataFilter : public std::streambuf {
 public:
  JsonDataFilter(std::streambuf* source, DecodedValues& values)
      : source_(source), values_(values) {}
  // The offset in the file of offset `at` of what the parser was given.
  uint64_t FileOffset(uint64_t at) const {
    int64_t shift = 0;
    for (const auto& [from, by] : shifts_) {
      if (at >= from) shift = by;
    }
    return static_cast<uint64_t>(static_cast<int64_t>(at) + shift);
  }

 protected:
  int_type underflow() override {
    out_.clear();
    while (out_.empty()) {
      if (next_ == in_.size()) {
        in_.resize(1 << 16);
        const std::streamsize got =
            source_->sgetn(in_.data(), static_cast<std::streamsize>(in_.size()));
        in_.resize(got > 0 ? static_cast<size_t>(got) : 0);
        next_ = 0;
        if (in_.empty()) break;
      }
      Step();
    }
    if (out_.empty()) return traits_type::eof();
    given_ += out_.size();
    setg(out_.data(), out_.data(), out_.data() + out_.size());
    return traits_type::to_int_type(out_[0]);
  }

 private:
  struct Level {
    bool object;
    bool key_next;    // an object's key comes next (else its value)
    std::string key;  // the object's key being read or last read (its first bytes)
  };
  static constexpr size_t kKeyKept = 8;

  // Whether a string starting here is a part's data.
  bool AtData() const {
    static constexpr const char* kPath[] = {"heads", "", "mms", "parts", "", "data"};
    if (levels_.size() != std::size(kPath)) return false;
    for (size_t i = 0; i < levels_.size(); ++i) {
      if (levels_[i].object != (*kPath[i] != 0)) return false;
      if (levels_[i].object && (levels_[i].key_next || levels_[i].key != kPath[i])) return false;
    }
    return true;
  }

  // Handles the input from next_ on until the end of the input or of a
  // token that changes the state.
  void Step() {
    if (data_) return Data();
    while (next_ < in_.size()) {
      const char c = in_[next_];
      if (string_) {
        ++next_;
        out_ += c;
        if (escaped_) {
          escaped_ = false;
        } else if (c == '\\') {
          escaped_ = true;
        } else if (c == '"') {
          string_ = false;
        } else if (key_ && levels_.back().key.size() < kKeyKept + 1) {
          levels_.back().key += c;
        }
        continue;
      }
      if (c == '"') {
        key_ = !levels_.empty() && levels_.back().object && levels_.back().key_next;
        if (key_) levels_.back().key.clear();
        if (!key_ && AtData()) {
          // Decoded once the parser has taken all before it.
          if (!out_.empty()) return;
          ++next_;
          data_ = true;
          decoder_ = Base64Decoder(ZU_MMS_PART_MAX);
          start_ = given_;
          read_ = 1;
          return Data();
        }
        string_ = true;
      } else if (c == '{' || c == '[') {
        levels_.push_back({c == '{', c == '{', {}});
      } else if ((c == '}' || c == ']') && !levels_.empty()) {
        levels_.pop_back();
      } else if (c == ':' && !levels_.empty() && levels_.back().object) {
        levels_.back().key_next = false;
      } else if (c == ',' && !levels_.empty() && levels_.back().object) {
        levels_.back().key_next = true;
      }
      ++next_;
      out_ += c;
    }
  }

  // Inside a part's data: base64, where JSON's escapes stand for their
  // characters (a writer may write "/" as "\/").
  void Data() {
    while (next_ < in_.size()) {
      const char c = in_[next_++];
      ++read_;
      if (!escape_.empty()) {
        escape_ += c;
        if (escape_.size() == 2 && escape_[1] != 'u') {
          const char* from = "/nrt\"";
          const char* to = "/\n\r\t\"";
          const char* at = std::strchr(from, escape_[1]);
          if (at && *at) {
            decoder_.Feed(to[at - from]);
          } else {
            decoder_.Refuse("the escape " + escape_);
          }
          escape_.clear();
        } else if (escape_.size() == 6) {
          const unsigned long u = std::strtoul(escape_.substr(2).c_str(), nullptr, 16);
          if (u < 0x80 && u != '"' && u != '\\') {
            decoder_.Feed(static_cast<char>(u));
          } else {
            decoder_.Refuse("the escape " + escape_);
          }
          escape_.clear();
        }
        continue;
      }
      if (c == '\\') {
        escape_ = "\\";
      } else if (c == '"') {
        const std::string number = values_.Add(decoder_);
        decoder_ = Base64Decoder();
        out_ += '"' + number + '"';
        // What the parser is given from here on stands further on in the file.
        shifts_.emplace_back(start_ + out_.size(), (shifts_.empty() ? 0 : shifts_.back().second) +
                                                       static_cast<int64_t>(read_) -
                                                       static_cast<int64_t>(out_.size()));
        data_ = false;
        return;
      } else {
        const size_t run = std::min(in_.size(), in_.find_first_of("\\\"", next_));
        decoder_.Feed(c);
        decoder_.Feed(std::string_view(in_).substr(next_, run - next_));
        read_ += run - next_;
        next_ = run;
      }
    }
  }

  std::streambuf* source_;
  DecodedValues& values_;
  std::string in_, out_;
  size_t next_ = 0;
  uint64_t given_ = 0;  // bytes given to the parser before out_
  std::vector<Level> levels_;
  bool string_ = false, escaped_ = false, key_ = false;
  // In a part's data: its decoding, the escape being read, where its
  // number starts in what the parser is given and the file's bytes of it.
  bool data_ = false;
  Base64Decoder decoder_;
  std::string escape_;
  uint64_t start_ = 0, read_ = 0;
  std::vector<std::pair<uint64_t, int64_t>> shifts_;  // from an offset given on, the file's shift
};

// The elements of one kind of record in a JSON file, handed on one at a
// time: `on` gets the kind's key, the element's position and the element.
// The file is parsed as a stream; each element is dropped once handed on,
// so memory holds one element, not the file.
// Returns where the file stops being JSON ("line N: ..."), empty when it is
// JSON to its end; the elements before that place were handed on.
constexpr size_t kMostKeys = 1000;

std::string ReadJsonElements(
    const InputFile& file, DecodedValues& values, const std::function<void(size_t)>& on_bytes,
    const std::function<void(const std::string&, size_t, const Json&)>& on) {
  std::string key;
  size_t index = 0;
  bool in_array = false;
  auto in = file.Open();
  CountingInput counting(in->rdbuf(), on_bytes);
  JsonDataFilter filter(&counting, values);
  std::istream counted(&filter);
  // An element handed on takes the data of its parts with it.
  const auto hand = [&](size_t i, const Json& element) {
    on(key, i, element);
    values.Clear();
  };
  // Keys per object being read, by depth: an object keeps its keys in
  // order and finds each new one by a search of those before it, so an
  // object of a hundred thousand keys would take minutes. No record has
  // more than a few dozen.
  std::vector<size_t> keys;
  Json::parser_callback_t callback = [&](int depth, Json::parse_event_t event, Json& parsed) {
    if (depth == 0 && event == Json::parse_event_t::value && !parsed.is_object()) {
      throw Failure("line 1: the file is not a JSON object");
    }
    if (depth >= 1 && event == Json::parse_event_t::key) {
      keys.resize(std::max(keys.size(), static_cast<size_t>(depth) + 1));
      if (++keys[static_cast<size_t>(depth)] > kMostKeys) {
        throw Failure(fmt::format("an object in \"{}\" has more than {}: not a record of a backup",
                                  OneLine(key), Counted(kMostKeys, "key")));
      }
    }
    if (event == Json::parse_event_t::object_start) {
      keys.resize(std::max(keys.size(), static_cast<size_t>(depth) + 2));
      keys[static_cast<size_t>(depth) + 1] = 0;
    }
    if (depth == 1 && event == Json::parse_event_t::key) {
      key = parsed.get<std::string>();
      index = 0;
      in_array = false;
      return true;
    }
    if (depth == 1 && event == Json::parse_event_t::array_start) in_array = true;
    if (depth == 1 &&
        (event == Json::parse_event_t::object_start || event == Json::parse_event_t::value)) {
      hand(kNotAnArray, parsed);
    }
    if (depth == 1 &&
        (event == Json::parse_event_t::array_end || event == Json::parse_event_t::object_end)) {
      return false;  // the array's elements are gone; drop the empty array too
    }
    if (depth != 2 || !in_array) return true;
    if (event == Json::parse_event_t::object_end || event == Json::parse_event_t::value) {
      hand(index++, parsed);
      return false;
    }
    return true;
  };
  try {
    Json top = Json::parse(counted, callback);
    if (!top.is_object()) throw Failure("line 1: the file is not a JSON object");
  } catch (const Json::parse_error& e) {
    auto again = file.Open();
    size_t line = 1;
    for (size_t at = 0, end = filter.FileOffset(e.byte); at < end && again->good(); ++at) {
      if (again->get() == '\n') ++line;
    }
    return fmt::format("line {}: not valid JSON: {}", line, e.what());
  }
  return {};
}

template <typename Record>
bool Parse(const Kind& kind, const Json& element, Record& r, std::string* error, size_t index) {
  std::memset(&r, 0, sizeof r);
  try {
    FromJson(kind, element, &r);
    return true;
  } catch (const Failure& e) {
    if (error) *error = fmt::format("{}[{}]: {}", kind.key, index, e.what());
    return false;
  }
}

// What the user has of one kind of record, as identities, to tell a file's
// records from ones already there. What was added since the last look (by
// this import, or by another one running at the same time) is read at the
// first use inside each batch: a batch holds the store's write lock, so what
// a record is checked against is what the store holds.
class KnownRecords {
 public:
  // Hands the identity of each record with an id above `after` to `add`;
  // returns the highest id seen (`after` when none).
  using Reader = std::function<int32_t(int32_t after, const std::function<void(std::string)>& add)>;
  explicit KnownRecords(Reader read) : read_(std::move(read)) {}
  // False when the user has a record with this identity; else it is known
  // from now on. `batch`: the import's batch in progress (Importer::batch).
  bool Insert(std::string identity, size_t batch) {
    if (batch != read_in_) {
      last_ = read_(last_, [this](std::string known) { have_.insert(std::move(known)); });
      read_in_ = batch;
    }
    return have_.insert(std::move(identity)).second;
  }

 private:
  Reader read_;
  std::unordered_set<std::string> have_;
  int32_t last_ = 0;
  size_t read_in_ = 0;  // the batch in which the store was read last
};

// A record's identity: every field but the id.
template <typename Record>
std::string IdentityOf(const Kind& kind, const Record& r) {
  return ToJson(kind, &r).dump();
}

// Reads the records of a kind with an id above `after`, through the kind's
// list of ids and its Get function.
template <typename Record>
KnownRecords::Reader ReaderOf(Store& store, const Kind& kind,
                              int32_t (*count)(SmsDatabase*, uint32_t*),
                              int32_t (*ids)(SmsDatabase*, uint32_t*, uint32_t, uint32_t*),
                              int32_t (*get)(SmsDatabase*, uint32_t, Record*)) {
  return
      [&store, &kind, count, ids, get](int32_t after, const std::function<void(std::string)>& add) {
        for (const uint32_t id : ReadAll<uint32_t>(store, count, ids, kind.key)) {
          if (static_cast<int32_t>(id) <= after) continue;
          Record r;
          std::memset(&r, 0, sizeof r);
          Check(get(*store, id, &r), std::string("reading ") + kind.key);
          add(IdentityOf(kind, r));
          after = static_cast<int32_t>(id);
        }
        return after;
      };
}

// What makes a message of a JSON file invalid beyond its fields' types:
// empty when nothing does. Whatever the library stores, its export writes
// and this import takes back: a message without a number, with a time text
// of another form or none, or of a type the tool does not know, is stored
// as it came.
std::string HeadProblem(const Json& e) {
  for (const char* field : {"tel", "name", "content", "createtime", "recvtime", "operid"}) {
    if (e[field].get_ref<const std::string&>().find('\0') != std::string::npos) {
      return std::string(field) + ": a NUL character";
    }
  }
  if (const auto read = e.find("read"); read != e.end() && !read->is_boolean()) {
    return "read: not true or false";
  }
  return {};
}

// An object's JSON without its closing brace, for more keys to follow.
std::string Opened(const Json& j) {
  std::string s = j.dump();
  s.pop_back();
  return s;
}

// Writes a multimedia message as the "mms" of its head's element: its
// attributes, its further attributes as [name, value], its parts (data in
// base64, text null when it has none) and addresses. A part's data goes
// from the store to `out` a piece at a time, never whole in memory: each
// part is its object without "data", opened again for it (the last key).
void WriteMmsJson(Store& store, const MmsRecord& m, std::ostream& out) {
  const auto text = [](const auto& field) { return Utf8(field); };
  Json attrs = Json::array(), addrs = Json::array();
  for (const SmsMmsAttribute& a : m.attrs) attrs.push_back({text(a.name), text(a.value)});
  for (const SmsMmsAddress& a : m.addrs) {
    addrs.push_back({{"address", text(a.address)}, {"type", a.type}, {"charset", text(a.charset)}});
  }
  out << Opened({{"subject", text(m.mms.subject)},
                 {"ctype", text(m.mms.ctype)},
                 {"mtype", m.mms.mtype},
                 {"attrs", std::move(attrs)}})
      << ",\"parts\":[";
  std::string base64;
  for (size_t i = 0; i < m.parts.size(); ++i) {
    const MmsPart& p = m.parts[i];
    out << (i > 0 ? "," : "")
        << Opened({{"seq", p.desc.seq},
                   {"ctype", text(p.desc.ctype)},
                   {"name", text(p.desc.name)},
                   {"fname", text(p.desc.fname)},
                   {"charset", text(p.desc.charset)},
                   {"cid", text(p.desc.cid)},
                   {"cl", text(p.desc.cl)},
                   {"text", p.has_text ? Json(Utf8(p.text.c_str(), p.text.size())) : Json()}})
        << ",\"data\":\"";
    ReadPartData(store, static_cast<uint32_t>(m.head.id), static_cast<uint32_t>(i), p.desc.datalen,
                 [&](const uint8_t* bytes, size_t n) {
                   base64.clear();
                   AppendBase64(base64, bytes, n);
                   out << base64;
                 });
    out << "\"}";
  }
  out << "],\"addrs\":" << addrs.dump() << "}";
}

// The records of a head's "mms"; a Failure names what is wrong with it.
MmsRecord MmsFromJson(const SmsHead& h, const Json& j, const DecodedValues& values) {
  MmsRecord m;
  m.head = h;
  const auto get = [](const Json& o, const char* key) -> const Json& {
    const auto it = o.find(key);
    if (it == o.end()) throw Failure(std::string(key) + ": missing");
    return *it;
  };
  const auto text = [&](const Json& o, const char* key, auto& field) {
    const Json& v = get(o, key);
    if (!v.is_string()) throw Failure(std::string(key) + ": not a text");
    const std::string& t = v.get_ref<const std::string&>();
    if (t.find('\0') != std::string::npos) throw Failure(std::string(key) + ": a NUL character");
    if (!SetText(field, t)) {
      throw Failure(std::string(key) + ": longer than " +
                    Counted(std::size(field) - 1, "character"));
    }
  };
  const auto number = [&](const Json& o, const char* key, int64_t lo, int64_t hi) {
    const Json& v = get(o, key);
    if (!v.is_number_integer() || v.get<int64_t>() < lo || v.get<int64_t>() > hi) {
      throw Failure(std::string(key) + ": not a whole number in range");
    }
    return v.get<int64_t>();
  };
  const auto array = [&](const char* key) -> const Json& {
    const Json& v = get(j, key);
    if (!v.is_array()) throw Failure(std::string(key) + ": not an array");
    return v;
  };
  if (!j.is_object()) throw Failure("not an object");
  text(j, "subject", m.mms.subject);
  text(j, "ctype", m.mms.ctype);
  m.mms.mtype = static_cast<int32_t>(number(j, "mtype", INT32_MIN, INT32_MAX));
  for (const Json& a : array("attrs")) {
    if (!a.is_array() || a.size() != 2 || !a[0].is_string() || !a[1].is_string()) {
      throw Failure("attrs: an element that is not [name, value]");
    }
    AddAttribute(m.attrs, Utf16(a[0].get<std::string>()), Utf16(a[1].get<std::string>()));
  }
  for (const Json& a : array("addrs")) {
    SmsMmsAddress addr{};
    text(a, "address", addr.address);
    text(a, "charset", addr.charset);
    addr.type = static_cast<int16_t>(number(a, "type", INT16_MIN, INT16_MAX));
    if (addr.type != ZU_MMS_FROM && addr.type != ZU_MMS_TO && addr.type != ZU_MMS_CC &&
        addr.type != ZU_MMS_BCC) {
      throw Failure("type: not 137, 151, 130 or 129");
    }
    m.addrs.push_back(addr);
  }
  if (m.addrs.empty()) throw Failure("addrs: no address");
  for (const Json& p : array("parts")) {
    MmsPart part;
    part.desc.seq = static_cast<int32_t>(number(p, "seq", INT32_MIN, INT32_MAX));
    text(p, "ctype", part.desc.ctype);
    text(p, "name", part.desc.name);
    text(p, "fname", part.desc.fname);
    text(p, "charset", part.desc.charset);
    text(p, "cid", part.desc.cid);
    text(p, "cl", part.desc.cl);
    const Json& t = get(p, "text");
    if (t.is_string()) {
      if (t.get_ref<const std::string&>().find('\0') != std::string::npos) {
        throw Failure("text: a NUL character");
      }
      part.text = Utf16(t.get<std::string>());
      part.has_text = true;
      if (part.text.size() > ZU_MMS_TEXT_MAX) throw Failure("text: too long");
    } else if (!t.is_null()) {
      throw Failure("text: not a text or null");
    }
    const Json& d = get(p, "data");
    if (!d.is_string()) throw Failure("data: not a text");
    const DecodedValues::Value* value = values.Find(d.get_ref<const std::string&>());
    if (!value) throw Failure("data: not base64");
    if (!value->problem.empty()) throw Failure("data: " + value->problem);
    if (value->size > ZU_MMS_PART_MAX) throw Failure("data: more than a part may hold");
    part.data = value->data;
    part.desc.datalen = static_cast<uint32_t>(part.data.size);
    m.parts.push_back(std::move(part));
  }
  return m;
}

// Default folders (1 to 14) of the file update the user's own; other
// folders get new numbers. Returns the file's folder numbers mapped to the
// user's.
std::map<int32_t, int32_t> ImportFolders(Store& store, std::vector<SmsFolder>& folders,
                                         ImportReport& report) {
  std::map<int32_t, int32_t> numbers;
  std::vector<SmsFolder> mine = store.Folders();
  for (SmsFolder& f : folders) {
    auto same_number = std::find_if(mine.begin(), mine.end(),
                                    [&](const SmsFolder& m) { return m.FdId == f.FdId; });
    if (f.FdId >= 1 && f.FdId <= 14 && same_number != mine.end()) {
      numbers[f.FdId] = f.FdId;
      if (std::u16string(same_number->fname) == std::u16string(f.fname) &&
          same_number->password == f.password && same_number->privmode == f.privmode) {
        ++report.records_skipped;
        continue;
      }
      SmsFolder update = *same_number;
      std::memcpy(update.fname, f.fname, sizeof f.fname);
      update.password = f.password;
      update.privmode = f.privmode;
      Check(UpdateZuSmsFolder(*store, &update), "updating a folder");
      ++report.updated;
      continue;
    }
    auto same = std::find_if(mine.begin(), mine.end(), [&](const SmsFolder& m) {
      return m.system == 0 && std::u16string(m.fname) == std::u16string(f.fname) &&
             m.password == f.password && m.privmode == f.privmode;
    });
    if (same != mine.end()) {
      numbers[f.FdId] = same->FdId;
      ++report.records_skipped;
      continue;
    }
    if (const std::string name = Utf8(f.fname); WhyNotAFolderName(name)) {
      // Another program's folder named like a role or a number: kept under a
      // name that cannot be mistaken for one.
      const std::string kept = name + " (imported)";
      SetTextOrFail(f.fname, kept, "folder name");
      std::cerr << fmt::format("zusms: folder \"{}\" of the file {}: stored as \"{}\"\n",
                               OneLine(name), WhyNotAFolderName(name), OneLine(kept));
    }
    const int32_t old_number = f.FdId;
    uint32_t id = 0;
    Check(AddZuSmsFolder(*store, &f, &id), "adding a folder");
    numbers[old_number] = f.FdId;
    mine.push_back(f);
    ++report.records_added;
  }
  return numbers;
}

// The records of a zusms export, kind by kind. Folders go in first: the
// file's folder numbers become the user's, and every message and filter
// follows its folder.
class JsonFormat final : public BackupFormat {
 public:
  JsonFormat(Store& store, const InputFile& file);
  bool MessagesHaveUuids() const override { return true; }
  FirstPass CheckFile(Importer& import) override;
  void AddFile(Importer& import) override;

 private:
  // How each kind of record is checked and added.
  struct JsonKind {
    const Kind* kind;
    // Checks one element; false with the reason in `error`.
    std::function<bool(const Json&, size_t, std::string*)> check;
    // Hands one checked element to the import.
    std::function<void(const Json&, Importer&)> add;
  };
  template <typename Record>
  JsonKind Entry(const Kind& kind, std::function<void(Record&, Importer&, const Json&)> add);
  template <typename Record>
  JsonKind Plain(const Kind& kind, int32_t (*count)(SmsDatabase*, uint32_t*),
                 int32_t (*ids)(SmsDatabase*, uint32_t*, uint32_t, uint32_t*),
                 int32_t (*get)(SmsDatabase*, uint32_t, Record*),
                 int32_t (*add)(SmsDatabase*, Record*, uint32_t*));
  const JsonKind* Find(const std::string& key) const;
  std::string Problem(const JsonKind& k, size_t i, const Json& e) const;
  // The user's folder that a folder number of the file stands for. The
  // file's folders are mapped and a default folder is the user's own; a
  // number the file holds no folder of (its folder deleted under its
  // messages) stands for "Recovered", never for the user's folder that
  // happens to have that number. `recovered` counts those.
  int32_t Folder(int32_t number, size_t* recovered) {
    if (numbers_.contains(number) || (number >= 1 && number <= 14 && here_.contains(number))) {
      return Mapped(number);
    }
    if (!recovered_) {
      recovered_ = RecoveredFolder(store_, [](const SmsFolder&) {}).FdId;
      report_->recovered_into = *recovered_;
    }
    if (recovered) ++*recovered;
    return *recovered_;
  }
  int32_t Mapped(int32_t number) const {
    const auto it = numbers_.find(number);
    return it == numbers_.end() ? number : it->second;
  }

  Store& store_;
  const InputFile& file_;
  std::vector<SmsFolder> folders_;      // the file's, kept by the first pass
  std::map<int32_t, int32_t> numbers_;  // the file's folder numbers to the user's
  std::set<int32_t> here_;              // the user's folder numbers (defaults: the file's)
  std::optional<int32_t> recovered_;    // the number of "Recovered", once needed
  ImportReport* report_ = nullptr;
  // Other records are known by all their fields; what the user has is
  // read again inside each batch.
  std::vector<std::unique_ptr<KnownRecords>> known_;
  // The parts of a long message come together before it goes in: the
  // file's batid is the store's it came from and may be one of this user's,
  // so the message gets the batid of its parts stored here before (an
  // import run again after an interruption), else one of its own. Parts far
  // apart in the file are held until the last one comes.
  std::unique_ptr<MessageAssembler> messages_;
  std::vector<JsonKind> kinds_;
  DecodedValues values_;  // of the parts of the element being read
};

template <typename Record>
JsonFormat::JsonKind JsonFormat::Entry(const Kind& kind,
                                       std::function<void(Record&, Importer&, const Json&)> add) {
  return {&kind,
          [&kind](const Json& e, size_t i, std::string* error) {
            Record r;
            return Parse(kind, e, r, error, i);
          },
          [&kind, add](const Json& e, Importer& import) {
            Record r;
            Parse(kind, e, r, nullptr, 0);
            add(r, import, e);
          }};
}

template <typename Record>
JsonFormat::JsonKind JsonFormat::Plain(const Kind& kind, int32_t (*count)(SmsDatabase*, uint32_t*),
                                       int32_t (*ids)(SmsDatabase*, uint32_t*, uint32_t, uint32_t*),
                                       int32_t (*get)(SmsDatabase*, uint32_t, Record*),
                                       int32_t (*add)(SmsDatabase*, Record*, uint32_t*)) {
  known_.push_back(std::make_unique<KnownRecords>(ReaderOf<Record>(store_, kind, count, ids, get)));
  KnownRecords* have = known_.back().get();
  return Entry<Record>(kind, [&kind, have, add](Record& r, Importer& import, const Json&) {
    import.AddRecord([&] {
      if (!have->Insert(IdentityOf(kind, r), import.batch())) return false;
    uint32_t id = 0;
    Check(add(*import.store(), &r, &id), std::string("adding to ") + kind.key);
    return true;
  });
});
}

JsonFormat::JsonFormat(Store& store, const InputFile& file) : store_(store), file_(file) {
  known_.push_back(std::make_unique<KnownRecords>(ReaderOf<SmsFilter>(
      store, kFilters, GetZuSmsFilterCount, GetAllZuSmsFilterID, GetZuSmsFilter)));
  KnownRecords* filters = known_.back().get();
  kinds_ = {
      Entry<SmsHead>(kHeads,
                     [this](SmsHead& h, Importer& import, const Json& e) {
    h.fid = Folder(h.fid, &report_->recovered);
    // Where it was before: a number of a folder the file does not hold names
    // nothing in this store (another folder may have it here).
    h.oldfid = numbers_.contains(h.oldfid) || h.oldfid <= 14 ? Mapped(h.oldfid) : 0;
    if (const auto mms = e.find("mms"); mms != e.end()) {
      MmsRecord m = MmsFromJson(h, *mms, values_);
      m.unread = !e.value("read", true);
      import.AddMms(m, MmsIdentity(m), "adding a multimedia message");
      return;
    }
    messages_->Add(h, !e.value("read", true));
                     }),
      Entry<SmsFilter>(kFilters,
                       [this, filters](SmsFilter& f, Importer& import, const Json&) {
    f.folderid = Folder(f.folderid, nullptr);
                         import.AddRecord([&] {
                           if (!filters->Insert(IdentityOf(kFilters, f), import.batch())) {
                             return false;
                           }
                           uint32_t id = 0;
                           Check(AddZuSmsFilter(*store_, &f, &id), "adding a filter");
                           return true;
                         });
}),
      Plain<SmsContent>(kContents, GetZuSmsContentCount, GetAllZuSmsContentID, GetZuSmsContent,
                        AddZuSmsContent),
      Plain<SmsAreaBroadcast>(kAreaBroadcasts, GetZuSmsAreaBroadcastCount,
                              GetAllZuSmsAreaBroadcastID, GetZuSmsAreaBroadcast,
                              AddZuSmsAreaBroadcast),
      Plain<SmsRecieverHistory>(kReceiverHistory, GetZuSmsReceiverHistoryCount,
                                GetAllZuSmsReceiverHistoryID, GetZuSmsReceiverHistory,
                                AddZuSmsReceiverHistory),
      Plain<SmsPhrase>(kPhrases, GetZuSmsPhraseCount, GetAllZuSmsPhraseID, GetZuSmsPhrase,
                       AddZuSmsPhrase),
      Entry<SmsFolder>(kFolders, [](SmsFolder&, Importer&, const Json&) {}),  // gone in first
};
}

const JsonFormat::JsonKind* JsonFormat::Find(const std::string& key) const {
  for (const JsonKind& k : kinds_) {
    if (key == k.kind->key) return &k;
  }
  return nullptr;
}

// Why an element cannot be stored, empty when it can; a message whose
// folder is neither in the file nor the user's is found once the file's
// folders are read.
std::string JsonFormat::Problem(const JsonKind& k, size_t i, const Json& e) const {
  std::string error;
  if (i == kNotAnArray) return std::string(k.kind->key) + ": not an array";
  if (!k.check(e, i, &error)) return error;
  if (SmsHead h; k.kind == &kHeads && Parse(kHeads, e, h, nullptr, 0)) {
    error = HeadProblem(e);
    if (!error.empty()) return fmt::format("heads[{}]: {}", i, error);
    if (const auto mms = e.find("mms"); mms != e.end()) {
      try {
        // What the library would refuse is found before anything is added.
        const std::string refused = MmsProblem(store_, MmsFromJson(h, *mms, values_));
        if (!refused.empty()) return fmt::format("heads[{}]: {}", i, refused);
      } catch (const Failure& f) {
        return fmt::format("heads[{}]: mms: {}", i, f.what());
      }
    }
  }
  if (SmsAreaBroadcast p; k.kind == &kAreaBroadcasts && Parse(kAreaBroadcasts, e, p, nullptr, 0) &&
                          std::u16string_view(p.recvtime).size() > 15) {
    return fmt::format("areaBroadcasts[{}]: recvtime longer than 15 characters", i);
  }
  return {};
}

FirstPass JsonFormat::CheckFile(Importer& import) {
  size_t records = 0;
  MessageAssembler seen([&import](Message&& m) { import.Seen(m); });
  const std::string cut = ReadJsonElements(
      file_, values_, [&](size_t bytes) { import.Bytes(bytes); },
      [&](const std::string& key, size_t i, const Json& e) {
        import.Next();
        const JsonKind* k = Find(key);
        if (!k) return;
        ++records;
        const std::string error = Problem(*k, i, e);
        import.Checked(error);
        if (!error.empty()) return;
        if (k->kind == &kHeads) {
          SmsHead h;
          Parse(kHeads, e, h, nullptr, 0);
          if (const auto mms = e.find("mms"); mms != e.end()) {
            const MmsRecord m = MmsFromJson(h, *mms, values_);
            import.SeenMms(m, MmsIdentity(m));
          } else {
            seen.Add(h);
          }
        } else if (k->kind == &kFolders) {
          SmsFolder f;
          Parse(kFolders, e, f, nullptr, 0);
          folders_.push_back(f);
        }
      });
  seen.Finish();
  if (records > 0) return {cut, ""};
  return {cut, cut.empty() ? "the file holds no records of a zusms export" : cut};
}

void JsonFormat::AddFile(Importer& import) {
  numbers_ = ImportFolders(store_, folders_, import.report());
  for (const SmsFolder& f : store_.Folders()) here_.insert(f.FdId);
  report_ = &import.report();
  messages_ = std::make_unique<MessageAssembler>(
      [&import](Message&& m) { import.AddMessage(m, "adding a message"); });
  ReadJsonElements(
      file_, values_, [&](size_t bytes) { import.Bytes(bytes); },
      [&](const std::string& key, size_t i, const Json& e) {
        import.Next();
        const JsonKind* k = Find(key);
        if (!k || k->kind == &kFolders || i == kNotAnArray) return;
        // Only an import that skips invalid records meets them here.
        if (import.report().invalid > 0 && !Problem(*k, i, e).empty()) return;
        k->add(e, import);
      });
  messages_->Finish();
}

}  // namespace

ExportReport ExportJson(Store& store, std::ostream& out, const HeadIds* only) {
  out << "{\n  \"format\": \"zusms\",\n  \"version\": 1,\n  \"user\": " << store.user();
  ExportReport report;
  bool first = true;
  auto next = [&]() -> std::ostream& {
    out << (first ? "\n    " : ",\n    ");
    first = false;
    return out;
  };
  auto put = [&](const Json& j) { next() << j.dump(); };
  auto element = [&](const Kind& kind, const void* record) {
    put(ToJson(kind, record));
    if (&kind == &kFolders) ++report.folders;
    if (&kind != &kFolders && &kind != &kHeads) ++report.records;
  };
  MessageCounter messages;
  auto array = [&](const Kind& kind, const auto& write) {
    out << ",\n  \"" << kind.key << "\": [";
    first = true;
    write();
    out << (first ? "]" : "\n  ]");
  };
  auto all = [&](const Kind& kind, const auto& records) {
    array(kind, [&] {
      for (const auto& r : records) element(kind, &r);
    });
  };
  const UnreadHeads unread(store);
  array(kHeads, [&] {
    store.ForEachHead([&](const SmsHead& h) {
      if (only && !only->contains(h.id)) return;
      // A head's read state goes with it (missing: read).
      Json j = ToJson(kHeads, &h);
      j["read"] = !unread.Contains(h.id);
      if (const auto mms = ReadMms(store, h)) {
        next() << Opened(j) << ",\"mms\":";  // last, written from the store
        WriteMmsJson(store, *mms, out);
        out << "}";
      } else {
        put(j);
      }
      if (messages.Starts(h)) ++report.messages;
    });
  });
  all(kContents, ReadAll<SmsContent>(store, GetZuSmsContentCount, GetAllZuSmsContent, "contents"));
  all(kAreaBroadcasts, ReadAll<SmsAreaBroadcast>(store, GetZuSmsAreaBroadcastCount,
                                                 GetAllZuSmsAreaBroadcast, "area broadcasts"));
  all(kFolders, store.Folders());
  all(kFilters, ReadAll<SmsFilter>(store, GetZuSmsFilterCount, GetAllZuSmsFilter, "filters"));
  all(kReceiverHistory,
      ReadAll<SmsRecieverHistory>(store, GetZuSmsReceiverHistoryCount, GetAllZuSmsReceiverHistory,
                                  "receiver history"));
  all(kPhrases, ReadAll<SmsPhrase>(store, GetZuSmsPhraseCount, GetAllZuSmsPhrase, "phrases"));
  out << "\n}\n";
  return report;
}

ImportReport ImportJson(Store& store, const InputFile& file, const ImportOptions& o) {
  JsonFormat format(store, file);
  return Import(store, file, o, format);
}

}  // namespace zusms::cli
