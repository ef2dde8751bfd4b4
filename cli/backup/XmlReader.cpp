#include "backup/XmlReader.h"

#include <expat.h>
#include <fmt/format.h>
#include <utf8cpp/utf8.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <map>
#include <optional>
#include <unordered_set>
#include <vector>

#include "text/Base64.h"

namespace zusms::cli {

namespace {

void AppendUtf8(std::string& out, char32_t c) { utf8::append(c, std::back_inserter(out)); }

bool IsControl(char32_t c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; }

bool IsNameByte(unsigned char c) {
  return c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '-' || c == '.' || c == ':';
}

// Bytes that the filter passes on as they are in text and quoted values.
bool IsPlain(unsigned char c) {
  return c < 0x80 && c != '&' && c != '<' && (c >= 0x20 || c == '\t' || c == '\n' || c == '\r');
}

// What XML 1.0 cannot carry, as the marker character that stands for it.
char32_t Marker(char32_t c) {
  if (c == 0xFFFE) return kControlBase + 0x20;
  if (c == 0xFFFF) return kControlBase + 0x21;
  return kControlBase + c;
}

// The UTF-8 character at s[i]: its length and value, or the length of the
// bytes that start no character (`valid` false); 0 when the input ends
// inside one. Surrogates (CESU-8) and overlong forms are not UTF-8.
size_t Utf8At(std::string_view s, size_t i, bool last, char32_t* value, bool* valid) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  *valid = false;
  if (b0 < 0xC2 || b0 > 0xF4) return 1;
  const size_t need = b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
  const unsigned char lo = b0 == 0xE0 ? 0xA0 : b0 == 0xF0 ? 0x90 : 0x80;
  const unsigned char hi = b0 == 0xED ? 0x9F : b0 == 0xF4 ? 0x8F : 0xBF;
  char32_t c = b0 & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
  for (size_t k = 1; k < need; ++k) {
    if (i + k >= s.size()) return last ? k : 0;
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return k;
    c = (c << 6) | (b & 0x3F);
  }
  *value = c;
  *valid = true;
  return need;
}

// The byte filter, fed in chunks: it keeps back the tail of a chunk that
// may be the start of a character, a reference or a markup delimiter.
class Filter {
 public:
  // Appends the filtered form of `in` (after what was kept back) to `out`.
  void Feed(std::string_view in, bool last, std::string& out) {
    carry_.append(in);
    const std::string_view s(carry_);
    size_t i = 0;
    while (i < s.size()) {
      const size_t used = Step(s, i, last, out);
      if (used == 0) break;  // needs more input
      i += used;
    }
    carry_.erase(0, i);
  }

  // The data of a <part> whose value the filter replaced with `number`; the
  // data of earlier parts that the parser never handed on (outside an
  // <mms>) goes with it.
  XmlPart TakeData(size_t number) {
    XmlPart part;
    const auto it = data_.find(number);
    if (it != data_.end()) part = std::move(it->second);
    data_.erase(data_.begin(), data_.upper_bound(number));
    return part;
  }
  // How many data values have ended so far.
  size_t DataEnded() const { return next_data_; }

 private:
  enum State { kText, kTag, kQuoted, kComment, kCData, kOther, kDoctype, kData };

