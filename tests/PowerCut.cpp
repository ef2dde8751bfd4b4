#include "PowerCut.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <vector>

namespace zusms::testing::powercut {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kSector = 512;

struct Write {
  int64_t offset;
  std::string data;
};

// One name under the root, as the disk holds it.
struct Path {
  bool is_file = true;
  bool exists = false;                // as the operating system shows it
  bool name_on_disk = true;           // its folder was synced since it was made or deleted
  std::optional<std::string> before;  // the file the disk has under the name until then
  std::string synced;                 // a file's content at its last sync
  std::vector<Write> unsynced;        // the writes since, in order

  void Made() {
    if (name_on_disk) before.reset();
    name_on_disk = false;
    exists = true;
    synced.clear();
    unsynced.clear();
  }
  void Deleted() {
    if (name_on_disk) before = synced;
    name_on_disk = false;
    exists = false;
  }
};

struct Simulator {
  sqlite3_vfs* real = nullptr;
  sqlite3_vfs vfs{};
  sqlite3_syscall_ptr real_open_directory = nullptr;
  std::string root;
  std::set<std::string> on_disk;  // names there at the arming or at a sync of their folder
  std::map<std::string, Path> paths;
  uint64_t events = 0, cut_at = 0;
  std::mt19937_64 random;
  Loss loss = Loss::kPower;
  CutReport* report = nullptr;
};

Simulator sim;  // one per process

std::string Parent(const std::string& path) { return path.substr(0, path.rfind('/')); }

bool UnderRoot(const std::string& path) { return path.starts_with(sim.root + "/"); }

std::string ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& name, const std::string& data) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || ::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
    std::abort();  // the simulation itself failed: no result could be trusted
  }
  ::close(fd);
}

void Apply(std::string& image, const Write& w) {
  image.resize(std::max(image.size(), static_cast<size_t>(w.offset) + w.data.size()));
  image.replace(static_cast<size_t>(w.offset), w.data.size(), w.data);
}

void Tick() {
  if (++sim.events == sim.cut_at) CutNow();
}

// What the disk holds of a file after the cut.
std::string DiskImage(const std::string& name, const Path& path, double arrive, CutReport& report) {
  std::vector<Write> sectors;
  for (const Write& w : path.unsynced) {
    for (size_t at = 0; at < w.data.size();) {
      const int64_t offset = w.offset + static_cast<int64_t>(at);
      const size_t n = std::min<size_t>(w.data.size() - at, kSector - offset % kSector);
      sectors.push_back({offset, w.data.substr(at, n)});
      at += n;
    }
  }
  std::shuffle(sectors.begin(), sectors.end(), sim.random);
  std::string image = path.synced;
  std::bernoulli_distribution arrives(arrive);
  for (const Write& sector : sectors) {
    if (!arrives(sim.random)) continue;
    Apply(image, sector);
    ++report.sectors_arrived;
  }
  report.sectors_pending += static_cast<uint32_t>(sectors.size());
  image.resize(sim.random() % 2 ? path.synced.size() : fs::file_size(name));
  return image;
}

// The unix VFS opens a file's folder with this before syncing the folder.
int OpenDirectory(const char* file, int* fd) {
  const int rc = reinterpret_cast<int (*)(const char*, int*)>(sim.real_open_directory)(file, fd);
  if (rc == SQLITE_OK) {
    const std::string folder = Parent(file);
    for (auto& [name, path] : sim.paths) {
      if (Parent(name) != folder) continue;
      path.name_on_disk = true;
      path.before.reset();
    }
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored))
      sim.on_disk.insert(entry.path().string());
  }
  return rc;
}

// The state of a file the VFS opens, and of its folders under the root.
Path& Track(const std::string& name, bool existed) {
  for (std::string folder = Parent(name); UnderRoot(folder); folder = Parent(folder)) {
    if (sim.paths.count(folder)) continue;
    Path& p = sim.paths[folder];
    p.is_file = false;
    p.exists = true;
    p.name_on_disk = sim.on_disk.count(folder) > 0;
  }
  auto [it, first_sight] = sim.paths.try_emplace(name);
  Path& path = it->second;
  if (!existed) {
    path.Made();
  } else if (first_sight && !sim.on_disk.count(name)) {
    // Made since the arming by the store itself, its folder not synced
    // since: neither its name nor what it holds is on the disk yet.
    path.Made();
    path.unsynced.push_back({0, ReadAll(name)});
  } else if (first_sight) {
    path.exists = true;
    path.synced = ReadAll(name);
  }
  return path;
}

struct File {
  sqlite3_file base;
  Path* path;  // null: not a file that must survive (temporary files)
  sqlite3_file* Inner() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};
sqlite3_file* Inner(sqlite3_file* f) { return reinterpret_cast<File*>(f)->Inner(); }
Path* Tracked(sqlite3_file* f) { return reinterpret_cast<File*>(f)->path; }

int FileWrite(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
  if (Tracked(f)) Tick();
  const int rc = Inner(f)->pMethods->xWrite(Inner(f), data, amount, offset);
  if (rc == SQLITE_OK && Tracked(f))
    Tracked(f)->unsynced.push_back({offset, std::string(static_cast<const char*>(data), amount)});
  return rc;
}

