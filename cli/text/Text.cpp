#include "text/Text.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unistd.h>
#include <utf8cpp/utf8.h>
#include <wchar.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <vector>

namespace zusms::cli {

std::string Utf8(const char16_t* text, size_t capacity) {
  size_t n = 0;
  while (n < capacity && text[n] != 0) ++n;
  // utfcpp refuses unpaired surrogates; mend them first.
  std::u16string clean(text, n);
  for (size_t i = 0; i < clean.size(); ++i) {
    const char16_t c = clean[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < clean.size() && clean[i + 1] >= 0xDC00 && clean[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      clean[i] = 0xFFFD;
    }
  }
  std::string out;
  utf8::utf16to8(clean.begin(), clean.end(), std::back_inserter(out));
  return out;
}

std::u16string Utf16(std::string_view text) {
  if (!utf8::is_valid(text.begin(), text.end())) throw Failure("text is not valid UTF-8");
  std::u16string out;
  utf8::utf8to16(text.begin(), text.end(), std::back_inserter(out));
  return out;
}

bool SetText(char16_t* field, size_t capacity, std::string_view text) {
  const std::u16string wide = Utf16(text);
  if (wide.size() + 1 > capacity) return false;
  std::copy(wide.begin(), wide.end(), field);
  field[wide.size()] = 0;
  return true;
}

bool IsBlank(std::string_view text) {
  if (!utf8::is_valid(text.begin(), text.end())) return false;
  for (auto it = text.begin(); it != text.end();) {
    const char32_t c = utf8::next(it, text.end());
    const bool invisible = c == 0x200B || c == 0xFEFF;  // no White_Space, yet nothing shows
    if (!invisible && !u_isUWhiteSpace(static_cast<UChar32>(c))) return false;
  }
  return true;
}

bool ShowsNothing(std::string_view name) {
  if (!utf8::is_valid(name.begin(), name.end())) return false;
  for (auto it = name.begin(); it != name.end();) {
    const auto c = static_cast<UChar32>(utf8::next(it, name.end()));
    // Marks count as nothing here: with nothing else shown, they have
    // nothing to combine with.
    const int type = u_charType(c);
    const bool invisible = u_isUWhiteSpace(c) || type == U_CONTROL_CHAR || type == U_FORMAT_CHAR ||
                           type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK ||
                           type == U_COMBINING_SPACING_MARK ||
                           u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT) ||
                           u_hasBinaryProperty(c, UCHAR_VARIATION_SELECTOR) || c == 0x2800 ||
                           c == 0x115F || c == 0x1160 || c == 0x3164 || c == 0xFFA0;
    if (!invisible) return false;
  }
  return true;
}

std::string Counted(uint64_t n, std::string_view noun) {
  return std::to_string(n) + " " + std::string(noun) + (n == 1 ? "" : "s");
}

bool SameButForCase(std::string_view a, std::string_view b) {
  if (!utf8::is_valid(a.begin(), a.end()) || !utf8::is_valid(b.begin(), b.end())) return a == b;
  const std::u16string x = Utf16(a), y = Utf16(b);
  UErrorCode status = U_ZERO_ERROR;
  return u_strCaseCompare(reinterpret_cast<const UChar*>(x.data()), static_cast<int32_t>(x.size()),
                          reinterpret_cast<const UChar*>(y.data()), static_cast<int32_t>(y.size()),
                          U_FOLD_CASE_DEFAULT, &status) == 0 &&
         U_SUCCESS(status);
}

const std::string& NotBlank(const std::string& text, const char* refusal) {
  if (IsBlank(text)) throw Failure(refusal);
  return text;
}

namespace {

int Width(char32_t c) {
  const int w = wcwidth(static_cast<wchar_t>(c));
  return w < 0 ? 1 : w;
}

}  // namespace

int DisplayWidth(std::string_view text) {
  int width = 0;
  for (auto it = text.begin(); it != text.end();) width += Width(utf8::next(it, text.end()));
  return width;
}

std::string Clip(std::string_view text, int columns) {
  if (DisplayWidth(text) <= columns) return std::string(text);
  std::string out;
  int width = 0;
  for (auto it = text.begin(); it != text.end();) {
    auto start = it;
    const char32_t c = utf8::next(it, text.end());
    if (width + Width(c) > columns - 1) break;
    width += Width(c);
    out.append(start, it);
  }
  return out + "\u2026";
}

std::string UuidText(const uint8_t* b) {
  char buf[40];
  std::snprintf(buf, sizeof buf,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return buf;
}

bool ParseUuid(std::string_view text, uint8_t* bytes) {
  std::vector<int> digits;
  for (char c : text) {
    if (c == '-') continue;
    const int v = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
    if (v < 0) return false;
    digits.push_back(v);
  }
  if (digits.size() != 32) return false;
  for (int i = 0; i < 16; ++i)
    bytes[i] = static_cast<uint8_t>(digits[2 * i] * 16 + digits[2 * i + 1]);
  return true;
}

std::string TimeText(int64_t unix_seconds) {
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &utc);
  return buf;
}

int64_t ParseTimeText(std::string_view text) {
  if (text.size() != 14) return -1;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
  }
  auto num = [&](size_t at, size_t len) { return std::stoi(std::string(text.substr(at, len))); };
  // A time that names no moment (the 30th of February, hour 24, all zeros)
  // is none, not the moment the calendar would roll it over to.
  const int year = num(0, 4), month = num(4, 2), day = num(6, 2);
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
      (month == 2 && day == 29 && !leap) || num(8, 2) > 23 || num(10, 2) > 59 || num(12, 2) > 59) {
    return -1;
  }
  std::tm utc{};
  utc.tm_year = year - 1900;
  utc.tm_mon = month - 1;
  utc.tm_mday = day;
  utc.tm_hour = num(8, 2);
  utc.tm_min = num(10, 2);
  utc.tm_sec = num(12, 2);
  return timegm(&utc);
}