  // Handles what starts at s[i]; returns the bytes consumed, 0 when the
  // input ends too early to decide.
  size_t Step(std::string_view s, size_t i, bool last, std::string& out) {
    const char c = s[i];
    const std::string_view rest = s.substr(i);
    if (state_ == kDoctype) return Doctype(rest, last, out);
    if (state_ == kData) return Data(rest, last, out);
    if (state_ == kQuoted && dropping_) {  // the value of an attribute given twice
      if (c == '\n') out += c;             // lines keep their numbers
      if (c == quote_) {
        state_ = kTag;
        dropping_ = false;
        dropped_.clear();
      }
      return 1;
    }
    if (state_ == kText || state_ == kQuoted) {  // a run of plain bytes at once
      size_t j = i;
      while (j < s.size() && IsPlain(static_cast<unsigned char>(s[j])) &&
             !(state_ == kQuoted && s[j] == quote_)) {
        ++j;
      }
      if (j > i) {
        out.append(s.substr(i, j - i));
        return j - i;
      }
    }
    if (static_cast<unsigned char>(c) >= 0x80) return Character(s, i, last, out);
    auto ends = [&](std::string_view close) -> size_t {
      if (rest.starts_with(close)) {
        out.append(close);
        state_ = kText;
        return close.size();
      }
      if (!last && close.starts_with(rest)) return 0;
      out += c;
      return 1;
    };
    switch (state_) {
      case kComment:
        return ends("-->");
      case kCData:
        return ends("]]>");
      case kOther:
        if (c == '>') state_ = kText;
        out += c;
        return 1;
      case kTag:
        return Tag(rest, out);
      case kText:
      case kQuoted:
      case kDoctype:
      case kData:
        break;
    }
    if (state_ == kQuoted && c == quote_) {
      state_ = kTag;
      out += c;
      return 1;
    }
    if (c == '&') return Reference(s, i, last, out);
    if (c == '<') return Open(rest, last, out);
    if (IsControl(static_cast<unsigned char>(c))) {
      AppendUtf8(out, Marker(static_cast<unsigned char>(c)));
      return 1;
    }
    out += c;
    return 1;
  }

  // A '<' in text or a quoted value: in a value it is written as "&lt;";
  // in text it opens a comment, CDATA, the document type declaration (which
  // is dropped), another declaration or instruction, or a tag.
  size_t Open(std::string_view rest, bool last, std::string& out) {
    if (state_ == kQuoted) {
      out += "&lt;";
      return 1;
    }
    for (const auto& [open, next] : {std::pair<std::string_view, State>{"<!--", kComment},
                                     {"<![CDATA[", kCData},
                                     {"<!DOCTYPE", kDoctype}}) {
      if (rest.starts_with(open)) {
        if (next != kDoctype) out.append(open);
        state_ = next;
        return open.size();
      }
      if (!last && open.starts_with(rest)) return 0;
    }
    if (rest.size() > 1 && (rest[1] == '!' || rest[1] == '?')) {
      state_ = kOther;
    } else {
      state_ = kTag;
      named_ = false;
      names_.clear();
      attribute_.clear();
    }
    out += '<';
    return 1;
  }

  // A character that is not ASCII: passed on when XML can carry it,
  // marked when not, and marked as literal in the markers' own range.
  size_t Character(std::string_view s, size_t i, bool last, std::string& out) {
    char32_t value = 0;
    bool valid = false;
    const size_t len = Utf8At(s, i, last, &value, &valid);
    if (len == 0) return 0;
    std::string& to = state_ == kTag ? name_ : out;
    if (!valid && state_ == kTag) {
      bad_name_ = true;
      name_ += '_';
    } else if (!valid) {
      AppendUtf8(to, kBadByte);
    } else if (value == 0xFFFE || value == 0xFFFF) {
      AppendUtf8(to, Marker(value));
    } else {
      if (value >= kMarkFirst) AppendUtf8(to, kLiteral);
      to.append(s.substr(i, len));
    }
    return len;
  }

