#include "backup/Importer.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "text/Interrupt.h"

namespace zusms::cli {

namespace {

// The problems named, a line each, and how many more there are.
std::string Listed(const ImportReport& r) {
  std::string lines;
  for (const std::string& p : r.problems) lines += "\n  " + p;
  if (r.invalid > r.problems.size()) {
    lines += fmt::format("\n  ... and {} more", r.invalid - r.problems.size());
  }
  return lines;
}

}  // namespace

std::string Refusal(const ImportReport& r) {
  return fmt::format("nothing imported: {} of the file's records cannot be stored:", r.invalid) +
         Listed(r) +
         "\n(zusms import --skip-invalid FILE stores every valid record and reports the others)";
}

namespace {

// More than any real backup holds: a copy of standard input stops there
// (/dev/zero, endless input).
constexpr uint64_t kSpoolLimit = uint64_t{16} << 30;

// The free space of `folder` for this user, in bytes, when it can be told.
std::optional<uint64_t> FreeSpace(const std::string& folder) {
  struct statvfs vfs {};
  if (::statvfs(folder.c_str(), &vfs) != 0) return std::nullopt;
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

std::string Megabytes(uint64_t bytes) {
  return fmt::format("{:.1f} MB", static_cast<double>(bytes) / 1e6);
}

// The most a copy kept in `folder` may take: 16 GiB, or the free space less
// the room left for the store, which the import makes grow.
uint64_t SpoolLimit(const std::string& folder) {
  const uint64_t free = FreeSpace(folder).value_or(kSpoolLimit);
  return std::min(kSpoolLimit, free - std::min(free / 4, uint64_t{1} << 30));
}

// Why a copy of `what` in `folder` is not kept, with the folder's free
// space: nothing is imported.
Failure NotKept(const std::string& what, const std::string& folder, const std::string& why) {
  const auto free = FreeSpace(folder);
  return Failure(fmt::format(
      "{} could not be kept in a temporary file in {}{}: {}; nothing was imported", what, folder,
      free ? " (" + Megabytes(*free) + " free there)" : std::string(), why));
}

std::string LongerThan(uint64_t limit) {
  return fmt::format("it is longer than {}, more than {}", Megabytes(limit),
                     limit == kSpoolLimit ? "any backup holds" : "the free space allows");
}

// Where an unpacked backup goes: every write checked, and no further than
// the limit (a small file that unpacks without end).
struct Unpacking {
  std::string what;  // the packed file, unpacked
  const TemporaryFile& file;
  const std::string& folder;
  uint64_t limit, written = 0;
  void Write(const char* data, size_t n) {
    written += n;
    if (written > limit) throw NotKept(what, folder, LongerThan(limit));
    if (const int error = WriteAll(file.fd(), data, n)) {
      throw NotKept(what, folder, std::strerror(error));
    }
  }
};

// Files taken for a backup that are something else, known by their first
// bytes (text kinds after a byte order mark and white space).
struct OtherKind {
  std::string_view start;
  const char* what;
};
constexpr OtherKind kOtherKinds[] = {
    {"BEGIN:VCARD", "a vCard file (contacts), not a message backup"},
    {"BEGIN:VCALENDAR", "a calendar file, not a message backup"},
    {std::string_view("SQLite format 3\0", 16),
     "an SQLite database, not a backup (a zusms store is opened with --db PATH)"},
    {"%PDF", "a PDF document, not a message backup"},
    {"\x89PNG", "a PNG image, not a message backup"},
    {"\xFF\xD8\xFF", "a JPEG image, not a message backup"},
    {"BZh", "compressed with bzip2: unpack it first (bunzip2)"},
    {"\xFD"
     "7zXZ",
     "compressed with xz: unpack it first (unxz)"},
    {"\x28\xB5\x2F\xFD", "compressed with zstd: unpack it first (unzstd)"},
    {"7z\xBC\xAF\x27\x1C", "a 7-Zip archive: unpack it first"},
    {"Rar!", "a RAR archive: unpack it first"},
    {"\xFF\xFE", "text in UTF-16: save it as UTF-8 first"},
    {"\xFE\xFF", "text in UTF-16: save it as UTF-8 first"},
};
constexpr std::string_view kGzip = "\x1F\x8B", kZip = "PK\x03\x04";

std::string FirstBytes(const std::string& path, size_t n) {
  std::ifstream in(path, std::ios::binary);
  std::string head(n, '\0');
  in.read(head.data(), static_cast<std::streamsize>(n));
  head.resize(static_cast<size_t>(in.gcount()));
  return head;
}

void Gunzip(const std::string& path, const std::string& from, Unpacking& out) {
  // Closed however the unpacking ends (a write that fails throws).
  std::unique_ptr<gzFile_s, int (*)(gzFile)> file(gzopen(from.c_str(), "rb"), &gzclose);
  gzFile in = file.get();
  if (in == nullptr) throw Failure(path + ": " + std::strerror(errno));
  std::vector<char> buffer(1 << 16);
  int n = 0;
  while ((n = gzread(in, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
    out.Write(buffer.data(), static_cast<size_t>(n));
  }
  int status = Z_OK;
  const std::string why = gzerror(in, &status);
  file.reset();
  // A file cut short keeps what it holds; the import then finds it cut.
  if (status == Z_BUF_ERROR) {
    std::cerr << "zusms: " << path << ": the compressed data ends early; read up to there\n";
  } else if (n < 0 || status != Z_OK) {
    throw Failure(path + ": damaged gzip data (" + why + ")");
  }
}

bool IsBackupName(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), ::tolower);
  for (const std::string_view ext : {".xml", ".json"}) {
    if (name.size() > ext.size() && name.ends_with(ext)) return true;
  }
  return false;
}

// The backup file in a zip archive: its one .xml or .json file (or its only file).
void Unzip(const std::string& path, const std::string& from, Unpacking& out) {
  int error = 0;
  std::unique_ptr<zip_t, void (*)(zip_t*)> zip(zip_open(from.c_str(), ZIP_RDONLY, &error),
                                               zip_discard);
  if (!zip) throw Failure(path + ": not a zip archive that can be read");
  std::vector<zip_uint64_t> files, backups;
  std::string names;
  for (zip_int64_t i = 0; i < zip_get_num_entries(zip.get(), 0); ++i) {
    const char* name = zip_get_name(zip.get(), static_cast<zip_uint64_t>(i), 0);
    if (name == nullptr || std::string_view(name).ends_with("/")) continue;
    files.push_back(static_cast<zip_uint64_t>(i));
    if (IsBackupName(name)) backups.push_back(static_cast<zip_uint64_t>(i));
    names += (names.empty() ? "" : ", ") + std::string(name);
  }
  const std::vector<zip_uint64_t>& pick = backups.empty() ? files : backups;
  if (pick.size() != 1) {
    throw Failure(fmt::format("{}: a zip archive of {} ({}): unpack the one to import", path,
                              Counted(files.size(), "file"), names));
  }
  std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> opened(
      zip_fopen_index(zip.get(), pick.front(), 0), &zip_fclose);
  zip_file_t* file = opened.get();
  if (file == nullptr) throw Failure(path + ": " + zip_strerror(zip.get()));
  std::vector<char> buffer(1 << 16);
  zip_int64_t n = 0;
  while ((n = zip_fread(file, buffer.data(), buffer.size())) > 0) {
    out.Write(buffer.data(), static_cast<size_t>(n));
  }
  const std::string why = n < 0 ? zip_file_strerror(file) : "";
  opened.reset();
  if (n < 0) throw Failure(path + ": damaged zip archive (" + why + ")");
}

}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
  int source = STDIN_FILENO;
  if (path != "-") {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) throw Failure(path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw Failure(path + ": is a directory, not a backup file");
    source = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) throw Failure(path + ": " + std::strerror(errno));
    if (S_ISREG(st.st_mode)) {
      ::close(source);
      Recognise();
      return;
    }
  }
  // Standard input, a pipe or a device can be read once only: it is kept
  // in a private temporary file, read twice. Every write is checked: a copy
  // that is not whole stores nothing.
  // The copy has no name (it is read through its descriptor), so no end of
  // the process leaves it behind; Ctrl-C stops the copy even while standard
  // input is silent.
  const std::string folder = TemporaryFolder();
  const std::string what = path == "-" ? std::string("standard input") : path;
  spooled_ =
      std::make_unique<TemporaryFile>(folder + "/zusms-import-XXXXXX", TemporaryFile::kNameless);
  const auto fail = [&](const std::string& why) {
    if (source != STDIN_FILENO) ::close(source);
    spooled_.reset();
    throw NotKept(what, folder, why);
  };
  if (spooled_->error() != 0) fail(std::strerror(spooled_->error()));
  const uint64_t limit = SpoolLimit(folder);
  std::vector<char> chunk(1 << 16);
  uint64_t kept = 0;
  const InterruptGuard guard(true);
  for (;;) {
    const ssize_t n = ::read(source, chunk.data(), chunk.size());
    if (InterruptRequested()) {
      if (source != STDIN_FILENO) ::close(source);
      spooled_.reset();
      throw Failure("interrupted while keeping " + what +
                    " in a temporary file: nothing was imported; the store is as it was");
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(std::string("reading it: ") + std::strerror(errno));
    if (n == 0) break;
    kept += static_cast<uint64_t>(n);
    if (kept > limit) fail(LongerThan(limit));
    if (const int error = WriteAll(spooled_->fd(), chunk.data(), static_cast<size_t>(n))) {
      fail(std::strerror(error));
    }
  }
  if (source != STDIN_FILENO) ::close(source);
  source = STDIN_FILENO;
  Recognise();
}

void InputFile::Recognise() {
  const std::string from = spooled_ ? spooled_->path() : path_;
  const std::string head = FirstBytes(from, 64);
  const bool gzip = head.starts_with(kGzip), zip = head.starts_with(kZip);
  if (gzip || zip) {
    // Backup apps often write their files packed: read unpacked, once, into
    // a private temporary file.
    const std::string folder = TemporaryFolder();
    const std::string what = path_ + ", unpacked,";
    auto unpacked =
        std::make_unique<TemporaryFile>(folder + "/zusms-import-XXXXXX", TemporaryFile::kNameless);
    if (unpacked->error() != 0) throw NotKept(what, folder, std::strerror(unpacked->error()));
    Unpacking sink{what, *unpacked, folder, SpoolLimit(folder)};
    gzip ? Gunzip(path_, from, sink) : Unzip(path_, from, sink);
    spooled_ = std::move(unpacked);
  } else {
    std::string_view text(head);
    while (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const size_t start = text.find_first_not_of(" \t\r\n");
    text.remove_prefix(start == std::string_view::npos ? text.size() : start);
    for (const OtherKind& kind : kOtherKinds) {
      if (head.starts_with(kind.start) || text.starts_with(kind.start)) {
        throw Failure(fmt::format(
            "{}: {} (zusms imports a JSON export or SMS backup XML, also as .gz or .zip)", path_,
            kind.what));
      }
    }
  }
  std::ifstream in(spooled_ ? spooled_->path() : path_, std::ios::binary | std::ios::ate);
  size_ = static_cast<size_t>(std::max<std::streamoff>(0, in.tellg()));
}

InputFile::~InputFile() = default;

std::unique_ptr<std::istream> InputFile::Open() const {
  auto in = std::make_unique<std::ifstream>(spooled_ ? spooled_->path() : path_, std::ios::binary);
  if (!*in) throw Failure(path_ + ": " + std::strerror(errno));
  return in;
}

bool InputFile::LooksLikeXml() const {
  if (path_.size() > 4 && path_.substr(path_.size() - 4) == ".xml") return true;
  auto in = Open();
  char head[64] = {};
  in->read(head, sizeof head);
  const std::string_view start(head, static_cast<size_t>(in->gcount()));
  const auto first = start.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  return first != std::string_view::npos && start[first] == '<';
}

ImportReport Import(Store& store, const InputFile& file, const ImportOptions& o,
                    BackupFormat& format) {
  InterruptGuard guard;
  Importer import(store, file, o, format.MessagesHaveUuids());
  try {
    import.Verdict(format.CheckFile(import));
    import.StartAdding();
    format.AddFile(import);
    import.Finish();
  } catch (Interrupted& stop) {
    import.Stopped(stop);
    throw;
  }
  return import.report();
}

Importer::Importer(Store& store, const InputFile& file, const ImportOptions& o, bool by_uuid)
    : store_(store),
      file_(file),
      options_(o),
      progress_("importing", 2 * file.size(), o.progress),
      stored_(by_uuid),
      read_(by_uuid) {}

void Importer::Next() const {
  if (InterruptRequested()) throw Interrupted{0, read_.size(), !adding_};
}

void Importer::Stopped(Interrupted& stop) {
  batches_.reset();
  // What the store holds now, not what this import did: a message skipped
  // for one added earlier in the rolled back batch is not stored, and one
  // another import stored meanwhile is.
  stop.stored = read_.StoredIn(store_);
}

void Importer::Checked(const std::string& problem) {
  ++records_;
  if (!problem.empty()) Invalid(problem);
}

void Importer::Invalid(const std::string& problem) {
  ++report_.invalid;
  if (report_.problems.size() < kProblemsShown) report_.problems.push_back(problem);
}

void Importer::Verdict(const FirstPass& first) {
  if (!first.nothing.empty()) throw Failure(file_.path() + ": nothing imported: " + first.nothing);
  if (!first.cut.empty()) {
    if (!options_.skip_invalid) {
      ++report_.invalid;
      report_.problems.insert(report_.problems.begin(), first.cut);
    }
    report_.cut = first.cut;
  }
  if (report_.invalid > 0 && !options_.skip_invalid) throw Failure(Refusal(report_));
  if (records_ > 0 && report_.invalid >= records_) {
    throw Failure(file_.path() +
                  ": nothing imported: no record of the file can be stored:" + Listed(report_));
  }
}

void Importer::StartAdding() {
  // Ctrl-C while another writer keeps the first batch waiting ends the
  // wait: the store is as it was, as in the first pass.
  try {
    batches_.emplace(store_);
  } catch (const Failure&) {
    Next();
    throw;
  }
  adding_ = true;
  if (mms_) stored_.WithMms();
  read_.Clear();
  batch_ = 1;
}

void Importer::Rows(size_t n) {
  try {
    if (!batches_->Rows(n)) return;
  } catch (const Failure&) {
    Next();  // Ctrl-C ended the wait for the next batch
    throw;
  }
  ++batch_;
}

bool Importer::AddMessage(const Message& m, std::string_view what) {
  read_.Add(m);
  if (refreshed_ != batch_) {
    stored_.Refresh(store_);
    refreshed_ = batch_;
  }
  std::vector<SmsHead> parts = stored_.Missing(m);
  if (parts.empty()) {
    ++report_.skipped;
    return false;
  }
  for (SmsHead& part : parts) {
    uint32_t id = 0;
    const int32_t status = AddZuSmsHead(*store_, &part, &id);
    if (status != 0) Check(status, std::string(what));
    stored_.Added(id);
    if (m.unread) Check(SetZuSmsHeadRead(*store_, id, 0), std::string(what));
  }
  ++report_.added;
  Rows(parts.size());
  return true;
}

void Importer::SeenMms(const MmsRecord& m, const std::string& identity) {
  mms_ = true;
  read_.AddMms(identity, FieldText(m.head.recvtime, std::size(m.head.recvtime)));
}

bool Importer::AddMms(MmsRecord& m, const std::string& identity, std::string_view what) {
  const std::u16string_view time = FieldText(m.head.recvtime, std::size(m.head.recvtime));
  read_.AddMms(identity, time);
  if (refreshed_ != batch_) {
    stored_.Refresh(store_);
    refreshed_ = batch_;
  }
  if (stored_.HasMms(store_, identity, time, m.head.uuid)) {
    ++report_.skipped;
    return false;
  }
  const uint32_t id = StoreMms(store_, m, std::string(what));
  stored_.Added(id);
  if (m.unread) Check(SetZuSmsHeadRead(*store_, id, 0), std::string(what));
  ++report_.added;
  ++report_.mms;
  // A batch holds about a thousand rows, a part's every 64 KiB of data
  // counting as one: a batch of photos stays some 64 MB.
  size_t rows = 1 + m.attrs.size() + m.addrs.size();
  for (const MmsPart& p : m.parts) rows += 1 + p.data.size / (64 << 10);
  Rows(rows);
  return true;
}

void Importer::AddRecord(const std::function<bool()>& add) {
  if (!add()) {
    ++report_.records_skipped;
    return;
  }
  ++report_.records_added;
  Rows(1);
}

}  // namespace zusms::cli
