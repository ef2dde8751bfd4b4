// Text for people: UTF-8 on the terminal and in files, UTF-16 in the records.
#ifndef ZUSMS_CLI_TEXT_TEXT_H_
#define ZUSMS_CLI_TEXT_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zusms::cli {

// A failure to report to the user: exit status 1, the message on stderr.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// UTF-16 (a zero-terminated field of `capacity` characters) to UTF-8; an
// unpaired surrogate becomes U+FFFD.
std::string Utf8(const char16_t* text, size_t capacity);
template <size_t N>
std::string Utf8(const char16_t (&field)[N]) {
  return Utf8(field, N);
}
// UTF-8 to UTF-16; malformed UTF-8 is a Failure.
std::u16string Utf16(std::string_view text);
// Puts `text` into a field of N characters; false when it does not fit
// (N - 1 characters at most), leaving the field as it was.
bool SetText(char16_t* field, size_t capacity, std::string_view text);
template <size_t N>
bool SetText(char16_t (&field)[N], std::string_view text) {
  return SetText(field, N, text);
}
// Whether the text is empty or only white space (Unicode's spaces, tabs and
// line breaks, and the invisible U+200B and U+FEFF); malformed UTF-8 is
// not blank.
bool IsBlank(std::string_view text);
// Whether a name shows nothing: only white space, controls, format
// characters (direction marks, joiners, tags), the characters Unicode
// says to ignore by default (variation selectors, the Hangul fillers), the
// braille blank U+2800, and combining marks (with nothing else there, they
// have nothing to combine with); a person so named is shown by number.
bool ShowsNothing(std::string_view name);
// Whether two texts are the same but for letter case (Unicode case folding).
bool SameButForCase(std::string_view a, std::string_view b);
// `text`, unless it is blank: then a Failure saying `refusal`.
const std::string& NotBlank(const std::string& text, const char* refusal);
// How many terminal columns the text takes (East Asian wide characters
// two), by wcwidth: main sets LC_CTYPE to C.UTF-8 for it.
int DisplayWidth(std::string_view text);
// The text cut to at most `columns` columns, with "…" when cut.
std::string Clip(std::string_view text, int columns);

// A count with its noun, singular for one: "1 message", "2 messages",
// "0 records" (nouns that take -s).
std::string Counted(uint64_t n, std::string_view noun);

// UUIDs as canonical hex text, bytes in stored order.
std::string UuidText(const uint8_t* bytes);
bool ParseUuid(std::string_view text, uint8_t* bytes);

// Time texts of the records: "YYYYMMDDhhmmss", UTC.
std::string TimeText(int64_t unix_seconds);
// Seconds since 1970 UTC, or -1 when `text` is not such a time.
int64_t ParseTimeText(std::string_view text);
// A time as people read it: "2026-12-06 15:24", local time or UTC; a text
// that is no time comes back as it is.
std::string ReadableTime(std::string_view time_text, bool utc);
// ISO 8601 with the offset ("2026-12-06T15:24:05+08:00"), or "" for no time.
std::string IsoTime(std::string_view time_text, bool utc);
// The zone local times are in, by name where the system says it
// ("Europe/Berlin", from TZ or /etc/localtime), else "". A TZ that names
// no zone the system has and no rule ("Foo/Bar") leaves times in UTC:
// then "UTC", and ZoneKnown() is false (the C library still gives such a
// zone's name as the abbreviation of its times).
std::string ZoneName();
bool ZoneKnown();
// "UTC+02:00": an offset from UTC in seconds.
std::string OffsetText(long seconds);
// On a day the local clocks change, the offset of the local time at
// `seconds` (OffsetText), so that the hour they show twice is told apart;
// else "".
std::string OffsetOnChangeDay(int64_t seconds);
// A time that a person typed: "YYYY-MM-DD" or "YYYY-MM-DD HH:MM" in local
// time (UTC with `utc`), or ISO 8601 with an offset; a Failure otherwise,
// also for a day, hour or minute the calendar or clock does not have
// ("2023-02-30", "24:61"), and for a local time the clocks skip (the hour
// lost when daylight saving time begins). A local time the clocks show twice
// (when daylight saving time ends) is the earlier instant. With
// `end_of_day`, a date without a time is the end of that day: the next
// day's midnight, for a bound that excludes it.
int64_t ParseUserTime(std::string_view text, bool utc, bool end_of_day = false);

// Puts `text` into the field, or throws a Failure saying that `what` is
// longer than the field holds.
template <size_t N>
void SetTextOrFail(char16_t (&field)[N], std::string_view text, const char* what) {
  if (!SetText(field, N, text)) {
    throw Failure(std::string("the ") + what + " is longer than " + Counted(N - 1, "character"));
  }
}

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_TEXT_TEXT_H_