  // Inside a tag, outside quotes. Names are held back until they end: an
  // attribute the element has already is dropped with its value, so the
  // first value given wins.
  size_t Tag(std::string_view rest, std::string& out) {
    const char c = rest[0];
    if (IsNameByte(static_cast<unsigned char>(c))) {
      size_t n = 1;
      while (n < rest.size() && static_cast<unsigned char>(rest[n]) < 0x80 &&
             IsNameByte(static_cast<unsigned char>(rest[n]))) {
        ++n;
      }
      name_.append(rest.substr(0, n));
      return n;
    }
    if (!name_.empty()) {
      if (bad_name_) name_ = kBadName;
      bad_name_ = false;
      if (!named_) {
        named_ = true;
        element_ = name_;
        out += name_;
      } else if (!names_.insert(name_).second) {
        dropping_ = true;
        dropped_ = name_;
      } else {
        attribute_ = name_;
        out += name_;
      }
      name_.clear();
    }
    if (dropping_) {
      if (c == '"' || c == '\'') {
        quote_ = c;
        state_ = kQuoted;
        return 1;
      }
      if (c == '\n') {
        out += c;
        return 1;
      }
      if (c == '=' || c == ' ' || c == '\t' || c == '\r') {
        dropped_ += c;
        return 1;
      }
      out += dropped_;  // not an attribute after all: the parser says what is wrong
      dropped_.clear();
      dropping_ = false;
    }
    if (c == '"' || c == '\'') {
      quote_ = c;
      state_ = element_ == "part" && attribute_ == "data" ? kData : kQuoted;
      if (state_ == kData) decoder_ = Base64Decoder(kMostPartData);
    } else if (c == '>') {
      state_ = kText;
    }
    out += c;
    return 1;
  }

  // Inside the base64 value of a part's data: decoded as it comes, and
  // replaced by the number under which the parser's handler takes it. A
  // character reference stands for its character (a writer may escape a line
  // break in the value as "&#10;"): white space is skipped, a base64
  // character counts as itself, anything else makes the value no base64.
  size_t Data(std::string_view rest, bool last, std::string& out) {
    const size_t end = rest.find(quote_);
    const size_t amp = rest.substr(0, end).find('&');
    const std::string_view value = rest.substr(0, std::min(end, amp));
    out.append(static_cast<size_t>(std::count(value.begin(), value.end(), '\n')),
               '\n');  // lines keep their numbers
    decoder_.Feed(value);
    if (amp != std::string_view::npos) {
      char32_t c = 0;
      const size_t len = Numeric(rest, amp, &c);
      if (len == SIZE_MAX && !last) return amp;  // the reference goes on in the next chunk
      if (len == 0 || len == SIZE_MAX) {
        decoder_.Feed('&');
        return amp + 1;
      }
      const bool base64 = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
      if (base64 || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        decoder_.Feed(static_cast<char>(c));
      } else {
        decoder_.Refuse(fmt::format("the reference {}", rest.substr(amp, len)));
      }
      return amp + len;
    }
    if (end == std::string_view::npos) return rest.size();
    XmlPart& part = data_[next_data_];
    part.has_data = true;
    part.data_problem = decoder_.Finish();
    part.data_size = decoder_.size();
    part.data = PartBytes(std::move(decoder_.bytes()));
    decoder_ = Base64Decoder();
    out += std::to_string(next_data_++);
    out += quote_;
    state_ = kTag;
    return end + 1;
  }

  // Inside a document type declaration, which is dropped unread but for
  // its line breaks (so that lines keep their numbers): quoted literals,
  // comments and processing instructions may hold '>' (and quotes), the
  // internal subset is in brackets.
  size_t Doctype(std::string_view rest, bool last, std::string& out) {
    const char c = rest[0];
    if (c == '\n') out += c;
    if (!doctype_skip_to_.empty()) {
      if (rest.starts_with(doctype_skip_to_)) {
        const size_t n = doctype_skip_to_.size();
        doctype_skip_to_ = {};
        return n;
      }
      return !last && doctype_skip_to_.starts_with(rest) ? 0 : 1;
    }
    if (doctype_quote_ != 0) {
      if (c == doctype_quote_) doctype_quote_ = 0;
      return 1;
    }
    if (c == '<' && subset_) {
      if (rest.starts_with("<!--")) {
        doctype_skip_to_ = "-->";
        return 4;
      }
      if (rest.starts_with("<?")) {
        doctype_skip_to_ = "?>";
        return 2;
      }
      if (!last && (std::string_view("<!--").starts_with(rest) || rest.size() < 2)) return 0;
    }
    if (c == '"' || c == '\'') {
      doctype_quote_ = c;
    } else if (c == '[') {
      subset_ = true;
    } else if (c == ']') {
      subset_ = false;
    } else if (c == '>' && !subset_) {
      state_ = kText;
    }
    return 1;
  }

