// export, import: backups of the user's store.
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <streambuf>
#include <utility>

#include "Command.h"
#include "Selecting.h"
#include "backup/Interchange.h"
#include "model/Folders.h"
#include "model/Region.h"
#include "model/Selection.h"
#include "text/Interrupt.h"
#include "text/Print.h"

namespace zusms::cli {

namespace {

// Bytes to a file descriptor; the first write that fails is kept, with its
// errno, and nothing more is written after it.
class FdBuffer : public std::streambuf {
 public:
  explicit FdBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Drain() ? 0 : -1; }

 private:
  bool Drain() {
    if (error_ == 0) error_ = WriteAll(fd_, pbase(), static_cast<size_t>(pptr() - pbase()));
    setp(buffer_, buffer_ + sizeof buffer_);
    return error_ == 0;
  }
  int fd_;
  int error_ = 0;
  char buffer_[1 << 16];
};

// The export's file. It holds message text: a file the export creates is
// the owner's alone (0600 whatever the umask), also where the path is a link
// to a missing file (followed, as the store follows one to its own file); a
// file that exists keeps its mode. The text goes to a temporary file beside
// the target, which replaces the target only once all of it is on disk: an
// export that fails (a full disk, a file-size limit, Ctrl-C) leaves the file
// that was there as it was, and no temporary file behind. A target that is
// no regular file (/dev/null, a pipe) is written in place.
class ExportFile {
 public:
  explicit ExportFile(const std::string& path) : path_(path), target_(FollowLinks(path)) {
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) throw Failure(path + ": is a directory");
      if (!S_ISREG(st.st_mode)) {
        fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) Fail(errno);
        buffer_ = std::make_unique<FdBuffer>(fd_);
        return;
      }
      mode_ = st.st_mode & 07777;
      owner_ = {st.st_uid, st.st_gid};
    }
    const size_t slash = target_.rfind('/');
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    temporary_ = std::make_unique<TemporaryFile>(Folder() + "/." + name + ".XXXXXX");
    if (temporary_->error() != 0) Fail(temporary_->error());
    fd_ = temporary_->fd();
    buffer_ = std::make_unique<FdBuffer>(fd_);
  }
  ~ExportFile() {
    if (!temporary_ && fd_ >= 0) ::close(fd_);
  }
  ExportFile(const ExportFile&) = delete;
  ExportFile& operator=(const ExportFile&) = delete;

  std::streambuf* buffer() { return buffer_.get(); }

  // Flushes, makes the text durable and puts it in place; a Failure with
  // the system's reason when any of that fails.
  void Commit() {
    if (buffer_->pubsync() != 0) Fail(buffer_->error());
    if (!temporary_) return;
    if (::fsync(fd_) != 0) Fail(errno);
    // Only root may give a file away; for anybody else the new file stays
    // theirs, as a file they wrote anew would.
    if (owner_ && ::fchown(fd_, owner_->first, owner_->second) != 0 && errno != EPERM) {
      Fail(errno);
    }
    if (mode_ && ::fchmod(fd_, *mode_) != 0) Fail(errno);
    fd_ = -1;
    if (const int error = temporary_->Close(); error != 0) Fail(error);
    if (::rename(temporary_->path().c_str(), target_.c_str()) != 0) Fail(errno);
    temporary_->Keep();
    const int dir = ::open(Folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);  // the rename itself survives a power cut
      ::close(dir);
    }
  }

 private:
  std::string Folder() const {
    const size_t slash = target_.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : target_.substr(0, slash);
  }
  [[noreturn]] void Fail(int error) const {
    throw Failure(path_ + ": " + std::strerror(error == 0 ? EIO : error) +
                  " (the export was not written)");
  }
  // The file a chain of symbolic links ends at, whether it exists or not.
  static std::string FollowLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
      struct stat st {};
      if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
      std::string to(PATH_MAX, '\0');
      const ssize_t n = ::readlink(path.c_str(), to.data(), to.size());
      if (n <= 0) return path;
      to.resize(static_cast<size_t>(n));
      const size_t slash = path.rfind('/');
      path = to[0] == '/' || slash == std::string::npos ? to : path.substr(0, slash + 1) + to;
    }
    return path;
  }

  std::string path_, target_;
  std::unique_ptr<TemporaryFile> temporary_;
  std::optional<mode_t> mode_;                    // of the file that was there
  std::optional<std::pair<uid_t, gid_t>> owner_;  // ... and its owner
  int fd_ = -1;
  std::unique_ptr<FdBuffer> buffer_;
};

// Counts the bytes that pass to another buffer.
class CountingOutput : public std::streambuf {
 public:
  explicit CountingOutput(std::streambuf* to) : to_(to) {}
  uint64_t bytes() const { return bytes_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    ++bytes_;
    return to_->sputc(traits_type::to_char_type(c));
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const std::streamsize written = to_->sputn(s, n);
    bytes_ += static_cast<uint64_t>(written);
    return written;
  }
  int sync() override { return to_->pubsync(); }

