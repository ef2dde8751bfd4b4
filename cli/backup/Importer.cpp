#include "backup/Importer.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

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
  if (path == "-" || named.is_open()) {
    char name[] = "/tmp/zusms-import-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) throw Failure(std::string("a temporary file: ") + std::strerror(errno));
    close(fd);
    spooled_ = name;
    std::ofstream out(spooled_, std::ios::binary);
    std::istream& source = path == "-" ? std::cin : named;
    if (source.peek() != std::char_traits<char>::eof()) out << source.rdbuf();
    if (!out) {
      unlink(name);
      throw Failure("keeping " + (path == "-" ? std::string("standard input") : path) +
                    " in a temporary file failed");
    }
  }
  std::ifstream in(spooled_.empty() ? path_ : spooled_, std::ios::binary | std::ios::ate);
  size_ = static_cast<size_t>(std::max<std::streamoff>(0, in.tellg()));
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