  // A reference at s[i] ('&'). Valid ones pass; surrogate pairs become the
  // character; what XML 1.0 cannot carry becomes a marker; an '&' that
  // starts no reference becomes "&amp;".
  size_t Reference(std::string_view s, size_t i, bool last, std::string& out) {
    char32_t first = 0;
    size_t len = Numeric(s, i, &first);
    if (len == SIZE_MAX && last) len = 0;
    if (len == 0) {
      const size_t near = s.substr(i, 12).find(';');
      const size_t semi = near == std::string_view::npos ? near : i + near;
      if (semi == std::string_view::npos && !last && s.size() - i < 12) return 0;
      const std::string_view name =
          semi == std::string_view::npos ? std::string_view() : s.substr(i + 1, semi - i - 1);
      if (name == "lt" || name == "gt" || name == "amp" || name == "quot" || name == "apos") {
        out.append(s.substr(i, semi - i + 1));
        return semi - i + 1;
      }
      out += "&amp;";
      return 1;
    }
    if (len == SIZE_MAX) return 0;
    if (first >= 0xD800 && first <= 0xDBFF) {
      char32_t second = 0;
      size_t len2 = Numeric(s, i + len, &second);
      if (len2 == SIZE_MAX && !last) return 0;
      if (len2 == SIZE_MAX) len2 = 0;
      if (len2 != 0 && second >= 0xDC00 && second <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00));
        return len + len2;
      }
      AppendUtf8(out, kBadCharacter);
      return len;
    }
    if ((first >= 0xDC00 && first <= 0xDFFF) || first > 0x10FFFF) {
      AppendUtf8(out, kBadCharacter);
    } else if (IsControl(first) || first == 0xFFFE || first == 0xFFFF) {
      AppendUtf8(out, Marker(first));
    } else if (first >= kMarkFirst) {
      AppendUtf8(out, kLiteral);
      out.append(s.substr(i, len));
    } else {
      out.append(s.substr(i, len));
    }
    return len;
  }

  // The length of a numeric reference "&#N;" or "&#xH;" at s[i], with its
  // value; 0 when there is none, SIZE_MAX when the input ends inside one.
  static size_t Numeric(std::string_view s, size_t i, char32_t* value) {
    size_t j = i;
    auto more = [&] { return j < s.size(); };
    if (!more()) return SIZE_MAX;
    if (s[j++] != '&') return 0;
    if (!more()) return SIZE_MAX;
    if (s[j++] != '#') return 0;
    if (!more()) return SIZE_MAX;
    const bool hex = s[j] == 'x';
    if (hex) ++j;
    uint64_t v = 0;
    size_t digits = 0;
    for (; more() && digits <= 16; ++j, ++digits) {
      const char c = s[j];
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) break;
      v = std::min<uint64_t>(v * (hex ? 16 : 10) + d, 0x7FFFFFFF);
    }
    // Too many digits is no reference, however the input was cut into chunks.
    if (digits > 16) return 0;
    if (!more()) return SIZE_MAX;
    if (digits == 0 || s[j] != ';') return 0;
    *value = static_cast<char32_t>(v);
    return j + 1 - i;
  }

  State state_ = kText;
  char quote_ = '"';
  std::string carry_;
  // In a tag: whether the element's name has been read, the names of its
  // attributes so far, the name being read, and a repeated attribute
  // being dropped (with what was dropped, in case it is not one).
  bool named_ = false;
  bool bad_name_ = false;  // the name being read holds bytes that are not UTF-8
  std::unordered_set<std::string> names_;
  std::string name_;
  bool dropping_ = false;
  std::string dropped_;
  std::string element_, attribute_;  // the tag's name, its last attribute's
  // Data values decoded, by number, until the parser hands their parts on.
  Base64Decoder decoder_;
  std::map<size_t, XmlPart> data_;
  size_t next_data_ = 0;
  // In a document type declaration.
  bool subset_ = false;
  std::string_view doctype_skip_to_;  // the end of a comment or instruction in it
  char doctype_quote_ = 0;
};