namespace {

std::tm Broken(int64_t seconds, bool utc) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (utc) {
    gmtime_r(&t, &tm);
  } else {
    localtime_r(&t, &tm);
  }
  return tm;
}

}  // namespace

std::string ReadableTime(std::string_view time_text, bool utc) {
  const int64_t seconds = ParseTimeText(time_text);
  if (seconds < 0) return std::string(time_text);
  const std::tm tm = Broken(seconds, utc);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  return buf;
}

std::string IsoTime(std::string_view time_text, bool utc) {
  const int64_t seconds = ParseTimeText(time_text);
  if (seconds < 0) return "";
  const std::tm tm = Broken(seconds, utc);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", &tm);
  const std::string_view text(buf);  // ...+0800: the offset gets its colon
  return std::string(text.substr(0, text.size() - 2)) + ":" +
         std::string(text.substr(text.size() - 2));
}

namespace {

// The instant a local wall-clock time names: none in a gap (the clocks
// jumped over it), the earlier of two in a fold (the clocks showed it twice).
std::optional<int64_t> LocalTime(const std::tm& wall) {
  std::optional<int64_t> found;
  for (const int dst : {0, 1, -1}) {
    std::tm guess = wall;
    guess.tm_isdst = dst;
    const std::time_t t = mktime(&guess);
    std::tm back{};
    localtime_r(&t, &back);
    std::tm want = wall;  // normalised (the day after the 31st)
    want.tm_isdst = -1;
    timegm(&want);
    if (back.tm_year == want.tm_year && back.tm_mon == want.tm_mon &&
        back.tm_mday == want.tm_mday && back.tm_hour == want.tm_hour &&
        back.tm_min == want.tm_min && back.tm_sec == want.tm_sec) {
      found = found ? std::min<int64_t>(*found, t) : t;
    }
  }
  return found;
}

}  // namespace

namespace {

// Digits where digits belong: sscanf alone would take " 1" or "-1".
bool Shaped(std::string_view t, std::string_view shape) {
  if (t.size() < shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == '9' ? (t[i] < '0' || t[i] > '9') : t[i] != shape[i]) return false;
  }
  return true;
}

// The number of the `n` digits at t[at].
unsigned Digits(std::string_view t, size_t at, size_t n) {
  unsigned v = 0;
  for (size_t i = at; i < at + n; ++i) v = v * 10 + static_cast<unsigned>(t[i] - '0');
  return v;
}

