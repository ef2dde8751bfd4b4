#include "Text.h"

#include <sqlite3.h>
#include <utf8.h>

#include <cstdint>
#include <cstring>
#include <mutex>

namespace zusms::engine {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

bool IsLead(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsTrail(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  // utfcpp raises on a surrogate without its partner: each becomes U+FFFD
  // first.
  std::u16string paired(text);
  for (size_t i = 0; i < paired.size(); ++i) {
    if (IsLead(paired[i]) && i + 1 < paired.size() && IsTrail(paired[i + 1])) {
      ++i;
    } else if (IsLead(paired[i]) || IsTrail(paired[i])) {
      paired[i] = kReplacement;
    }
  }
  return utf8::utf16to8(paired);
}

std::u16string ToUtf16(std::string_view text) {
  if (utf8::is_valid(text)) return utf8::utf8to16(text);
  return utf8::utf8to16(utf8::replace_invalid(text));
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

namespace {

bool Digits(const char* text, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// The store's own form, YYYY-MM-DD HH:MM:SS[.f...], and nothing more.
bool ParseStoredTimestamp(const char* text, tagTIMESTAMP_STRUCT& out) {
  if (std::strlen(text) < 19 || !Digits(text, 0, 4) || text[4] != '-' || !Digits(text, 5, 7) ||
      text[7] != '-' || !Digits(text, 8, 10) || text[10] != ' ' || !Digits(text, 11, 13) ||
      text[13] != ':' || !Digits(text, 14, 16) || text[16] != ':' || !Digits(text, 17, 19)) {
    return false;
  }
  const char* p = text + 19;
  unsigned fraction = 0;
  if (*p == '.') {
    unsigned scale = 100000000;
    for (++p; *p >= '0' && *p <= '9'; ++p) {
      fraction += static_cast<unsigned>(*p - '0') * scale;
      scale /= 10;
    }
  }
  if (*p != 0) return false;
  const auto number = [text](size_t at, size_t digits) {
    unsigned value = 0;
    for (size_t i = at; i < at + digits; ++i)
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
    return value;
  };
  out = tagTIMESTAMP_STRUCT{};
  out.year = static_cast<int16_t>(number(0, 4));
  out.month = static_cast<uint16_t>(number(5, 2));
  out.day = static_cast<uint16_t>(number(8, 2));
  out.hour = static_cast<uint16_t>(number(11, 2));
  out.minute = static_cast<uint16_t>(number(14, 2));
  out.second = static_cast<uint16_t>(number(17, 2));
  out.fraction = fraction;
  return true;
}

// SQLite's own reading of a time, on a private in-memory connection: the
// date functions depend on no file. Serialised, and only for texts another
// program wrote in another form.
class TimeReader {
 public:
  TimeReader() {
    if (sqlite3_open(":memory:", &db_) == SQLITE_OK) {
      sqlite3_prepare_v2(db_, "SELECT strftime('%Y-%m-%d %H:%M:%f', ?)", -1, &stmt_, nullptr);
    }
  }
  ~TimeReader() {
    sqlite3_finalize(stmt_);
    sqlite3_close(db_);
  }
  TimeReader(const TimeReader&) = delete;
  TimeReader& operator=(const TimeReader&) = delete;

  bool Read(const char* text, tagTIMESTAMP_STRUCT& out) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (!stmt_) return false;
    sqlite3_bind_text(stmt_, 1, text, -1, SQLITE_TRANSIENT);
    const bool read =
        sqlite3_step(stmt_) == SQLITE_ROW && sqlite3_column_type(stmt_, 0) == SQLITE_TEXT &&
        ParseStoredTimestamp(reinterpret_cast<const char*>(sqlite3_column_text(stmt_, 0)), out);
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    return read;
  }

 private:
  std::mutex lock_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

bool ParseTimestamp(const char* text, tagTIMESTAMP_STRUCT& out) {
  if (!text) return false;
  if (ParseStoredTimestamp(text, out)) return true;
  // Lives as long as the process: no connection is closed while a DLL unloads.
  static auto* reader = new TimeReader();
  return reader->Read(text, out);
}

}  // namespace zusms::engine