struct ParseState {
  XML_Parser parser = nullptr;
  int depth = 0;
  size_t events = 0;  // elements started and ended
  const std::function<void(const XmlSms&)>* on_sms = nullptr;
  const std::function<void(XmlMms&)>* on_mms = nullptr;
  Filter* filter = nullptr;
  std::optional<XmlMms> mms;  // the <mms> being read
  HeldParts held;             // its parts' data
  XmlReadResult result;
  std::string refused;         // why the parser was stopped
  std::exception_ptr failure;  // what the caller's handler threw
};

void Refuse(ParseState& st, const std::string& why) {
  if (st.refused.empty()) st.refused = why;
  XML_StopParser(st.parser, XML_FALSE);
}

XmlElement Copied(const XML_Char** attributes) {
  XmlElement e;
  for (size_t i = 0; attributes[i]; i += 2)
    e.attributes.emplace_back(attributes[i], attributes[i + 1]);
  return e;
}

// Runs a handler of the caller's; what it throws is carried across the
// parser's C frames.
template <typename Handler>
void Hand(ParseState& st, const Handler& handler) {
  try {
    handler();
  } catch (...) {
    st.failure = std::current_exception();
    XML_StopParser(st.parser, XML_FALSE);
  }
}

void XMLCALL Start(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto& st = *static_cast<ParseState*>(data);
  ++st.depth;
  ++st.events;
  if (st.depth == 1) {
    if (std::strcmp(name, "smses") != 0) {
      Refuse(st, fmt::format("the file has no <smses> element (its first element is <{}>)", name));
    } else {
      st.result.root = true;
    }
    return;
  }
  if (std::strcmp(name, "part") == 0) {
    // Its data was decoded by the filter, which wrote its number instead.
    XmlPart part;
    for (size_t i = 0; attributes[i]; i += 2) {
      if (std::strcmp(attributes[i], "data") != 0) {
        part.attributes.emplace_back(attributes[i], attributes[i + 1]);
        continue;
      }
      part.attributes.emplace_back("data", "");  // where it was, for writing back
      XmlPart taken = st.filter->TakeData(std::strtoull(attributes[i + 1], nullptr, 10));
      part.has_data = taken.has_data;
      part.data = std::move(taken.data);
      part.data_size = taken.data_size;
      part.data_problem = std::move(taken.data_problem);
    }
    if (st.mms && st.depth > 2) {
      Hand(st, [&] { st.held.Keep(part.data); });
      st.mms->parts.push_back(std::move(part));
    }
    if (st.depth > 2) return;
  }
  if (st.mms && st.depth > 2) {
    if (std::strcmp(name, "addr") == 0) st.mms->addrs.push_back(Copied(attributes));
    return;
  }
  if (st.depth != 2) return;
  if (std::strcmp(name, "sms") == 0) {
    XmlSms sms;
    sms.line = XML_GetCurrentLineNumber(st.parser);
    sms.attributes = attributes;
    ++st.result.sms;
    Hand(st, [&] { (*st.on_sms)(sms); });
  } else if (std::strcmp(name, "mms") == 0) {
    st.mms.emplace();
    st.mms->line = XML_GetCurrentLineNumber(st.parser);
    st.mms->element = Copied(attributes);
  } else {
    ++st.result.others[name];
  }
}

void XMLCALL End(void* data, const XML_Char*) {
  auto& st = *static_cast<ParseState*>(data);
  --st.depth;
  ++st.events;
  if (st.depth == 1 && st.mms) {
    ++st.result.mms;
    Hand(st, [&] { (*st.on_mms)(*st.mms); });
    st.mms.reset();
    st.held.Clear();
  }
}