 private:
  std::streambuf* to_;
  uint64_t bytes_ = 0;
};

// The verb after a count of things: "1 record was", "2 records were".
const char* Were(size_t n) { return n == 1 ? "was" : "were"; }

void PrintImport(const Options& o, const ImportReport& r, bool xml) {
  if (o.json) {
    Json j{{"added", r.added}, {"updated", r.updated}, {"skipped", r.skipped}};
    j["invalid"] = r.invalid;
    j["problems"] = r.problems;
    if (!xml) {
      j["otherRecords"] = {{"added", r.records_added}, {"skipped", r.records_skipped}};
      if (r.recovered > 0)
        j["recovered"] = {{"records", r.recovered}, {"folder", r.recovered_into}};
      if (!r.cut.empty()) j["cut"] = r.cut;
    } else {
      j["mms"] = r.mms;
      j["namesCut"] = r.names_cut;
      j["otherElements"] = r.others;
      if (!r.cut.empty()) j["cut"] = r.cut;
    }
    PrintJson(j);
    return;
  }
  std::cout << fmt::format("imported: {} added{}, {} already there", Counted(r.added, "message"),
                           r.mms > 0 ? fmt::format(" ({} multimedia)", r.mms) : "", r.skipped);
  if (!xml) {
    std::cout << fmt::format("; {} added, {} updated, {} already there",
                             Counted(r.records_added, "other record"), r.updated,
                             r.records_skipped);
  }
  std::cout << "\n";
  if (r.recovered > 0) {
    std::cout << fmt::format(
        "{} of folder numbers that neither the file nor the store has {} put in folder {} ({})\n",
        Counted(r.recovered, "message record"), Were(r.recovered), r.recovered_into, kRecovered);
  }
  for (const std::string& p : r.problems) std::cout << "skipped " << OneLine(p) << "\n";
  if (r.invalid > r.problems.size()) {
    std::cout << fmt::format("... and {} more\n", r.invalid - r.problems.size());
  }
  if (r.invalid > 0) std::cout << Counted(r.invalid, "invalid record") << " skipped\n";
  if (!r.cut.empty()) {
    std::cout << "the file is cut or malformed there, the rest of it was not read: "
              << OneLine(r.cut) << "\n";
  }
  for (const auto& [name, n] : r.others) {
    std::cout << Counted(n, "<" + OneLine(name) + "> element") << " not imported\n";
  }
  if (r.names_cut > 0) {
    // The field holds 39 UTF-16 units: a name with an emoji at its end is
    // cut to 38 when the emoji would not fit whole.
    std::cout << Counted(r.names_cut, "contact name")
              << " cut at a character boundary to fit the name field (39 UTF-16 units; an emoji "
                 "takes two)\n";
  }
}

}  // namespace

