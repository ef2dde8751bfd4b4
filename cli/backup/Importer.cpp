#include "backup/Importer.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "text/Interrupt.h"

namespace zusms::cli {

std::string Refusal(const ImportReport& r) {
  std::string message =
      fmt::format("nothing imported: {} of the file's records cannot be stored:", r.invalid);
  for (const std::string& p : r.problems) message += "\n  " + p;
  if (r.invalid > r.problems.size()) {
    message += fmt::format("\n  ... and {} more", r.invalid - r.problems.size());
  }
  return message +
         "\n(zusms import --skip-invalid FILE stores every valid record and reports the others)";
}

namespace {

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

// A private temporary file for the import to read.
std::string TemporaryFile() {
  char name[] = "/tmp/zusms-import-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) throw Failure(std::string("a temporary file: ") + std::strerror(errno));
  close(fd);
  return name;
}

void Gunzip(const std::string& path, const std::string& from, std::ostream& out) {
  gzFile in = gzopen(from.c_str(), "rb");
  if (in == nullptr) throw Failure(path + ": " + std::strerror(errno));
  std::vector<char> buffer(1 << 16);
  int n = 0;
  while ((n = gzread(in, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
    out.write(buffer.data(), n);
  }
  int status = Z_OK;
  const std::string why = gzerror(in, &status);
  gzclose(in);
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
void Unzip(const std::string& path, const std::string& from, std::ostream& out) {
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
    throw Failure(fmt::format("{}: a zip archive of {} files ({}): unpack the one to import", path,
                              files.size(), names));
  }
  zip_file_t* file = zip_fopen_index(zip.get(), pick.front(), 0);
  if (file == nullptr) throw Failure(path + ": " + zip_strerror(zip.get()));
  std::vector<char> buffer(1 << 16);
  zip_int64_t n = 0;
  while ((n = zip_fread(file, buffer.data(), buffer.size())) > 0) {
    out.write(buffer.data(), static_cast<std::streamsize>(n));
  }
  const std::string why = n < 0 ? zip_file_strerror(file) : "";
  zip_fclose(file);
  if (n < 0) throw Failure(path + ": damaged zip archive (" + why + ")");
}

}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
  std::ifstream named;
  if (path != "-") {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) throw Failure(path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw Failure(path + ": is a directory, not a backup file");
    named.open(path, std::ios::binary);
    if (!named) throw Failure(path + ": " + std::strerror(errno));
    if (S_ISREG(st.st_mode)) named.close();
  }
  // Standard input, a pipe or a device can be read once only: it is kept
  // in a private temporary file, read twice.
  try {
    if (path == "-" || named.is_open()) {
      spooled_ = TemporaryFile();
      std::ofstream out(spooled_, std::ios::binary);
      std::istream& source = path == "-" ? std::cin : named;
      if (source.peek() != std::char_traits<char>::eof()) out << source.rdbuf();
      if (!out) {
        throw Failure("keeping " + (path == "-" ? std::string("standard input") : path) +
                      " in a temporary file failed");
      }
    }
    Recognise();
  } catch (...) {
    if (!spooled_.empty()) unlink(spooled_.c_str());
    throw;
  }
  std::ifstream in(spooled_.empty() ? path_ : spooled_, std::ios::binary | std::ios::ate);
  size_ = static_cast<size_t>(std::max<std::streamoff>(0, in.tellg()));
}

void InputFile::Recognise() {
  const std::string from = spooled_.empty() ? path_ : spooled_;
  const std::string head = FirstBytes(from, 64);
  const bool gzip = head.starts_with(kGzip), zip = head.starts_with(kZip);
  if (gzip || zip) {
    // Backup apps often write their files packed: read unpacked, once, into
    // a private temporary file.
    const std::string unpacked = TemporaryFile();
    try {
      std::ofstream out(unpacked, std::ios::binary);
      gzip ? Gunzip(path_, from, out) : Unzip(path_, from, out);
      if (!out.flush()) throw Failure("unpacking " + path_ + " into a temporary file failed");
    } catch (...) {
      unlink(unpacked.c_str());
      throw;
    }
    if (!spooled_.empty()) unlink(spooled_.c_str());
    spooled_ = unpacked;
    return;
  }
  std::string_view text(head);
  while (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const size_t start = text.find_first_not_of(" \t\r\n");
  text.remove_prefix(start == std::string_view::npos ? text.size() : start);
  for (const OtherKind& kind : kOtherKinds) {
    if (head.starts_with(kind.start) || text.starts_with(kind.start)) {
      throw Failure(
          fmt::format("{}: {} (zusms imports a JSON export or SMS backup XML, also as .gz or .zip)",
                      path_, kind.what));
    }
  }
}

InputFile::~InputFile() {
  if (!spooled_.empty()) unlink(spooled_.c_str());
}

std::unique_ptr<std::istream> InputFile::Open() const {
  auto in = std::make_unique<std::ifstream>(spooled_.empty() ? path_ : spooled_, std::ios::binary);
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
  import.Verdict(format.CheckFile(import));
  import.StartAdding();
  format.AddFile(import);
  import.Finish();
  return import.report();
}

Importer::Importer(Store& store, const InputFile& file, const ImportOptions& o, bool by_uuid)
    : store_(store),
      file_(file),
      options_(o),
      progress_("importing", 2 * file.size(), o.progress),
      stored_(by_uuid) {}

void Importer::Next() const {
  if (InterruptRequested()) throw Interrupted{committed_};
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
    throw Failure(file_.path() + ": nothing imported: no record of the file can be stored:\n  " +
                  report_.problems.front());
  }
}

void Importer::StartAdding() {
  adding_ = true;
  batches_.emplace(store_);
  batch_ = 1;
}

void Importer::Rows(size_t n) {
  if (!batches_->Rows(n)) return;
  committed_ = report_.added;
  ++batch_;
}

bool Importer::AddMessage(const Message& m, std::string_view what) {
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
  }
  ++report_.added;
  Rows(parts.size());
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