void XMLCALL Doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  Refuse(*static_cast<ParseState*>(data), "a document type declaration that could not be skipped");
}

}  // namespace

std::optional<std::string_view> XmlElement::Get(std::string_view name) const {
  for (const auto& [n, v] : attributes) {
    if (n == name) return std::string_view(v);
  }
  return std::nullopt;
}

std::optional<std::string_view> XmlSms::Get(std::string_view name) const {
  for (size_t i = 0; attributes && attributes[i]; i += 2) {
    if (name == attributes[i]) return std::string_view(attributes[i + 1]);
  }
  return std::nullopt;
}

XmlReadResult ReadXmlBackup(std::istream& in, const std::function<void(const XmlSms&)>& on_sms,
                            const std::function<void(XmlMms&)>& on_mms,
                            const std::function<void(size_t)>& on_bytes) {
  ParseState st;
  st.on_sms = &on_sms;
  st.on_mms = &on_mms;
  st.parser = XML_ParserCreate("UTF-8");
  if (!st.parser) throw std::bad_alloc();
  XML_SetUserData(st.parser, &st);
  XML_SetElementHandler(st.parser, Start, End);
  XML_SetStartDoctypeDeclHandler(st.parser, Doctype);
  XML_SetParamEntityParsing(st.parser, XML_PARAM_ENTITY_PARSING_NEVER);
  Filter filter;
  st.filter = &filter;
  std::vector<char> chunk(1 << 16);
  std::string filtered;
  size_t bytes = 0;
  bool ok = true;
  // Expat scans a token that a feed leaves unfinished again from its start
  // at the next feed: a long attribute value (a multimedia part in base64)
  // fed 64 KiB at a time would cost its length squared. While feeds end
  // no element, the next one is twice as long, so a token is scanned about
  // twice in all.
  // A part's data is parsed as soon as its value ends (the filter holds it
  // decoded until then), so that the data of many parts is never held.
  size_t feed = chunk.size();
  size_t events = 0, data_ended = 0;
  for (bool last = false; !last && ok;) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    last = got < chunk.size();
    bytes += got;
    filter.Feed(std::string_view(chunk.data(), got), last, filtered);
    if (filtered.size() < feed && !last && filter.DataEnded() == data_ended) continue;
    data_ended = filter.DataEnded();
    ok = XML_Parse(st.parser, filtered.data(), static_cast<int>(filtered.size()),
                   last ? XML_TRUE : XML_FALSE) == XML_STATUS_OK;
    filtered.clear();
    feed = st.events == events ? std::min(2 * feed, size_t{1} << 30) : chunk.size();
    events = st.events;
    on_bytes(bytes);
  }
  if (st.failure) {
    XML_ParserFree(st.parser);
    std::rethrow_exception(st.failure);
  }
  if (bytes == 0) {
    st.result.error = "the file is empty";
  } else if (!ok) {
    const size_t line = XML_GetCurrentLineNumber(st.parser);
    const XML_Error code = XML_GetErrorCode(st.parser);
    if (!st.refused.empty()) {
      st.result.error = fmt::format("line {}: {}", line, st.refused);
    } else if (code == XML_ERROR_NO_ELEMENTS && !st.result.root) {
      st.result.error = fmt::format("line {}: the file has no <smses> element", line);
    } else {
      st.result.error = fmt::format("line {}: not valid XML: {}", line, XML_ErrorString(code));
    }
  }
  XML_ParserFree(st.parser);
  return st.result;
}

std::string FilterXml(std::string_view in, size_t split) {
  split = std::min(split, in.size());
  Filter filter;
  std::string out;
  filter.Feed(in.substr(0, split), false, out);
  filter.Feed(in.substr(split), true, out);
  return out;
}

}  // namespace zusms::cli