void AddBackupCommands(Commands& c) {
  const Options& o = c.options();
  struct ExportOptions {
    std::string format = "json", path = "-", to;
    bool excel = false;
    SelectionOptions which;
  };
  auto ex = std::make_shared<ExportOptions>();
  auto* export_cmd = c.app().add_subcommand(
      "export", "write the user's store as JSON, or messages as XML, CSV, text or web pages");
  export_cmd
      ->add_option("--format", ex->format,
                   "json (everything), xml (messages, for phones), csv (a row per message, "
                   "oldest first), txt (one conversation after another, for a letter) or html "
                   "(web pages, a page chain per conversation, into the folder --to names)")
      ->check(CLI::IsMember({"json", "xml", "csv", "txt", "html"}));
  export_cmd->add_option("--to", ex->to,
                         "html: the folder to write (made; an existing one must be empty)");
  export_cmd->add_flag("--excel", ex->excel,
                       "csv for spreadsheets: a byte order mark, CRLF, and a leading ' on a "
                       "field that would start a formula (= + - @)");
  export_cmd->add_option("--output,-o", ex->path, "file (default: standard output)");
  ex->which.Declare(export_cmd, false);
  c.On(export_cmd, [&o, ex](Store& s) {
    const bool readable = ex->format == "csv" || ex->format == "txt";
    if (ex->excel && ex->format != "csv") throw CLI::ValidationError("--excel is for --format csv");
    if (ex->format == "html" && (ex->to.empty() || ex->path != "-")) {
      throw CLI::ValidationError("--format html writes a folder: give --to DIR (and no --output)");
    }
    if (ex->format != "html" && !ex->to.empty()) {
      throw CLI::ValidationError("--to DIR is for --format html; --format " + ex->format +
                                 " writes a file: give --output FILE (or none: standard output)");
    }
    // The readable forms give local times: a TZ the system does not know
    // leaves them in UTC, which is said rather than hidden.
    if ((readable || ex->format == "html") && !o.utc && !ZoneKnown()) {
      std::cerr << fmt::format("zusms: TZ \"{}\" is not a known time zone: times are in UTC\n",
                               OneLine(std::getenv("TZ")));
    }
    if (ex->format == "html") {
      const HtmlReport r = ExportHtml(s, o, ex->which.Resolve(s, o), ex->to);
      std::cerr << fmt::format(
          "exported {} in {} as html, {} ({}; the largest {}), to {}/index.html\n",
          Messages(r.messages), Counted(r.conversations, "conversation"), Counted(r.pages, "file"),
          Counted(r.bytes, "byte"), Counted(r.largest, "byte"), OneLine(ex->to));
      return;
    }
    // A selection writes its messages only (JSON: and the other records).
    std::optional<HeadIds> only;
    if (ex->which.Given() && !readable) {
      only.emplace();
      ForEachSelected(s, ex->which.Resolve(s, o), [&](Message&& m) {
        for (const SmsHead& p : m.parts) only->insert(p.id);
      });
    }
    const HeadIds* selected = only ? &*only : nullptr;
    std::unique_ptr<ExportFile> file;
    if (ex->path != "-") file = std::make_unique<ExportFile>(ex->path);
    CountingOutput counted(file ? file->buffer() : std::cout.rdbuf());
    std::ostream out(&counted);
    const bool xml = ex->format == "xml";
    ExportReport r;
    if (readable) {
      r.messages = ExportReadable(s, o, ex->which.Resolve(s, o), ex->format, ex->excel, out);
    } else {
      r = xml ? ExportXml(s, out, ProgressWanted(), selected) : ExportJson(s, out, selected);
    }
    if (file) {
      out.flush();
      file->Commit();
    } else if (!out.flush() || !std::cout.flush()) {
      throw Failure(std::string("writing the export failed: ") + std::strerror(errno));
    }
    const std::string where = file ? OneLine(ex->path) : "standard output";
    if (readable) {
      std::cerr << fmt::format("exported {} as {}, {}, to {}\n", Messages(r.messages), ex->format,
                               Counted(counted.bytes(), "byte"), where);
    } else if (xml) {
      std::cerr << fmt::format("exported {} (XML keeps messages only), {}, to {}\n",
                               Messages(r.messages), Counted(counted.bytes(), "byte"), where);
    } else {
      std::cerr << fmt::format("exported {}, {} and {}, {}, to {}\n", Messages(r.messages),
                               Counted(r.folders, "folder"), Counted(r.records, "other record"),
                               Counted(counted.bytes(), "byte"), where);
    }
    if (r.replaced > 0) {
      std::cerr << fmt::format("{} that XML 1.0 cannot carry {} written as U+FFFD\n",
                               Counted(r.replaced, "character"), Were(r.replaced));
    }
    if (r.left_out > 0) {
      std::cerr << fmt::format(
          "{} of multimedia messages left out: named as XML allows no name, or a second time "
          "(the JSON export keeps them)\n",
          Counted(r.left_out, "attribute"));
    }
  });

  auto input = std::make_shared<std::string>();
  auto skip_invalid = std::make_shared<bool>(false);
  auto* import_cmd =
      c.app().add_subcommand("import", "read a JSON export or an SMS backup XML file");
  import_cmd->add_option("FILE", *input, "the file, or - for standard input")->required();
  import_cmd->add_flag("--skip-invalid", *skip_invalid,
                       "store every valid record and report the others");
  c.On(import_cmd, [&o, input, skip_invalid](Store& s) {
    const InputFile file(*input);
    const bool xml = file.LooksLikeXml();
    try {
      const ImportOptions options{*skip_invalid, ProgressWanted()};
      const ImportReport r = xml ? ImportXml(s, file, options) : ImportJson(s, file, options);
      PrintImport(o, r, xml);
      RefreshSearch(s, ProgressWanted());
      SettleRegionAfterImport(s, o.region, *input != "-");
      if (r.invalid > 0 || !r.cut.empty()) throw ImportIncomplete{};
    } catch (const Interrupted& stop) {
      const std::string stored =
          fmt::format("{} of the file {} stored, of the first {} read",
                      Counted(stop.stored, "message"), stop.stored == 1 ? "is" : "are", stop.read);
      if (stop.checking) {
        throw Failure("interrupted while checking the file, before anything was added: " + stored +
                      "; the store is as it was; running the same import again imports it");
      }
      throw Failure("interrupted: " + stored +
                    "; the batch in progress was rolled back; running the same import again "
                    "completes it");
    }
  });
}

}  // namespace zusms::cli
