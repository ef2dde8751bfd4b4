// export, import: backups of the user's store.
#include <fmt/format.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Command.h"
#include "Interchange.h"

namespace zusms::cli {

namespace {

std::string ReadInput(const std::string& path) {
  if (path == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) throw Failure(path + ": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw Failure(path + ": is a directory, not a backup file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure(path + ": " + std::strerror(errno));
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool LooksLikeXml(const std::string& path, const std::string& content) {
  if (path.size() > 4 && path.substr(path.size() - 4) == ".xml") return true;
  const auto first = content.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  return first != std::string::npos && content[first] == '<';
}

}  // namespace

void AddBackupCommands(Commands& c) {
  struct ExportOptions {
    std::string format = "json", path = "-";
  };
  auto ex = std::make_shared<ExportOptions>();
  auto* export_cmd =
      c.app().add_subcommand("export", "write the user's store as JSON, or messages as XML");
  export_cmd->add_option("--format", ex->format, "json (everything) or xml (messages)")
      ->check(CLI::IsMember({"json", "xml"}));
  export_cmd->add_option("--output,-o", ex->path, "file (default: standard output)");
  c.On(export_cmd, [ex](Store& s) {
    std::ofstream file;
    if (ex->path != "-") {
      file.open(ex->path, std::ios::binary);
      if (!file) throw Failure(ex->path + ": " + std::strerror(errno));
    }
    std::ostream& out = ex->path == "-" ? std::cout : file;
    if (ex->format == "xml") {
      ExportXml(s, out);
    } else {
      ExportJson(s, out);
    }
    if (!out) throw Failure("writing the export failed");
  });

  auto input = std::make_shared<std::string>();
  auto* import_cmd =
      c.app().add_subcommand("import", "read a JSON export or an SMS backup XML file");
  import_cmd->add_option("FILE", *input, "the file, or - for standard input")->required();
  c.On(import_cmd, [&c, input](Store& s) {
    const std::string content = ReadInput(*input);
    const ImportReport r =
        LooksLikeXml(*input, content) ? ImportXml(s, content) : ImportJson(s, content);
    if (c.options().json) {
      PrintJson({{"added", r.added}, {"updated", r.updated}, {"skipped", r.skipped}});
    } else {
      std::cout << fmt::format("imported: {} added, {} updated, {} already there\n", r.added,
                               r.updated, r.skipped);
    }
  });
}

}  // namespace zusms::cli