// An offset from UTC as ISO 8601 writes it after a time: "Z", "+08:00",
// "-0530"; nothing when it is none.
std::optional<std::chrono::seconds> Offset(std::string_view rest) {
  if (rest == "Z") return std::chrono::seconds(0);
  int oh = 0, om = 0, end = 0;
  const std::string o(rest.substr(1));
  if ((rest[0] != '+' && rest[0] != '-') ||
      ((std::sscanf(o.c_str(), "%2d:%2d%n", &oh, &om, &end) != 2 || end != 5) &&
       (std::sscanf(o.c_str(), "%2d%2d%n", &oh, &om, &end) != 2 || end != 4)) ||
      end != static_cast<int>(o.size()) || oh > 23 || om > 59 || oh < 0 || om < 0) {
    return std::nullopt;
  }
  return std::chrono::seconds((rest[0] == '-' ? -1 : 1) * (oh * 3600 + om * 60));
}

// A time a person typed, in its parts; the calendar and the clock have it.
struct TypedTime {
  std::chrono::year_month_day date;
  std::chrono::seconds time_of_day{0};
  bool bare_date = true;                       // no time of day was typed
  std::optional<std::chrono::seconds> offset;  // east of UTC, when typed
};

std::optional<TypedTime> ReadTypedTime(std::string_view text) {
  using namespace std::chrono;
  if (!Shaped(text, "9999-99-99")) return std::nullopt;
  TypedTime t;
  t.date = year(static_cast<int>(Digits(text, 0, 4))) / month(Digits(text, 5, 2)) /
           day(Digits(text, 8, 2));
  if (!t.date.ok()) return std::nullopt;
  std::string_view rest = text.substr(10);
  if (rest.empty()) return t;
  t.bare_date = false;
  if ((rest[0] != ' ' && rest[0] != 'T') || !Shaped(rest.substr(1), "99:99")) return std::nullopt;
  const unsigned hour = Digits(rest, 1, 2), minute = Digits(rest, 4, 2);
  unsigned second = 0;
  rest = rest.substr(6);
  if (!rest.empty() && rest[0] == ':') {
    if (!Shaped(rest.substr(1), "99")) return std::nullopt;
    second = Digits(rest, 1, 2);
    rest = rest.substr(3);
    while (!rest.empty() && (rest[0] == '.' || (rest[0] >= '0' && rest[0] <= '9'))) {
      rest = rest.substr(1);
    }
  }
  if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  t.time_of_day = hours(hour) + minutes(minute) + seconds(second);
  if (rest.empty()) return t;
  t.offset = Offset(rest);
  return t.offset ? std::optional(t) : std::nullopt;
}

}  // namespace

namespace {

// The forms people type for a time relative to now: "today" and
// "yesterday" are days (as a date is), "7d", "2w", "3m" and "1y" the same
// moment that many days, weeks, months or years ago. The date of such a
// day in `date`, or the moment; nothing for any other text.
std::optional<int64_t> RelativeTime(std::string_view text, bool utc, std::string& date) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  if (utc) {
    gmtime_r(&now, &tm);
  } else {
    localtime_r(&now, &tm);
  }
  if (lower == "today" || lower == "yesterday") {
    if (lower == "yesterday") {
      tm.tm_mday -= 1;
      tm.tm_hour = 12;  // a day's noon is never skipped
      tm.tm_isdst = -1;
      const std::time_t then = utc ? timegm(&tm) : mktime(&tm);
      utc ? gmtime_r(&then, &tm) : localtime_r(&then, &tm);
    }
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", &tm);
    date = day;
    return std::nullopt;
  }
  if (lower.size() < 2 || lower.size() > 6) return std::nullopt;
  const char unit = lower.back();
  const std::string count = lower.substr(0, lower.size() - 1);
  if (count.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const int n = std::stoi(count);
  switch (unit) {
    case 'd':
      tm.tm_mday -= n;
      break;
    case 'w':
      tm.tm_mday -= 7 * n;
      break;
    case 'm':
      tm.tm_mon -= n;
      break;
    case 'y':
      tm.tm_year -= n;
      break;
    default:
      return std::nullopt;
  }
  tm.tm_isdst = -1;
  return utc ? timegm(&tm) : mktime(&tm);
}

}  // namespace

