// export --format html: the selected messages as a folder of web pages that
// open in any browser without a network or a server. index.html lists the
// people, newest first, with a filter box (filter.js); each conversation is
// a chain of pages of at most kPageMessages messages, oldest first, linked
// in order; the attachments of multimedia messages are files of media/,
// pictures shown inline, other files linked with their size. Every text
// from the store is escaped, and every page carries a
// Content-Security-Policy that lets it load nothing but its own style (and,
// for the index, its own script) and the pictures of its own files: a
// message cannot run or fetch anything, whatever it holds.
#include <dirent.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "Command.h"
#include "Selecting.h"
#include "model/Conversations.h"
#include "model/Multimedia.h"
#include "model/ReadState.h"
#include "model/Region.h"
#include "text/Digest.h"
#include "text/FileName.h"
#include "text/Interrupt.h"

namespace zusms::cli {

namespace {

// No page of the export passes kMostPageBytes (2 MB, decimal). A
// conversation page holds at most kPageMessages messages, and is closed
// once its text passes kPageBytes, so that a conversation of 50,000
// messages opens fast. A message's text longer than kPieceBytes (as written
// in the page) goes on in pieces, a page each.
constexpr size_t kMostPageBytes = 2'000'000;
constexpr size_t kPageMessages = 2000;
constexpr size_t kPageBytes = 1 << 20;
constexpr size_t kPieceBytes = 768 << 10;
static_assert(kPageBytes + kPieceBytes + (64 << 10) < kMostPageBytes);
// The index is cut into pages as its rows pass kRowBytes; each page holds
// the names and numbers of all people for the filter while a page can hold
// them beside kFewestRowBytes of rows, the rows and they within
// kIndexPageBytes, which leaves the style, the script and the headings
// room (beyond, the filter reads the page's own rows).
constexpr size_t kRowBytes = 640 << 10;
constexpr size_t kFewestRowBytes = 256 << 10;
constexpr size_t kIndexPageBytes = kMostPageBytes - (32 << 10);

// How a text from the store goes into a page.
enum class Kind {
  kText,   // a message: its line breaks kept (CR LF, CR, U+2028, U+2029 as one)
  kLine,   // a name: on one line, line breaks as blanks
  kTitle,  // the window's title, which no element isolates: without
           // direction controls
  kCode,   // a number or file name: on one line, direction controls shown
           // as what they are ("[U+202E]"), never acted on
};

// The direction controls that embed, override or isolate (U+202A to
// U+202E, U+2066 to U+2069) and the marks (U+200E, U+200F; U+061C is
// apart, two bytes), in UTF-8: E2 80 AA..AE, E2 81 A6..A9, E2 80 8E..8F.
bool DirectionControl(unsigned char b1, unsigned char b2) {
  return (b1 == 0x80 && b2 >= 0xAA && b2 <= 0xAE) || (b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9) ||
         (b1 == 0x80 && (b2 == 0x8E || b2 == 0x8F));
}

// Appends `text` as HTML text or attribute value: the markup characters as
// references, line breaks as `kind` says, control characters that HTML does
// not allow (all C0 but tab and line feed, DEL, C1) as U+FFFD. The text is
// valid UTF-8 (Utf8 makes it so).
void Escape(std::string& out, std::string_view text, Kind kind = Kind::kLine) {
  const char* line_break = kind == Kind::kText ? "\n" : " ";
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\t':
        out += static_cast<char>(c);
        break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += line_break;
        break;
      case '\n':
        out += line_break;
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\uFFFD";
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) < 0xA0) {
          out += "\uFFFD";  // U+0080 to U+009F
          ++i;
        } else if (c == 0xD8 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0x9C) {  // U+061C
          if (kind == Kind::kCode) out += ControlShown(0x061C);
          if (kind == Kind::kText || kind == Kind::kLine) out.append(text.substr(i, 2));
          ++i;
        } else if (c == 0xE2 && i + 2 < text.size()) {
          const auto b1 = static_cast<unsigned char>(text[i + 1]);
          const auto b2 = static_cast<unsigned char>(text[i + 2]);
          if (b1 == 0x80 && (b2 == 0xA8 || b2 == 0xA9)) {  // U+2028, U+2029
            out += line_break;
          } else if (!DirectionControl(b1, b2)) {
            out.append(text.substr(i, 3));
          } else if (kind == Kind::kCode) {
            out += ControlShown(((c & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
          } else if (kind != Kind::kTitle) {
            out.append(text.substr(i, 3));  // within the element that isolates the text
          }
          i += 2;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
}

std::string Escaped(std::string_view text, Kind kind = Kind::kLine) {
  std::string out;
  Escape(out, text, kind);
  return out;
}

// A name as the pages give it: none when it shows nothing, so that a link
// to its conversation always has something to click.
std::string ShownName(const std::string& name) { return ShowsNothing(name) ? "" : name; }

// A message's time as the pages show it.
struct When {
  std::string date;  // "Friday 2024-03-01": the day's heading; "" for no time
  std::string clock, iso, zone;
};

When At(std::string_view time_text, bool utc) {
  When w;
  const int64_t seconds = ParseTimeText(time_text);
  if (seconds < 0) {
    w.clock = "unknown time";
    return w;
  }
  const auto t = static_cast<time_t>(seconds);
  std::tm tm{};
  if (utc) {
    gmtime_r(&t, &tm);
  } else {
    localtime_r(&t, &tm);
  }
  char buf[64];
  std::strftime(buf, sizeof buf, "%A %Y-%m-%d", &tm);
  w.date = buf;
  std::strftime(buf, sizeof buf, "%H:%M", &tm);
  w.clock = buf;
  w.iso = IsoTime(time_text, utc);
  if (utc) {
    w.zone = "UTC";
  } else {
    // "CET, UTC+01:00"; the offset alone where the zone's abbreviation is
    // none ("+03"), says no more ("UTC") or is no zone's (TZ names one the
    // system does not have: its text would stand as the abbreviation).
    const std::string abbreviation = tm.tm_zone && ZoneKnown() ? tm.tm_zone : "";
    w.zone = OffsetText(tm.tm_gmtoff);
    if (!abbreviation.empty() && std::isalpha(static_cast<unsigned char>(abbreviation[0])) &&
        abbreviation != "UTC" && abbreviation != "GMT") {
      w.zone = abbreviation + ", " + w.zone;
    }
    // On a day the clocks change, a time says its offset: the hour the
    // clocks show twice is told apart.
    if (const std::string offset = OffsetOnChangeDay(seconds); !offset.empty()) {
      w.clock += " " + offset;
    }
  }
  return w;
}

// "times: Europe/Berlin (CET, UTC+01:00; CEST, UTC+02:00)", of the zones a
// page's times fell in.
std::string ZoneLine(const std::set<std::string>& zones, bool utc) {
  if (zones.empty()) return "";
  if (utc) return "times in UTC";
  std::string list;
  for (const std::string& z : zones) list += (list.empty() ? "" : "; ") + z;
  const std::string name = ZoneName();
  return "local times" + (name.empty() ? "" : " in " + name) + " (" + list + ")";
}

// The index's filter. It shows the people who hold every word typed (case
// and accents ignored; a word of digits, blanks, dashes and brackets is
// looked for in one number's digits; one that begins with "00" and the
// country's code, or with the trunk "0" and the national number, in the
// beginning of those), and takes a first query from the address
// (index.html#q=WORDS). Where the page holds everyone's names and numbers
// (a data block), it lists those found on any page; else it hides the
// page's rows that do not match. It reads text and writes text only.
constexpr const char* kFilterScript = R"js("use strict";
(function () {
  var box = document.getElementById("filter");
  var shown = document.getElementById("shown");
  var table = document.getElementById("people");
  var found = document.getElementById("found");
  var block = document.getElementById("everyone");
  var rows = Array.prototype.slice.call(table.tBodies[0].rows);
  function fold(s) {
    return s.normalize("NFD").replace(/\p{M}/gu, "").toLowerCase();
  }
  function visible(s) {
    return s.replace(/[\u061C\u200E\u200F\u202A-\u202E\u2066-\u2069]/g, function (c) {
      return "[U+" + ("000" + c.charCodeAt(0).toString(16).toUpperCase()).slice(-4) + "]";
    });
  }
  var people = block ? JSON.parse(block.textContent).map(function (p, i) {
    var digits = p[1].replace(/\D/g, "");
    return { name: p[0], number: p[1], page: "c" + (i + 1) + ".html",
             national: typeof p[2] === "number" ? digits.slice(digits.length - p[2]) : p[2] };
  }) : rows.map(function (r) {
    var n = r.cells[1].firstElementChild;
    return { name: r.cells[0].textContent, number: n.textContent,
             digits: n.getAttribute("data-digits"),
             national: n.getAttribute("data-national") || "", row: r };
  });
  people.forEach(function (p) {
    p.words = fold(p.name + " " + p.number);
    if (p.digits === undefined) p.digits = p.number.replace(/\D/g, "");
  });
  function matches(p, w) {
    if (p.words.indexOf(w) >= 0) return true;
    if (!/^[\d+()\-.]+$/.test(w)) return false;
    var d = w.replace(/\D/g, "");
    if (d === "") return false;
    if (p.digits.indexOf(d) >= 0) return true;
    if (p.national === "") return false;
    // "00" before the country's code, "0" (the trunk prefix) before the
    // national number: what follows begins it.
    if (/^00./.test(d)) return p.digits.indexOf(d.slice(2)) === 0;
    return /^0./.test(d) && p.national.indexOf(d.slice(1)) === 0;
  }
  function cell(tr, text, page) {
    var td = tr.insertCell();
    var bdi = document.createElement("bdi");
    bdi.textContent = text;
    if (page) {
      var a = document.createElement("a");
      a.href = page;
      a.appendChild(bdi);
      td.appendChild(a);
    } else {
      td.appendChild(bdi);
    }
  }
  function apply() {
    var words = fold(box.value).split(/\s+/).filter(Boolean);
    var hits = people.filter(function (p) {
      p.hit = words.every(function (w) { return matches(p, w); });
      return p.hit;
    });
    if (found) {
      var body = found.tBodies[0];
      while (body.rows.length) body.deleteRow(0);
      if (words.length) {
        hits.forEach(function (p) {
          var tr = body.insertRow();
          cell(tr, p.name || "\u2014", p.page);
          cell(tr, visible(p.number) || "(no number)");
        });
      }
      found.hidden = !words.length;
      table.hidden = !!words.length;
    } else {
      people.forEach(function (p) { p.row.hidden = !p.hit; });
    }
    shown.textContent = words.length ? hits.length + " of " + people.length : "";
  }
  var q = /^#q=(.*)$/.exec(location.hash);
  if (q) {
    try {
      box.value = decodeURIComponent(q[1]);
    } catch (e) {
      box.value = q[1];
    }
  }
  box.hidden = false;
  box.addEventListener("input", apply);
  apply();
})();
)js";

// The pages' style: bubbles, day headings, long words wrapped, and for
// print a clean document broken between days where it can be.
constexpr const char* kStyle = R"css(:root { color-scheme: light; }
body { margin: 0 auto; max-width: 46rem; padding: 0 1rem 2rem; background: #eef0f3;
  color: #16181c; font: 16px/1.4 system-ui, -apple-system, "Segoe UI", "Noto Sans", sans-serif;
  overflow-wrap: anywhere; }
header { padding: .75rem 0; }
h1 { font-size: 1.4rem; margin: .4rem 0; }
h1.named .number:not(.member) { font-weight: normal; color: #555; font-size: 1rem; }
.about { color: #555; font-size: .9rem; margin: .2rem 0; }
nav { display: flex; flex-wrap: wrap; gap: 1rem; font-size: .9rem; }
nav a[rel=next] { margin-left: auto; }
a { color: #0b57d0; }
section.day { display: flex; flex-direction: column; }
h2 { align-self: center; font-size: .8rem; font-weight: 600; color: #444; background: #dde1e7;
  border-radius: 1rem; padding: .15rem .8rem; margin: 1rem 0 .5rem; }
.msg { max-width: 78%; margin: .2rem 0; padding: .45rem .75rem .3rem; border-radius: 1.1rem;
  background: #fff; box-shadow: 0 1px 1px rgba(0,0,0,.08); }
.msg.in { align-self: flex-start; border-bottom-left-radius: .3rem; }
.msg.out { align-self: flex-end; background: #cfe6ff; border-bottom-right-radius: .3rem; }
.msg .text { margin: 0; white-space: pre-wrap; overflow-wrap: anywhere; word-break: normal; }
.msg .meta { margin: .15rem 0 0; font-size: .72rem; color: #667; text-align: end; }
.msg img { max-width: 100%; max-height: 24rem; height: auto; display: block; margin: .3rem 0;
  border-radius: .6rem; }
.msg .file { margin: .2rem 0; font-size: .9rem; }
.msg .from { margin: 0 0 .1rem; font-size: .75rem; font-weight: 600; color: #555; }
.msg .from bdi + .number { font-weight: normal; color: #778; }
.flag { font-weight: 600; color: #a33; }
footer { margin-top: 1.5rem; }
.filter input { font: inherit; width: 100%; max-width: 24rem; padding: .4rem .6rem;
  border: 1px solid #aab; border-radius: .5rem; box-sizing: border-box; }
.filter output { color: #555; font-size: .9rem; margin-left: .5rem; }
table { border-collapse: collapse; width: 100%; background: #fff; font-size: .9rem; }
th, td { text-align: start; padding: .35rem .5rem; border-bottom: 1px solid #e2e4e8;
  vertical-align: top; }
th { background: #f6f7f9; font-weight: 600; }
[hidden] { display: none !important; }
.more { margin: .2rem 0; font-size: .8rem; }
.unit { display: none; }
td:nth-child(3), td:nth-child(4) { text-align: end; }
th, td:nth-child(n+3) { white-space: nowrap; overflow-wrap: normal; }
td:nth-child(1) { min-width: 8rem; overflow-wrap: anywhere; }
td:nth-child(2) { min-width: 16ch; overflow-wrap: anywhere; }
@media (max-width: 40rem) {
  body { padding: 0 .5rem 1rem; }
  .msg { max-width: 88%; }
  table { font-size: .8rem; }
  th, td { padding: .35rem .25rem; }
  table, tbody { display: block; }
  thead, td:nth-child(5), td .clock { display: none; }
  tr { display: grid; grid-template-columns: minmax(0, 1fr) auto auto; column-gap: .6rem;
    padding: .45rem .5rem; border-bottom: 1px solid #e2e4e8; }
  td { border: 0; padding: 0; }
  td:nth-child(1) { grid-area: 1 / 1 / 2 / 3; font-size: .95rem; }
  td:nth-child(6) { grid-area: 1 / 3; text-align: end; color: #555; }
  td:nth-child(2) { grid-area: 2 / 1; color: #555; min-width: 0; }
  td:nth-child(3) { grid-area: 2 / 2; }
  td:nth-child(4) { grid-area: 2 / 3; }
  .unit { display: inline; }
}
@media print {
  body { background: #fff; max-width: none; padding: 0; font-size: 11pt; }
  nav, .filter, footer { display: none; }
  section.day { break-inside: avoid-page; }
  h2 { break-after: avoid-page; background: none; border-bottom: 1px solid #999;
    border-radius: 0; }
  .msg { break-inside: avoid; box-shadow: none; border: 1px solid #bbb; background: #fff; }
  .msg.out { background: #f0f0f0; }
  a { color: inherit; text-decoration: none; }
}
)css";

// What an index page holds beside its rows and people fits the room
// kIndexPageBytes leaves.
static_assert(std::string_view(kStyle).size() + std::string_view(kFilterScript).size() <
              (24 << 10));

// The pages' style and the index's script, in each page. The policies
// admit these two by their digests and nothing else: no other style or
// script, inline or from a file (not even of the folder, as a page's own
// folder on file:// may be any folder), no base, no form, no frame. A
// conversation page shows pictures from files ('self': on file:// a
// policy can name no folder relative to the page, so any local file, never
// the network); the only images in a page are its own, of media/.
std::string Policy(bool script) {
  static const std::string style = Sha256Base64(kStyle), filter = Sha256Base64(kFilterScript);
  return "default-src 'none'; style-src 'sha256-" + style + "'" +
         (script ? "; script-src 'sha256-" + filter + "'" : std::string("; img-src 'self'")) +
         "; base-uri 'none'; form-action 'none'";
}

std::string Head(const std::string& title, bool script) {
  return fmt::format(
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"{}\">\n"
      "<meta name=\"referrer\" content=\"no-referrer\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>{}</title>\n<style>{}</style>\n</head>\n",
      Policy(script), Escaped(title, Kind::kTitle), kStyle);
}

// The folder the export writes: a private temporary folder beside the
// target, renamed to it once every file is on disk, so that a failed or
// interrupted export leaves nothing behind. The target must not exist, or
// be an empty folder: an export never mixes its pages with other files.
class ExportFolder {
 public:
  explicit ExportFolder(std::string target) : target_(std::move(target)) {
    while (target_.size() > 1 && target_.back() == '/') target_.pop_back();
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) throw Failure(OneLine(target_) + ": exists and is no folder");
      if (!Empty()) {
        throw Failure(OneLine(target_) +
                      ": the folder is not empty; give a new folder (or an empty one)");
      }
      // The export takes the empty folder's place: a link is followed to
      // the folder it names, and the folder one works in cannot be replaced.
      char real[PATH_MAX];
      if (::realpath(target_.c_str(), real) == nullptr) Fail(errno);
      char here[PATH_MAX];
      if (::getcwd(here, sizeof here) != nullptr && std::string_view(here) == real) {
        throw Failure(OneLine(target_) +
                      ": is the folder you are in, which the export cannot replace; give a "
                      "new folder's name (or an empty folder elsewhere)");
      }
      if (std::string_view(real) == "/") throw Failure("/: the export cannot replace the root");
      target_ = real;
    }
    const size_t slash = target_.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    std::string pattern = parent + (parent == "." ? "/." : ".") + base + ".XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Fail(errno);  // 0700
    temporary_ = pattern;
    parent_ = parent;
  }
  ~ExportFolder() {
    if (done_ || temporary_.empty()) return;
    for (const std::string& name : names_) ::unlink((temporary_ + "/" + name).c_str());
    for (const std::string& name : folders_) ::rmdir((temporary_ + "/" + name).c_str());
    ::rmdir(temporary_.c_str());
  }
  ExportFolder(const ExportFolder&) = delete;
  ExportFolder& operator=(const ExportFolder&) = delete;

  // A file of the export (0600: it holds message text).
  void Write(const std::string& name, std::string_view text) {
    WriteWith(name, [&](const Sink& write) {
      write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    });
  }
  // A file of the export whose content `fill` hands to its sink a piece at
  // a time.
  using Sink = std::function<void(const uint8_t*, size_t)>;
  void WriteWith(const std::string& name, const std::function<void(const Sink&)>& fill) {
    const std::string path = temporary_ + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) Fail(errno);
    names_.push_back(name);
    uint64_t size = 0;
    int error = 0;
    try {
      fill([&](const uint8_t* data, size_t n) {
        if (error == 0) error = WriteAll(fd, reinterpret_cast<const char*>(data), n);
        size += n;
        if (InterruptRequested()) throw Failure("interrupted: the export was not written");
      });
    } catch (...) {
      ::close(fd);
      throw;
    }
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) Fail(error);
    bytes += size;
    if (size > largest) largest = size;
  }
  // A folder of the export (0700), made once.
  std::string Folder(const std::string& name) {
    if (std::find(folders_.begin(), folders_.end(), name) == folders_.end()) {
      if (::mkdir((temporary_ + "/" + name).c_str(), 0700) != 0) Fail(errno);
      folders_.push_back(name);
    }
    return temporary_ + "/" + name;
  }

  // Puts the folder in place once all of it is on disk.
  void Commit() {
    const int dir = ::open(temporary_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) Fail(errno);
    const int synced = ::syncfs(dir) == 0 ? 0 : errno;
    ::close(dir);
    if (synced != 0) Fail(synced);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) Fail(errno);
    done_ = true;
    const int up = ::open(parent_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (up >= 0) {
      ::fsync(up);
      ::close(up);
    }
  }

  uint64_t bytes = 0, largest = 0;

 private:
  bool Empty() const {
    DIR* d = ::opendir(target_.c_str());
    if (d == nullptr) Fail(errno);
    bool empty = true;
    while (const dirent* e = ::readdir(d)) {
      const std::string_view name = e->d_name;
      if (name != "." && name != "..") empty = false;
    }
    ::closedir(d);
    return empty;
  }
  [[noreturn]] void Fail(int error) const {
    throw Failure(OneLine(target_) + ": " + std::strerror(error == 0 ? EIO : error) +
                  " (the export was not written)");
  }

  std::string target_, temporary_, parent_;
  std::vector<std::string> names_, folders_;
  bool done_ = false;
};

// The attachments of the exported messages, as files of media/ under
// names made safe as `attachments save` makes them, each name once.
class MediaFiles {
 public:
  MediaFiles(ExportFolder& folder, Store& store) : folder_(folder), store_(store) {}

  // Writes the attachment; its file's name in media/.
  std::string Write(uint32_t id, const Attachment& a) {
    if (!names_) names_.emplace(folder_.Folder("media"));
    const std::string name = names_->Take(
        SafeFileName(AttachmentFileName(a), fmt::format("message-{}-part-{}", id, a.part)));
    folder_.WriteWith("media/" + name, [&](const ExportFolder::Sink& write) {
      CopyAttachment(store_, id, a, write);
    });
    return name;
  }

 private:
  ExportFolder& folder_;
  Store& store_;
  std::optional<UnusedFileNames> names_;
};

// A picture the pages show inline: a type every browser draws (an SVG too,
// which an image element never runs).
bool Picture(const Attachment& a) {
  std::string type = a.type.substr(0, a.type.find(';'));
  for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const std::set<std::string> kDrawn = {"image/jpeg",   "image/jpg",  "image/png",
                                               "image/gif",    "image/webp", "image/bmp",
                                               "image/svg+xml"};
  return !a.text && kDrawn.contains(type);
}

// Whether a link may open the file: only when its name's extension (which
// is how a browser takes a file from file://) is one of a picture, a sound,
// a film or a document that runs nothing; never one that a browser could
// open as a page of its own (.html, .xhtm, .shtm, .svg, .xml, .rss, ... or no
// extension at all, which it may sniff as one).
bool Openable(const std::string& name) {
  const size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const std::set<std::string> kInert = {
      "jpg",  "jpeg", "png",  "gif", "webp", "bmp", "heic", "heif", "avif", "tif",
      "tiff", "mp3",  "m4a",  "aac", "amr",  "awb", "ogg",  "oga",  "opus", "wav",
      "flac", "mid",  "midi", "3gp", "3gpp", "3g2", "mp4",  "m4v",  "mov",  "webm",
      "mkv",  "avi",  "vcf",  "vcs", "ics",  "txt", "csv",  "pdf",  "zip",  "doc",
      "docx", "xls",  "xlsx", "ppt", "pptx", "odt", "ods",  "odp",  "rtf"};
  return kInert.contains(ext);
}

// A file name as a relative URL: every byte but letters, digits and "-._~"
// percent-encoded, so that "#", "%" or "?" in a name stay part of it.
std::string UrlPath(const std::string& name) {
  std::string out;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) != 0 && c < 0x80) {
      out += ch;
    } else if (c == '-' || c == '.' || c == '_' || c == '~') {
      out += ch;
    } else {
      out += fmt::format("%{:02X}", c);
    }
  }
  return out;
}

std::string PageName(size_t conversation, size_t page) {
  return page == 1 ? fmt::format("c{}.html", conversation)
                   : fmt::format("c{}-{}.html", conversation, page);
}

// Up to `count` messages of the conversation from entry `from` on, whole,
// each with its entry's index; a message deleted since the grouping is left
// out.
std::vector<std::pair<size_t, Message>> ReadPage(Store& store, const Conversation& c, size_t from,
                                                 size_t count) {
  std::vector<Message> messages;
  std::vector<size_t> at;
  for (size_t i = from; i < c.entries.size() && i < from + count; ++i) {
    SmsHead h{};
    Check(GetZuSmsHead(*store, c.entries[i].id, &h),
          "reading message " + std::to_string(c.entries[i].id));
    if (h.id == 0) continue;
    messages.emplace_back().parts.push_back(h);
    at.push_back(i);
  }
  Complete(store, messages);
  std::vector<std::pair<size_t, Message>> page;
  for (size_t i = 0; i < messages.size(); ++i) page.emplace_back(at[i], std::move(messages[i]));
  return page;
}

// The links to the page before and after: a conversation's run from the
// earlier messages to the later, the index's from the newer people to the
// older.
std::string Nav(const std::string& up, const std::string& prev, const std::string& next,
                bool index = false) {
  std::string nav = "<nav>" + up;
  if (!prev.empty()) {
    nav +=
        " <a rel=\"prev\" href=\"" + prev + "\">\u2190 " + (index ? "newer" : "earlier") + "</a>";
  }
  if (!next.empty()) {
    nav += " <a rel=\"next\" href=\"" + next + "\">" + (index ? "older" : "later") + " \u2192</a>";
  }
  return nav + "</nav>\n";
}

// Where `text` (escaped) may be cut at about `at`: not within a character
// or a character reference.
size_t CutAt(const std::string& text, size_t at) {
  if (at >= text.size()) return text.size();
  while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
  const size_t amp = text.rfind('&', at);
  if (amp != std::string::npos && at - amp < 8 && text.find(';', amp) >= at) at = amp;
  return at;
}

// The pages of one conversation, written as they fill, each linked to the
// one before and after.
class ConversationPages {
 public:
  ConversationPages(ExportFolder& folder, MediaFiles& media, const Conversation& c, size_t n,
                    const PhoneNumbers& numbers, bool utc)
      : folder_(folder),
        media_(media),
        c_(c),
        n_(n),
        numbers_(numbers),
        utc_(utc),
        name_(ShownName(c.name)) {}

  // One message as a bubble: received at the left, sent at the right; its
  // text whole, in the direction its own letters give it, in pieces a page
  // each where it is long; a multimedia message's (`mm`) attachments after
  // it, and in a group who sent it.
  void Add(const Message& m, const std::optional<Multimedia>& mm, bool unread, const When& w) {
    if (full_ || in_page_ >= kPageMessages) Flush(false, false);
    ++count_;
    ++in_page_;
    const std::u16string text = m.Text();
    const std::string escaped = Escaped(mm && !(mm->text.empty() && mm->subject.empty())
                                            ? (mm->text.empty() ? mm->subject : mm->text)
                                            : Utf8(text.c_str(), text.size()),
                                        Kind::kText);
    std::vector<std::string_view> pieces;
    for (size_t at = 0; at < escaped.size() || pieces.empty();) {
      const size_t end =
          escaped.size() - at <= kPieceBytes ? escaped.size() : CutAt(escaped, at + kPieceBytes);
      pieces.push_back(std::string_view(escaped).substr(at, end - at));
      at = end;
    }
    const std::string side = IsSent(m.head()) ? "out" : "in";
    for (size_t k = 0; k < pieces.size(); ++k) {
      if (k > 0) Flush(false, true);
      if (!w.zone.empty()) zones_.insert(w.zone);  // each page names its zone
      Day(w.date);
      const std::string anchor = fmt::format("m{}-{}", m.id(), k + 1);
      body_ += "<div class=\"msg " + side + (k > 0 ? " cont" : "") + "\" dir=\"auto\"" +
               (pieces.size() > 1 ? " id=\"" + anchor + "\"" : "") + ">";
      if (k > 0) {
        body_ += fmt::format(
            "<p class=\"more\"><a href=\"{}#m{}-{}\">\u2190 continued from the previous "
            "page</a></p>",
            PageName(n_, page_ - 1), m.id(), k);
      }
      if (k == 0 && mm && !c_.members.empty() && !IsSent(m.head())) {
        for (const SmsMmsAddress& a : mm->addresses) {
          if (a.type != ZU_MMS_FROM) continue;
          const std::string address = Utf8(a.address), name = MemberName(numbers_.Key(address));
          body_ += "<p class=\"from\">" +
                   (name.empty() ? "" : "<bdi>" + Escaped(name) + "</bdi> ") +
                   "<bdi class=\"number\">" + Escaped(address, Kind::kCode) + "</bdi></p>";
        }
      }
      body_ += "<p class=\"text\">";
      if (!m.complete && k == 0) body_ += "<span class=\"flag\">[incomplete]</span> ";
      body_.append(pieces[k]);
      body_ += "</p>";
      if (k + 1 < pieces.size()) {
        body_ += fmt::format(
            "<p class=\"more\"><a href=\"{}#m{}-{}\">continued on the next page "
            "\u2192</a></p>",
            PageName(n_, page_ + 1), m.id(), k + 2);
      }
      if (k + 1 == pieces.size() && mm) Attachments(m.id(), *mm);
      body_ += "<p class=\"meta\">";
      if (IsDraft(m.head())) {
        body_ += "<span class=\"flag\">draft</span> ";
      } else if (IsUnsent(m.head())) {
        body_ += "<span class=\"flag\">unsent</span> ";
      }
      if (!w.iso.empty()) {
        body_ += "<time datetime=\"" + w.iso + "\">" + w.clock + "</time>";
      } else {
        body_ += "<span class=\"flag\">" + w.clock + "</span>";
      }
      if (unread) body_ += " <span class=\"flag\">unread</span>";
      body_ += "</p></div>\n";
    }
    if (body_.size() > kPageBytes) full_ = true;
  }

  // The last page.
  void Finish() { Flush(true, false); }

  size_t messages() const { return count_; }
  size_t pages() const { return page_ - 1; }

 private:
  // Pictures inline, other files as links with their type and size; a
  // file that would run as a document when opened is named, not linked.
  void Attachments(uint32_t id, const Multimedia& mm) {
    for (const Attachment& a : mm.attachments) {
      const std::string file = media_.Write(id, a);
      const std::string href = "media/" + UrlPath(file);
      const std::string about = Escaped(
          fmt::format("{}, {}", a.type.empty() ? "?" : a.type, ByteSize(a.bytes)), Kind::kCode);
      if (Picture(a)) {
        const std::string img = "<img src=\"" + href + "\" alt=\"" + Escaped(file, Kind::kCode) +
                                "\" title=\"" + about + "\">";
        body_ += Openable(file) ? "<a href=\"" + href + "\">" + img + "</a>" : img;
        continue;
      }
      body_ += "<p class=\"file\">";
      const std::string label = "<bdi>" + Escaped(file, Kind::kCode) + "</bdi>";
      body_ += Openable(file) ? "<a href=\"" + href + "\">" + label + "</a>" : label;
      body_ += " (" + about + ")</p>";
    }
  }

  // The name of the group's member `key`, or "".
  std::string MemberName(const std::string& key) const {
    const auto at = std::find(c_.members.begin(), c_.members.end(), key);
    const auto i = static_cast<size_t>(at - c_.members.begin());
    return i < c_.member_names.size() ? c_.member_names[i] : "";
  }

  void Day(const std::string& date) {
    if (date == day_) return;
    if (day_ != "\x01") body_ += "</section>\n";
    day_ = date;
    body_ += "<section class=\"day\"><h2>" + (day_.empty() ? std::string("unknown time") : day_) +
             "</h2>\n";
  }

  // Writes the page; `within` when a message goes on on the next one.
  void Flush(bool last, bool within) {
    if (day_ != "\x01") body_ += "</section>\n";
    const std::string number = c_.key.empty() ? "(no number)" : c_.key;
    const std::string group = MembersShown(c_.members, c_.member_names);
    const std::string who = !group.empty()  ? group
                            : name_.empty() ? number
                                            : name_ + " (" + number + ")";
    const std::string prev = page_ > 1 ? PageName(n_, page_ - 1) : "";
    const std::string next = last ? "" : PageName(n_, page_ + 1);
    const std::string up = "<a href=\"index.html\">All conversations</a>";
    std::string html = Head(page_ > 1 ? fmt::format("{} \u2013 page {}", who, page_) : who, false);
    html += "<body class=\"conversation\">\n<header>\n" + Nav(up, prev, next);
    html += name_.empty() && group.empty() ? "<h1>" : "<h1 class=\"named\">";
    if (!name_.empty()) html += "<bdi>" + Escaped(name_) + "</bdi> ";
    // Each member of a group (by its name and number) or of a number
    // written "a;b" on its own.
    std::vector<std::string> each = c_.members;
    for (size_t at = 0, end = 0; each.empty() && at <= number.size(); at = end + 1) {
      end = std::min(number.find_first_of(";,", at), number.size());
      if (end > at) each.push_back(number.substr(at, end - at));
    }
    if (each.empty()) each.push_back(number);
    for (size_t i = 0; i < each.size(); ++i) {
      // (a member known by no name stands by its number, as a name does)
      const std::string member = c_.members.empty() ? "" : MemberName(each[i]);
      html += std::string(i ? kMemberSeparator : "") +
              (member.empty() ? "" : "<bdi>" + Escaped(member) + "</bdi> ") +
              (member.empty() && !c_.members.empty() ? "<bdi class=\"number member\">"
                                                     : "<bdi class=\"number\">") +
              Escaped(each[i], Kind::kCode) + "</bdi>";
    }
    html += fmt::format("</h1>\n<p class=\"about\">messages {}\u2013{} of {}", first_, count_,
                        c_.entries.size());
    if (page_ > 1 || !last) html += fmt::format(", page {}", page_);
    const std::string zone_line = ZoneLine(zones_, utc_);
    if (!zone_line.empty()) html += "; " + Escaped(zone_line);
    html += "</p>\n</header>\n<main>\n" + body_ + "</main>\n<footer>\n" + Nav(up, prev, next) +
            "</footer>\n</body>\n</html>\n";
    folder_.Write(PageName(n_, page_), html);
    ++page_;
    first_ = within ? count_ : count_ + 1;
    in_page_ = within ? 1 : 0;
    body_.clear();
    zones_.clear();
    day_ = "\x01";
    full_ = false;
  }

  ExportFolder& folder_;
  MediaFiles& media_;
  const Conversation& c_;
  const size_t n_;
  const PhoneNumbers& numbers_;
  const bool utc_;
  const std::string name_;
  std::string body_, day_ = "\x01";  // "\x01": no day yet
  std::set<std::string> zones_;
  size_t page_ = 1, first_ = 1, count_ = 0, in_page_ = 0;
  bool full_ = false;
};

struct Written {
  size_t messages = 0, pages = 0;
};

// The pages of the conversation numbered `n`, read a page of messages at a
// time; the multimedia messages (`multimedia`, ids) with their parts.
Written WriteConversation(ExportFolder& folder, MediaFiles& media, Store& store,
                          const Conversation& c, size_t n, const UnreadHeads& unread,
                          const std::unordered_set<uint32_t>& multimedia,
                          const PhoneNumbers& numbers, bool utc) {
  ConversationPages pages(folder, media, c, n, numbers, utc);
  for (size_t at = 0; at < c.entries.size(); at += kPageMessages) {
    if (InterruptRequested()) throw Failure("interrupted: the export was not written");
    for (auto& [index, m] : ReadPage(store, c, at, kPageMessages)) {
      const std::optional<Multimedia> mm =
          multimedia.contains(m.id()) ? ReadMultimedia(store, m.id()) : std::nullopt;
      pages.Add(m, mm, unread.Unread(m), At(Utf8(m.head().recvtime), utc));
    }
  }
  pages.Finish();
  return {pages.messages(), pages.pages()};
}

std::string IndexName(size_t page) {
  return page == 1 ? "index.html" : fmt::format("index-{}.html", page);
}

// A JSON string that a data block holds safely: no "</" or "<!" to end it.
void JsonString(std::string& out, std::string_view text) {
  out += '"';
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      out += fmt::format("\\u{:04x}", c);
    } else if (c == '<' && i + 1 < text.size() && (text[i + 1] == '/' || text[i + 1] == '!')) {
      out += "\\u003c";
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

// The index: one row a person, newest first, in pages of bounded size
// linked in order. Each page holds, while they are not too many, the names
// and numbers of all people (a data block, never run), so that its filter
// finds a person on any page.
size_t WriteIndex(ExportFolder& folder, const std::vector<Conversation>& all, size_t messages,
                  bool utc) {
  // A person's row, made twice: once to measure the pages, once to write
  // them, so that one page of rows is held at a time, not all.
  std::set<std::string> zones;
  std::vector<std::string> nationals(all.size());
  auto digits_of = [](const std::string& key) {
    std::string digits;  // as the filter searches them, whatever marks the number holds
    for (const char d : key) {
      if (d >= '0' && d <= '9') digits += d;
    }
    return digits;
  };
  auto name_of = [](const Conversation& c) {
    // A group by its members' names, when any has one.
    std::string name =
        c.members.empty() ? ShownName(c.name) : MembersShown(c.members, c.member_names);
    if (name.empty() && !c.members.empty()) name = fmt::format("group of {}", c.members.size());
    return name;
  };
  auto row = [&](size_t i) {
    const Conversation& c = all[i];
    const When first = At(c.first, utc), last = At(c.last, utc);
    for (const When* w : {&first, &last}) {
      if (!w->zone.empty()) zones.insert(w->zone);
    }
    auto date = [](const When& w) {
      return w.date.empty() ? "<span class=\"flag\">" + w.clock + "</span>"
                            : w.date.substr(w.date.find(' ') + 1) + " <span class=\"clock\">" +
                                  w.clock + "</span>";
    };
    const std::string name = name_of(c);
    return fmt::format(
        "<tr><td><a href=\"{}\"><bdi>{}</bdi></a></td><td><bdi data-digits=\"{}\" "
        "data-national=\"{}\">{}</bdi></td>"
        "<td>{}<span class=\"unit\"> message{}</span></td><td>{}</td><td>{}</td><td>{}</td></tr>\n",
        PageName(i + 1, 1), Escaped(name.empty() ? "\u2014" : name), digits_of(c.key), nationals[i],
        c.key.empty() ? "(no number)" : Escaped(c.key, Kind::kCode), c.entries.size(),
        c.entries.size() == 1 ? "" : "s",
        c.unread ? std::to_string(c.unread) + "<span class=\"unit\"> unread</span>" : "",
        date(first), date(last));
  };
  std::string data = "[";
  std::vector<size_t> sizes;
  sizes.reserve(all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    const Conversation& c = all[i];
    nationals[i] = c.members.empty() ? NationalDigits(c.key) : "";
    sizes.push_back(row(i).size());
    // [name, number, national digits]; the page is the position. The
    // national digits as their count when they end the number's digits.
    data += i ? ",[" : "[";
    JsonString(data, name_of(c));
    data += ',';
    JsonString(data, c.key);
    if (digits_of(c.key).ends_with(nationals[i])) {
      data += "," + std::to_string(nationals[i].size()) + "]";
    } else {
      data += ",\"" + nationals[i] + "\"]";
    }
  }
  data += "]";
  const bool everyone = data.size() + kFewestRowBytes <= kIndexPageBytes;
  const size_t budget = everyone ? std::min(kRowBytes, kIndexPageBytes - data.size()) : kRowBytes;
  std::vector<size_t> starts = {0};  // each page's first row
  for (size_t i = 0, filled = 0; i < sizes.size(); filled += sizes[i++]) {
    if (filled > 0 && filled + sizes[i] > budget) {
      starts.push_back(i);
      filled = 0;
    }
  }
  starts.push_back(all.size());
  const size_t page_count = starts.size() - 1;
  for (size_t p = 1; p <= page_count; ++p) {
    std::string rows;
    for (size_t i = starts[p - 1]; i < starts[p]; ++i) rows += row(i);
    const std::string prev = p > 1 ? IndexName(p - 1) : "";
    const std::string next = p < page_count ? IndexName(p + 1) : "";
    std::string html = Head(p > 1 ? fmt::format("Messages \u2013 page {}", p) : "Messages", true);
    html += "<body class=\"index\">\n<header>\n";
    if (page_count > 1) html += Nav("", prev, next, true);
    html += "<h1>Messages</h1>\n";
    html += fmt::format("<p class=\"about\">{} in {}", Messages(messages),
                        Counted(all.size(), "conversation"));
    if (page_count > 1) html += fmt::format(", page {} of {}", p, page_count);
    const std::string zone_line = ZoneLine(zones, utc);
    if (!zone_line.empty()) html += "; " + Escaped(zone_line);
    html += fmt::format(
        "</p>\n<p class=\"filter\"><input id=\"filter\" type=\"search\" hidden "
        "placeholder=\"Filter {0}by name or number\" aria-label=\"Filter {0}by name or number\"> "
        "<output id=\"shown\"></output></p>\n</header>\n<main>\n",
        everyone || page_count == 1 ? "" : "this page ");
    html +=
        "<table id=\"people\">\n<thead><tr><th>Name</th><th>Number</th><th>Messages</th>"
        "<th>Unread</th><th>First</th><th>Last</th></tr></thead>\n<tbody>\n" +
        rows + "</tbody>\n</table>\n";
    if (everyone && page_count > 1) {
      html +=
          "<table id=\"found\" hidden>\n<thead><tr><th>Name</th><th>Number</th></tr></thead>\n"
          "<tbody></tbody>\n</table>\n<script type=\"application/json\" id=\"everyone\">" +
          data + "</script>\n";
    }
    html += "</main>\n";
    if (page_count > 1) html += "<footer>\n" + Nav("", prev, next, true) + "</footer>\n";
    html += std::string("<script>") + kFilterScript + "</script>\n</body>\n</html>\n";
    folder.Write(IndexName(p), html);
  }
  return page_count;
}

}  // namespace

HtmlReport ExportHtml(Store& store, const Options& o, const Selection& which,
                      const std::string& dir) {
  const InterruptGuard guard;
  ExportFolder folder(dir);
  const PhoneNumbers numbers = NumbersOf(store, o.region);
  const std::vector<Conversation> all = GroupByPerson(store, which, numbers);
  const UnreadHeads unread(store);
  const std::vector<uint32_t> ids = MultimediaIds(store);
  const std::unordered_set<uint32_t> multimedia(ids.begin(), ids.end());
  MediaFiles media(folder, store);
  HtmlReport r;
  for (size_t i = 0; i < all.size(); ++i) {
    const Written w =
        WriteConversation(folder, media, store, all[i], i + 1, unread, multimedia, numbers, o.utc);
    r.messages += w.messages;
    r.pages += w.pages;
  }
  r.pages += WriteIndex(folder, all, r.messages, o.utc);
  if (InterruptRequested()) throw Failure("interrupted: the export was not written");
  folder.Commit();
  r.conversations = all.size();
  r.bytes = folder.bytes;
  r.largest = folder.largest;
  return r;
}

}  // namespace zusms::cli