int FileTruncate(sqlite3_file* f, sqlite3_int64 size) {
  if (Tracked(f)) Tick();
  return Inner(f)->pMethods->xTruncate(Inner(f), size);  // the length is decided at the cut
}

int FileSync(sqlite3_file* f, int flags) {
  if (Tracked(f)) Tick();
  const int rc = Inner(f)->pMethods->xSync(Inner(f), flags);
  Path* path = Tracked(f);
  sqlite3_int64 size = 0;
  if (rc == SQLITE_OK && path && Inner(f)->pMethods->xFileSize(Inner(f), &size) == SQLITE_OK) {
    for (const Write& w : path->unsynced) Apply(path->synced, w);
    path->synced.resize(static_cast<size_t>(size));
    path->unsynced.clear();
  }
  return rc;
}

// Everything else is the wrapped file's.
#define ZU_FORWARD(method) \
  .method = [](sqlite3_file* f, auto... a) { return Inner(f)->pMethods->method(Inner(f), a...); }
constexpr sqlite3_io_methods kMethods = {
    .iVersion = 3,
    ZU_FORWARD(xClose),
    ZU_FORWARD(xRead),
    .xWrite = FileWrite,
    .xTruncate = FileTruncate,
    .xSync = FileSync,
    ZU_FORWARD(xFileSize),
    ZU_FORWARD(xLock),
    ZU_FORWARD(xUnlock),
    ZU_FORWARD(xCheckReservedLock),
    ZU_FORWARD(xFileControl),
    ZU_FORWARD(xSectorSize),
    ZU_FORWARD(xDeviceCharacteristics),
    ZU_FORWARD(xShmMap),
    ZU_FORWARD(xShmLock),
    ZU_FORWARD(xShmBarrier),
    ZU_FORWARD(xShmUnmap),
    // No memory-mapped pages: every write goes through xWrite.
    .xFetch =
        [](sqlite3_file*, sqlite3_int64, int, void** out) {
          *out = nullptr;
          return SQLITE_OK;
        },
    .xUnfetch = [](sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; },
};
#undef ZU_FORWARD

int Open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* out_flags) {
  auto* file = reinterpret_cast<File*>(f);
  file->base.pMethods = nullptr;
  file->path = nullptr;
  const bool lasting =
      name && (flags & (SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_WAL)) &&
      UnderRoot(name);
  const bool existed = name && ::access(name, F_OK) == 0;
  sqlite3_vfs* real = sim.real;
  const int rc = real->xOpen(real, name, file->Inner(), flags, out_flags);
  if (rc != SQLITE_OK) return rc;
  file->base.pMethods = &kMethods;
  if (lasting) file->path = &Track(name, existed);
  return SQLITE_OK;
}

int Delete(sqlite3_vfs*, const char* name, int sync_folder) {
  if (UnderRoot(name)) Tick();
  if (auto it = sim.paths.find(name); it != sim.paths.end() && it->second.exists)
    it->second.Deleted();
  return sim.real->xDelete(sim.real, name, sync_folder);  // a folder sync here is seen
}

}  // namespace

void Arm(const std::string& root, uint64_t cut_at, uint64_t seed, Loss loss, CutReport* report) {
  sim.loss = loss;
  sim.real = sqlite3_vfs_find(nullptr);
  sim.root = root;
  sim.cut_at = cut_at;
  sim.random.seed(seed);
  sim.report = report;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    sim.on_disk.insert(entry.path().string());
  sim.real_open_directory = sim.real->xGetSystemCall(sim.real, "openDirectory");
  if (!sim.real_open_directory) std::abort();  // folder syncs could not be seen
  sim.real->xSetSystemCall(sim.real, "openDirectory",
                           reinterpret_cast<sqlite3_syscall_ptr>(OpenDirectory));

  // The rest is the unix VFS's own, which none of its methods but these two
  // tell apart from a copy.
  sqlite3_vfs& v = sim.vfs;
  v = *sim.real;
  v.pNext = nullptr;
  v.szOsFile = static_cast<int>(sizeof(File)) + sim.real->szOsFile;
  v.zName = "powercut";
  v.xOpen = Open;
  v.xDelete = Delete;
  sqlite3_vfs_register(&v, 1);
}

uint64_t Events() { return sim.events; }

void CutNow() {
  if (sim.loss == Loss::kProcess) _exit(kCutStatus);
  CutReport report;
  // How much of the unsynced data the disk had written when the power went.
  const double arrive = std::array{0.1, 0.5, 0.9}[sim.random() % 3];
  std::vector<std::string> folders_undone;
  for (const auto& [name, path] : sim.paths) {
    bool undone = false;
    if (!path.name_on_disk) {
      ++report.names_pending;
      undone = sim.random() % 2;
      report.names_undone += undone;
    }
    if (!path.is_file) {
      if (undone) folders_undone.push_back(name);
    } else if (undone) {
      if (path.before) {
        WriteAll(name, *path.before);
      } else {
        ::unlink(name.c_str());
      }
    } else if (path.exists) {
      WriteAll(name, DiskImage(name, path, arrive, report));
    }
  }
  for (const std::string& folder : folders_undone) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  if (sim.report) *sim.report = report;
  _exit(kCutStatus);
}

}  // namespace zusms::testing::powercut
