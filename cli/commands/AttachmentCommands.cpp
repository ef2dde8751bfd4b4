// attachments save: the attachments of multimedia messages as files.
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <unordered_set>

#include "Command.h"
#include "Selecting.h"
#include "text/FileName.h"
#include "text/Interrupt.h"

namespace zusms::cli {

namespace {

struct Saved {
  uint32_t id, part;
  std::string file;
  uint64_t bytes;
};

// The selected multimedia messages, in id order: every one without a
// selection, else those the selection's pass finds among them.
std::vector<uint32_t> SelectedMultimedia(Store& s, const Selection& which) {
  std::vector<uint32_t> ids = MultimediaIds(s);
  if (which.All() || ids.empty()) return ids;
  const std::unordered_set<uint32_t> multimedia(ids.begin(), ids.end());
  ids.clear();
  ForEachSelected(s, which, [&](Message&& m) {
    if (multimedia.contains(m.id())) ids.push_back(m.id());
  });
  std::sort(ids.begin(), ids.end());
  return ids;
}

// Writes one attachment into a new file of `dir` under a name the folder
// does not hold yet; a file cut short by a failure goes again.
Saved SaveOne(Store& s, uint32_t id, const Attachment& a, const std::string& dir,
              UnusedFileNames& names) {
  const std::string safe = SavedFileName(a);
  for (;;) {
    const std::string name = names.Take(safe);
    const std::string path = (std::filesystem::path(dir) / name).string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;  // made since the folder was read
    if (fd < 0) throw Failure(fmt::format("cannot create {}: {}", OneLine(path), strerror(errno)));
    try {
      if (::fchmod(fd, 0600) != 0) throw Failure("cannot make " + OneLine(path) + " private");
      const uint64_t bytes = CopyAttachment(s, id, a, [&](const uint8_t* data, size_t size) {
        if (const int error = WriteAll(fd, reinterpret_cast<const char*>(data), size)) {
          throw Failure(fmt::format("writing {}: {}", OneLine(path), strerror(error)));
        }
        if (InterruptRequested()) throw Failure("interrupted");
      });
      if (::close(fd) != 0) {
        throw Failure(fmt::format("writing {}: {}", OneLine(path), strerror(errno)));
      }
      return {id, a.part, name, bytes};
    } catch (...) {
      ::close(fd);
      ::unlink(path.c_str());
      throw;
    }
  }
}

void SaveAttachments(Store& s, const Options& o, const Selection& which, const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir, ec)) {
    throw Failure(
        fmt::format("cannot make the folder {}{}", OneLine(dir), ec ? ": " + ec.message() : ""));
  }
  UnusedFileNames names(dir);
  InterruptGuard guard;
  std::vector<Saved> saved;
  uint64_t bytes = 0;
  for (const uint32_t id : SelectedMultimedia(s, which)) {
    const std::optional<Multimedia> m = ReadMultimedia(s, id);
    if (!m) continue;  // deleted meanwhile
    for (const Attachment& a : m->attachments) {
      saved.push_back(SaveOne(s, id, a, dir, names));
      bytes += saved.back().bytes;
    }
  }
  if (o.json) {
    Json out = Json::array();
    for (const Saved& f : saved) {
      out.push_back({{"id", f.id}, {"part", f.part}, {"file", f.file}, {"bytes", f.bytes}});
    }
    return PrintJson(out);
  }
  std::vector<std::vector<std::string>> rows;
  for (const Saved& f : saved) rows.push_back({std::to_string(f.id), f.file, ByteSize(f.bytes)});
  if (!rows.empty()) PrintTable({"ID", "FILE", "SIZE"}, rows);
  std::cout << fmt::format("saved {} ({}) in {}\n", Counted(saved.size(), "attachment"),
                           ByteSize(bytes), OneLine(dir));
}

}  // namespace

void AddAttachmentCommands(Commands& c) {
  auto* noun = c.app().add_subcommand("attachments", "the attachments of multimedia messages");
  noun->require_subcommand(1);
  struct Saving {
    SelectionOptions which;
    std::string dir;
  };
  auto save = std::make_shared<Saving>();
  auto* cmd = noun->add_subcommand(
      "save",
      "write the attachments of the selected multimedia messages (all of them without a "
      "selection) as new files in a folder, under names made safe");
  save->which.Declare(cmd, true);
  cmd->add_option("--to", save->dir, "the folder (made when missing)")->required();
  c.On(cmd, [&c, save](Store& s) {
    SaveAttachments(s, c.options(), save->which.Resolve(s, c.options()), save->dir);
  });
}

}  // namespace zusms::cli
