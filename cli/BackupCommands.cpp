// export, import: backups of the user's store.
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Command.h"
#include "Interchange.h"

namespace zusms::cli {

namespace {

// The export holds message text: a file it creates is the owner's alone
// (0600 whatever the umask), also where the path is a link to a missing file
// (followed, as the store follows one to its own file). A file that exists
// keeps its mode.
void CreatePrivate(const std::string& path) {
#if !defined(_WIN32)
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 || errno != ENOENT) return;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  fchmod(fd, 0600);
  ::close(fd);
#else
  (void)path;
#endif
}

// Progress bars only on a terminal and not with --json.
bool ShowProgress(const Options& o) { return !o.json && isatty(STDERR_FILENO); }

void PrintImport(const Options& o, const ImportReport& r, bool xml) {
  if (o.json) {
    Json j{{"added", r.added}, {"updated", r.updated}, {"skipped", r.skipped}};
    if (xml) {
      j["invalid"] = r.invalid;
      j["problems"] = r.problems;
      j["mms"] = r.mms;
      j["namesCut"] = r.names_cut;
      j["otherElements"] = r.others;
      if (!r.cut.empty()) j["cut"] = r.cut;
    }
    PrintJson(j);
    return;
  }
  const char* what = xml ? "messages" : "records";
  std::cout << fmt::format("imported: {} {} added, {} updated, {} already there\n", r.added, what,
                           r.updated, r.skipped);
  for (const std::string& p : r.problems) std::cout << "skipped " << p << "\n";
  if (r.invalid > r.problems.size()) {
    std::cout << fmt::format("... and {} more\n", r.invalid - r.problems.size());
  }
  if (r.invalid > 0) std::cout << fmt::format("{} invalid records skipped\n", r.invalid);
  if (!r.cut.empty()) {
    std::cout << "the file is cut or stops being XML, the rest of it was not read: " << r.cut
              << "\n";
  }
  if (r.mms > 0) std::cout << fmt::format("{} MMS not imported: the store keeps SMS only\n", r.mms);
  for (const auto& [name, n] : r.others) {
    std::cout << fmt::format("{} <{}> elements not imported\n", n, name);
  }
  if (r.names_cut > 0) {
    std::cout << fmt::format("{} contact names cut to 39 characters\n", r.names_cut);
  }
}

}  // namespace

void AddBackupCommands(Commands& c) {
  const Options& o = c.options();
  struct ExportOptions {
    std::string format = "json", path = "-";
  };
  auto ex = std::make_shared<ExportOptions>();
  auto* export_cmd =
      c.app().add_subcommand("export", "write the user's store as JSON, or messages as XML");
  export_cmd->add_option("--format", ex->format, "json (everything) or xml (messages)")
      ->check(CLI::IsMember({"json", "xml"}));
  export_cmd->add_option("--output,-o", ex->path, "file (default: standard output)");
  c.On(export_cmd, [&o, ex](Store& s) {
    std::ofstream file;
    if (ex->path != "-") {
      CreatePrivate(ex->path);
      file.open(ex->path, std::ios::binary);
      if (!file) throw Failure(ex->path + ": " + std::strerror(errno));
    }
    std::ostream& out = ex->path == "-" ? std::cout : file;
    if (ex->format == "xml") {
      const size_t replaced = ExportXml(s, out, ShowProgress(o));
      if (replaced > 0) {
        std::cerr << fmt::format("{} characters that XML 1.0 cannot carry were written as U+FFFD\n",
                                 replaced);
      }
    } else {
      ExportJson(s, out);
    }
    if (!out) throw Failure("writing the export failed");
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
      const ImportReport r = xml ? ImportXml(s, file, ImportOptions{*skip_invalid, ShowProgress(o)})
                                 : ImportJson(s, file, ShowProgress(o));
      PrintImport(o, r, xml);
      if (r.invalid > 0 || !r.cut.empty()) throw ImportIncomplete{};
    } catch (const Interrupted& stop) {
      throw Failure(fmt::format(
          "interrupted: {} messages of the file are stored, the batch in progress was rolled "
          "back; running the same import again completes it",
          stop.stored));
    }
  });
}

}  // namespace zusms::cli
