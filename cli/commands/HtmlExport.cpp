// export --format html: the selected messages as a folder of web pages that
// open in any browser without a network or a server. index.html lists the
// people, newest first, with a filter box (filter.js); each conversation is
// a chain of pages of at most kPageMessages messages, oldest first, linked
// in order. Every text from the store is escaped, and every page carries a
// Content-Security-Policy that lets it load nothing but the folder's own
// stylesheet (and, for the index, its own script): a message cannot run or
// fetch anything, whatever it holds.
#include <dirent.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Command.h"
#include "Selecting.h"
#include "model/Conversations.h"
#include "model/ReadState.h"
#include "model/Region.h"
#include "text/Interrupt.h"

namespace zusms::cli {

namespace {

// A conversation page holds at most this many messages, and is closed once
// its text passes kPageBytes (a message is never cut), so that a
// conversation of 50,000 messages opens fast and no page grows past a few
// megabytes but by one very long message.
constexpr size_t kPageMessages = 2000;
constexpr size_t kPageBytes = 1 << 20;

// The policies: nothing but the folder's own files, no inline script or
// style, no base, no form, no frame.
constexpr const char* kPagePolicy =
    "default-src 'none'; style-src 'self'; img-src 'self'; base-uri 'none'; form-action 'none'";
constexpr const char* kIndexPolicy =
    "default-src 'none'; style-src 'self'; script-src 'self'; base-uri 'none'; "
    "form-action 'none'";

// Appends `text` as HTML text or attribute value: the markup characters as
// references, control characters that HTML does not allow (all C0 but tab
// and line feed, DEL, C1) as U+FFFD. The text is valid UTF-8 (Utf8 makes it
// so).
void Escape(std::string& out, std::string_view text) {
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
      case '\n':
        out += static_cast<char>(c);
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\uFFFD";
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) < 0xA0) {
          out += "\uFFFD";  // U+0080 to U+009F
          ++i;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
}

std::string Escaped(std::string_view text) {
  std::string out;
  Escape(out, text);
  return out;
}

// The zone local times are in, by name where the system says it
// ("Europe/Berlin"), else "".
std::string ZoneName() {
  std::string tz;
  if (const char* env = std::getenv("TZ"); env && *env) {
    tz = env[0] == ':' ? env + 1 : env;
  } else {
    char link[PATH_MAX];
    const ssize_t n = ::readlink("/etc/localtime", link, sizeof link - 1);
    if (n > 0) tz.assign(link, static_cast<size_t>(n));
  }
  const size_t at = tz.find("zoneinfo/");
  return at == std::string::npos ? tz : tz.substr(at + 9);
}

// A message's time as the pages show it.
struct When {
  std::string date;  // "Friday 2024-03-01": the day's heading; "" for no time
  std::string clock, iso, zone;
};

When At(std::string_view time_text, bool utc) {
  When w;
  const int64_t seconds = ParseTimeText(time_text);
  if (seconds < 0) {
    w.clock = std::string(time_text);
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
    // none ("+03") or says no more ("UTC").
    const long off = tm.tm_gmtoff;
    const std::string abbreviation = tm.tm_zone ? tm.tm_zone : "";
    w.zone = fmt::format("UTC{}{:02}:{:02}", off < 0 ? '-' : '+', std::abs(off) / 3600,
                         std::abs(off) % 3600 / 60);
    if (!abbreviation.empty() && std::isalpha(static_cast<unsigned char>(abbreviation[0])) &&
        abbreviation != "UTC" && abbreviation != "GMT") {
      w.zone = abbreviation + ", " + w.zone;
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

std::string Head(const std::string& title, const char* policy) {
  return fmt::format(
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"{}\">\n"
      "<meta name=\"referrer\" content=\"no-referrer\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>{}</title>\n<link rel=\"stylesheet\" href=\"style.css\">\n</head>\n",
      policy, Escaped(title));
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
    ::rmdir(temporary_.c_str());
  }
  ExportFolder(const ExportFolder&) = delete;
  ExportFolder& operator=(const ExportFolder&) = delete;

  // A file of the export (0600: it holds message text).
  void Write(const std::string& name, std::string_view text) {
    const std::string path = temporary_ + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) Fail(errno);
    names_.push_back(name);
    int error = WriteAll(fd, text.data(), text.size());
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) Fail(error);
    bytes += text.size();
    if (text.size() > largest) largest = text.size();
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
  std::vector<std::string> names_;
  bool done_ = false;
};

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

// One message as a bubble: received at the left, sent at the right; its
// text whole, in the direction its own letters give it.
void Bubble(std::string& out, const Message& m, bool unread, const When& w) {
  const std::u16string text = m.Text();
  out += IsSent(m.head()) ? "<div class=\"msg out\" dir=\"auto\">"
                          : "<div class=\"msg in\" dir=\"auto\">";
  out += "<p class=\"text\">";
  if (!m.complete) out += "<span class=\"flag\">[incomplete]</span> ";
  Escape(out, Utf8(text.c_str(), text.size()));
  out += "</p>";
  // The parts of a multimedia message (pictures inline from media/, other
  // files as links with their size) will go here, once the store keeps them.
  out += "<p class=\"meta\">";
  if (!w.iso.empty()) {
    out += "<time datetime=\"" + w.iso + "\">" + w.clock + "</time>";
  } else {
    Escape(out, w.clock);
  }
  if (unread) out += " <span class=\"flag\">unread</span>";
  out += "</p></div>\n";
}

std::string Nav(const std::string& prev, const std::string& next) {
  std::string nav = "<nav><a href=\"index.html\">All conversations</a>";
  if (!prev.empty()) nav += " <a rel=\"prev\" href=\"" + prev + "\">\u2190 earlier</a>";
  if (!next.empty()) nav += " <a rel=\"next\" href=\"" + next + "\">later \u2192</a>";
  return nav + "</nav>\n";
}

struct Written {
  size_t messages = 0, pages = 0;
};

// The pages of the conversation numbered `n`, a page of messages at a time.
Written WriteConversation(ExportFolder& folder, Store& store, const Conversation& c, size_t n,
                          const UnreadHeads& unread, bool utc) {
  const std::string who = c.name.empty() ? c.key : c.name + " (" + c.key + ")";
  Written done;
  size_t at = 0;
  do {
    if (InterruptRequested()) throw Failure("interrupted: the export was not written");
    const size_t page = done.pages + 1, first = done.messages + 1;
    std::string body;
    std::set<std::string> zones;
    std::string day = "\x01";  // no day yet
    size_t next = std::min(at + kPageMessages, c.entries.size());
    for (auto& [index, m] : ReadPage(store, c, at, kPageMessages)) {
      const When w = At(Utf8(m.head().recvtime), utc);
      if (!w.zone.empty()) zones.insert(w.zone);
      if (w.date != day) {
        body += day == "\x01" ? "" : "</section>\n";
        day = w.date;
        body += "<section class=\"day\"><h2>" + (day.empty() ? std::string("no date") : day) +
                "</h2>\n";
      }
      Bubble(body, m, unread.Unread(m), w);
      ++done.messages;
      if (body.size() > kPageBytes) {
        next = index + 1;
        break;
      }
    }
    if (day != "\x01") body += "</section>\n";
    at = next;
    ++done.pages;
    const std::string prev = page > 1 ? PageName(n, page - 1) : "";
    const std::string later = at < c.entries.size() ? PageName(n, page + 1) : "";
    std::string html =
        Head(page > 1 ? fmt::format("{} \u2013 page {}", who, page) : who, kPagePolicy);
    html += "<body class=\"conversation\">\n<header>\n" + Nav(prev, later);
    html += "<h1><bdi>" + Escaped(c.name.empty() ? c.key : c.name) + "</bdi>";
    if (!c.name.empty()) html += " <bdi class=\"number\">" + Escaped(c.key) + "</bdi>";
    html += fmt::format("</h1>\n<p class=\"about\">messages {}\u2013{} of {}", first, done.messages,
                        c.entries.size());
    if (page > 1 || !later.empty()) html += fmt::format(", page {}", page);
    const std::string zone_line = ZoneLine(zones, utc);
    if (!zone_line.empty()) html += "; " + Escaped(zone_line);
    html += "</p>\n</header>\n<main>\n" + body + "</main>\n<footer>\n" + Nav(prev, later) +
            "</footer>\n</body>\n</html>\n";
    folder.Write(PageName(n, page), html);
  } while (at < c.entries.size());
  return done;
}

void WriteIndex(ExportFolder& folder, const std::vector<Conversation>& all, size_t messages,
                bool utc) {
  std::string rows;
  std::set<std::string> zones;
  for (size_t i = 0; i < all.size(); ++i) {
    const Conversation& c = all[i];
    const When first = At(c.first, utc), last = At(c.last, utc);
    for (const When* w : {&first, &last}) {
      if (!w->zone.empty()) zones.insert(w->zone);
    }
    auto date = [](const When& w) {
      return w.date.empty() ? Escaped(w.clock)
                            : w.date.substr(w.date.find(' ') + 1) + " <span class=\"clock\">" +
                                  w.clock + "</span>";
    };
    rows += fmt::format(
        "<tr><td><a href=\"{}\"><bdi>{}</bdi></a></td><td><bdi>{}</bdi></td>"
        "<td>{}<span class=\"unit\"> message{}</span></td><td>{}</td><td>{}</td><td>{}</td></tr>\n",
        PageName(i + 1, 1), Escaped(c.name.empty() ? "\u2014" : c.name), Escaped(c.key),
        c.entries.size(), c.entries.size() == 1 ? "" : "s",
        c.unread ? std::to_string(c.unread) + "<span class=\"unit\"> unread</span>" : "",
        date(first), date(last));
  }
  std::string html = Head("Messages", kIndexPolicy);
  html += "<body class=\"index\">\n<header>\n<h1>Messages</h1>\n";
  html += fmt::format("<p class=\"about\">{} in {}", Messages(messages),
                      Counted(all.size(), "conversation"));
  const std::string zone_line = ZoneLine(zones, utc);
  if (!zone_line.empty()) html += "; " + Escaped(zone_line);
  html +=
      "</p>\n<p class=\"filter\"><input id=\"filter\" type=\"search\" hidden "
      "placeholder=\"Filter by name or number\" aria-label=\"Filter by name or number\"> "
      "<output id=\"shown\"></output></p>\n</header>\n<main>\n"
      "<table id=\"people\">\n<thead><tr><th>Name</th><th>Number</th><th>Messages</th>"
      "<th>Unread</th><th>First</th><th>Last</th></tr></thead>\n<tbody>\n" +
      rows + "</tbody>\n</table>\n</main>\n<script src=\"filter.js\"></script>\n</body>\n</html>\n";
  folder.Write("index.html", html);
}

// The folder's one script: the index's filter. It reads the rows' text
// (never markup), hides the rows that do not hold every word typed (case
// and accents ignored; digits also as a number written with blanks or
// dashes), and takes a first query from the address (index.html#q=WORDS).
constexpr const char* kFilterScript = R"js("use strict";
(function () {
  var box = document.getElementById("filter");
  var shown = document.getElementById("shown");
  var rows = Array.prototype.slice.call(document.querySelectorAll("#people tbody tr"));
  function fold(s) {
    return s.normalize("NFD").replace(/\p{M}/gu, "").toLowerCase();
  }
  var texts = rows.map(function (r) {
    var t = r.cells[0].textContent + " " + r.cells[1].textContent;
    return { words: fold(t), digits: t.replace(/\D/g, "") };
  });
  function apply() {
    var words = fold(box.value).split(/\s+/).filter(Boolean);
    var n = 0;
    rows.forEach(function (r, i) {
      var ok = words.every(function (w) {
        var d = /^[\d+()\-.]+$/.test(w) ? w.replace(/\D/g, "") : "";
        return texts[i].words.indexOf(w) >= 0 || (d !== "" && texts[i].digits.indexOf(d) >= 0);
      });
      r.hidden = !ok;
      if (ok) n++;
    });
    shown.textContent = words.length ? n + " of " + rows.length : "";
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

// The folder's stylesheet: bubbles, day headings, long words wrapped, and
// for print a clean document broken between days where it can be.
constexpr const char* kStyle = R"css(:root { color-scheme: light; }
body { margin: 0 auto; max-width: 46rem; padding: 0 1rem 2rem; background: #eef0f3;
  color: #16181c; font: 16px/1.4 system-ui, -apple-system, "Segoe UI", "Noto Sans", sans-serif;
  overflow-wrap: anywhere; }
header { padding: .75rem 0; }
h1 { font-size: 1.4rem; margin: .4rem 0; }
h1 .number { font-weight: normal; color: #555; font-size: 1rem; margin-left: .5rem; }
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
.msg img { max-width: 100%; height: auto; display: block; }
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
.unit { display: none; }
td:nth-child(3), td:nth-child(4) { text-align: end; }
th, td:nth-child(n+2) { white-space: nowrap; overflow-wrap: normal; }
@media (max-width: 40rem) {
  body { padding: 0 .5rem 1rem; }
  .msg { max-width: 88%; }
  table { font-size: .8rem; }
  th, td { padding: .35rem .25rem; }
  table, tbody { display: block; }
  thead, td:nth-child(5), td .clock { display: none; }
  tr { display: grid; grid-template-columns: 1fr auto auto; column-gap: .6rem;
    padding: .45rem .5rem; border-bottom: 1px solid #e2e4e8; }
  td { border: 0; padding: 0; }
  td:nth-child(1) { grid-area: 1 / 1 / 2 / 3; font-size: .95rem; }
  td:nth-child(6) { grid-area: 1 / 3; text-align: end; color: #555; }
  td:nth-child(2) { grid-area: 2 / 1; color: #555; }
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

}  // namespace

HtmlReport ExportHtml(Store& store, const Options& o, const Selection& which,
                      const std::string& dir) {
  ExportFolder folder(dir);
  const InterruptGuard guard;
  const std::vector<Conversation> all = GroupByPerson(store, which, NumbersOf(store, o.region));
  const UnreadHeads unread(store);
  HtmlReport r;
  for (size_t i = 0; i < all.size(); ++i) {
    const Written w = WriteConversation(folder, store, all[i], i + 1, unread, o.utc);
    r.messages += w.messages;
    r.pages += w.pages;
  }
  WriteIndex(folder, all, r.messages, o.utc);
  folder.Write("style.css", kStyle);
  folder.Write("filter.js", kFilterScript);
  if (InterruptRequested()) throw Failure("interrupted: the export was not written");
  folder.Commit();
  r.conversations = all.size();
  r.bytes = folder.bytes;
  r.largest = folder.largest;
  return r;
}

}  // namespace zusms::cli