int64_t ParseUserTime(std::string_view text, bool utc, bool end_of_day) {
  using namespace std::chrono;
  std::string day_typed;
  if (const std::optional<int64_t> moment = RelativeTime(text, utc, day_typed)) return *moment;
  if (!day_typed.empty()) return ParseUserTime(day_typed, utc, end_of_day);
  const std::optional<TypedTime> typed = ReadTypedTime(text);
  if (!typed) {
    throw Failure("not a time: \"" + std::string(text) +
                  "\" (YYYY-MM-DD, YYYY-MM-DD HH:MM, ISO 8601 with an offset, today, "
                  "yesterday, or a time ago: 7d, 2w, 3m, 1y)");
  }
  // A date alone at the end of the day is the next day's midnight.
  const sys_days day = sys_days(typed->date) + days(typed->bare_date && end_of_day ? 1 : 0);
  const sys_seconds wall = day + typed->time_of_day;  // as if in UTC
  if (typed->offset) return (wall - *typed->offset).time_since_epoch().count();
  if (utc) return wall.time_since_epoch().count();
  const year_month_day date(day);
  const hh_mm_ss clock(typed->time_of_day);
  std::tm tm{};
  tm.tm_year = static_cast<int>(date.year()) - 1900;
  tm.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
  tm.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
  tm.tm_hour = static_cast<int>(clock.hours().count());
  tm.tm_min = static_cast<int>(clock.minutes().count());
  tm.tm_sec = static_cast<int>(clock.seconds().count());
  if (const std::optional<int64_t> local = LocalTime(tm)) return *local;
  if (typed->bare_date) {  // a day whose midnight the clocks skip begins when they resume
    tm.tm_isdst = -1;
    return mktime(&tm);
  }
  throw Failure("not a time: \"" + std::string(text) +
                "\" does not exist in the local time zone (the clocks skip it)");
}

namespace {

// The zone TZ names: "" when TZ is not set.
std::string ZoneOfTz() {
  const char* env = std::getenv("TZ");
  return env && *env ? (env[0] == ':' ? env + 1 : env) : "";
}

}  // namespace

bool ZoneKnown() {
  static std::string checked;
  static bool known = true;
  const std::string tz = ZoneOfTz();
  if (tz == checked) return known;
  checked = tz;
  // A zone file (by path, or under TZDIR or the system's zoneinfo), or a
  // rule such as "EST5EDT" or "<+03>-3", which always holds an hour.
  const char* dir = std::getenv("TZDIR");
  const std::string path =
      tz.starts_with('/') ? tz : std::string(dir && *dir ? dir : "/usr/share/zoneinfo") + "/" + tz;
  known = tz.empty() || tz.find_first_of("0123456789") != std::string::npos ||
          (tz.find("..") == std::string::npos && ::access(path.c_str(), R_OK) == 0);
  return known;
}

std::string OffsetText(long seconds) {
  const long off = seconds < 0 ? -seconds : seconds;
  char text[48];
  std::snprintf(text, sizeof text, "UTC%c%02ld:%02ld", seconds < 0 ? '-' : '+', off / 3600,
                off % 3600 / 60);
  return text;
}

std::string OffsetOnChangeDay(int64_t seconds) {
  const auto local = [](int64_t at) {
    const auto t = static_cast<time_t>(at);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
  };
  const std::tm tm = local(seconds);
  const long since_midnight = tm.tm_hour * 3600L + tm.tm_min * 60L + tm.tm_sec;
  if (local(seconds - since_midnight).tm_gmtoff == tm.tm_gmtoff &&
      local(seconds + 86399 - since_midnight).tm_gmtoff == tm.tm_gmtoff) {
    return "";
  }
  return OffsetText(tm.tm_gmtoff);
}

std::string ZoneName() {
  if (!ZoneKnown()) return "UTC";
  std::string tz = ZoneOfTz();
  if (tz.empty()) {
    char link[PATH_MAX];
    const ssize_t n = ::readlink("/etc/localtime", link, sizeof link - 1);
    if (n > 0) tz.assign(link, static_cast<size_t>(n));
  }
  const size_t at = tz.find("zoneinfo/");
  return at == std::string::npos ? tz : tz.substr(at + 9);
}

}  // namespace zusms::cli
