// A child process for the reliability tests: it works on a store through the
// C API and writes what succeeded to a log, one line per operation, so that
// the parent can check the file afterwards (even after killing it).
//
//   ops DB USER THREADS COUNT LOG SEED   mixed operations from several threads
//   crash DB LOG                         adds until killed
//   folders DB USER COUNT LOG            adds folders
//   open DB GO                           waits for the file GO, then opens user 1
//   fill DB BYTES LOG                    adds under a file size limit until refused
//   readonly DB                          drops privileges, then tries to open and add
//   firstadd DB                          the process's first add beside a batch's add
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "HexText.h"
#include "ZuSmsDB.h"

namespace {

std::string LastError() {
  char16_t buf[512];
  GetZuSmsLastError(buf, 512);
  std::string out;
  for (const char16_t* p = buf; *p; ++p) out += *p < 128 ? static_cast<char>(*p) : '?';
  return out;
}

// Appends whole lines: one write each, so lines of several writers never mix.
class Log {
 public:
  explicit Log(const char* path) : fd_(open(path, O_WRONLY | O_CREAT | O_APPEND, 0644)) {}
  ~Log() { close(fd_); }
  void Line(const std::string& line) {
    const std::string text = line + "\n";
    if (write(fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
  }

 private:
  int fd_;
};

void SetContent(SmsHead& h, const std::string& text) {
  size_t i = 0;
  for (; i < text.size() && i < 670; ++i) h.content[i] = static_cast<char16_t>(text[i]);
  h.content[i] = 0;
}

std::string Content(const SmsHead& h) {
  std::string out;
  for (const char16_t* p = h.content; *p; ++p) out += static_cast<char>(*p);
  return out;
}

SmsDatabase* OpenStore(uint32_t user) {
  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, user);
  if (OpenZuSmsDB(store) != 0) {
    std::fprintf(stderr, "open failed: %s\n", LastError().c_str());
    std::exit(3);
  }
  return store;
}

int Ops(uint32_t user, int threads, int count, const char* log_path, unsigned seed) {
  Log log(log_path);
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      SmsDatabase* store = OpenStore(user);
      std::mt19937 rng(seed * 131 + static_cast<unsigned>(t));
      std::map<uint32_t, std::string> mine;  // id -> content this thread wrote
      auto fail = [&](const char* op) {
        ++failures;
        log.Line(std::string("E ") + op + " " + LastError());
      };
      for (int i = 0; i < count; ++i) {
        const int op = static_cast<int>(rng() % 10);
        if (op < 4 || mine.empty()) {
          SmsHead h{};
          for (auto& b : h.uuid) b = static_cast<uint8_t>(rng());
          h.uuid[8] = static_cast<uint8_t>((h.uuid[8] & 0x3F) | 0x80);
          const std::string text = "u" + std::to_string(user) + "p" + std::to_string(getpid()) +
                                   "t" + std::to_string(t) + "i" + std::to_string(i);
          SetContent(h, text);
          h.fid = static_cast<int32_t>(rng() % 14 + 1);
          uint32_t id = 0;
          if (AddZuSmsHead(store, &h, &id) != 0 || static_cast<uint32_t>(h.id) != id) {
            fail("add");
            continue;
          }
          mine[id] = text;
          log.Line("A " + std::to_string(id) + " " + Hex(h.uuid) + " " + text);
        } else if (op < 6) {
          auto it = std::next(mine.begin(), static_cast<long>(rng() % mine.size()));
          SmsHead h{};
          if (GetZuSmsHead(store, it->first, &h) != 0) {
            fail("get");
            continue;
          }
          if (Content(h) != it->second) {
            fail("get: content differs");
            continue;
          }
          const std::string text = it->second + "x";
          SetContent(h, text);
          if (UpdateZuSmsHead(store, &h) != 0) {
            fail("update");
            continue;
          }
          it->second = text;
          log.Line("U " + std::to_string(it->first) + " " + text);
        } else if (op < 7) {
          auto it = std::next(mine.begin(), static_cast<long>(rng() % mine.size()));
          if (DeleteZuSmsHead(store, it->first) != 0) {
            fail("delete");
            continue;
          }
          log.Line("D " + std::to_string(it->first));
          mine.erase(it);
        } else if (op < 8) {
          uint32_t n = 0;
          std::vector<uint32_t> ids(4096);
          if (GetAllZuSmsHeadID(store, ids.data(), 4096, &n) != 0) fail("list");
        } else if (op < 9) {
          SmsFolder f{};
          f.fname[0] = u'f';
          uint32_t id = 0;
          if (AddZuSmsFolder(store, &f, &id) != 0) {
            fail("add folder");
            continue;
          }
          log.Line("F " + std::to_string(id) + " " + std::to_string(f.FdId));
        } else {
          _MimerQueryFilterItem item{};
          item.field = ZU_HEAD_FID;
          item.op = ZU_OP_LE;
          item.value.number = 7;
          MimerQueryFilter filter{1, &item, 1, 0, nullptr};
          uint32_t n = 0;
          if (QueryZuSmsHeadCount(store, &filter, &n) != 0) fail("query");
        }
      }
      CloseZuSmsDB(store);
      UninitZuSmsDB(store);
    });
  }
  for (auto& w : workers) w.join();
  return failures == 0 ? 0 : 1;
}

int Crash(const char* log_path) {
  Log log(log_path);
  SmsDatabase* store = OpenStore(1);
  std::mt19937 rng(static_cast<unsigned>(getpid()));
  for (long i = 0;; ++i) {
    SmsHead h{};
    for (auto& b : h.uuid) b = static_cast<uint8_t>(rng());
    h.uuid[8] = static_cast<uint8_t>((h.uuid[8] & 0x3F) | 0x80);
    const std::string text = "crash-" + std::to_string(getpid()) + "-" + std::to_string(i);
    SetContent(h, text);
    uint32_t id = 0;
    if (AddZuSmsHead(store, &h, &id) != 0) {
      std::fprintf(stderr, "add failed: %s\n", LastError().c_str());
      return 1;
    }
    log.Line(std::to_string(id) + " " + Hex(h.uuid) + " " + text);
  }
}

int Folders(uint32_t user, int count, const char* log_path) {
  Log log(log_path);
  SmsDatabase* store = OpenStore(user);
  for (int i = 0; i < count; ++i) {
    SmsFolder f{};
    f.fname[0] = u'F';
    uint32_t id = 0;
    if (AddZuSmsFolder(store, &f, &id) != 0) {
      std::fprintf(stderr, "add folder failed: %s\n", LastError().c_str());
      return 1;
    }
    log.Line(std::to_string(f.FdId));
  }
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
  return 0;
}

int OpenWhenReady(const char* go) {
  while (access(go, F_OK) != 0) usleep(200);
  SmsDatabase* store = OpenStore(1);
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
  return 0;
}

int Fill(long bytes, const char* log_path) {
  Log log(log_path);
  SmsDatabase* store = OpenStore(1);
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  setrlimit(RLIMIT_FSIZE, &limit);
  for (int i = 0; i < 1000000; ++i) {
    SmsHead h{};
    const std::string text = "fill-" + std::to_string(i) + std::string(500, 'z');
    SetContent(h, text);
    uint32_t id = 0;
    if (AddZuSmsHead(store, &h, &id) != 0) {
      const std::string why = LastError();
      std::printf("refused after %d adds: %s\n", i, why.c_str());
      // A refused add leaves the store usable for reading.
      uint32_t n = 0;
      const int32_t count = GetZuSmsHeadCount(store, &n);
      CloseZuSmsDB(store);
      UninitZuSmsDB(store);
      return why.empty() || count != 0 ? 1 : 0;
    }
    log.Line(std::to_string(id) + " " + text.substr(0, 12));
  }
  return 1;  // never refused
}

int ReadOnly() {
  if (geteuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    if (setgid(gid) != 0 || setuid(uid) != 0) return 2;
  }
  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, 1);
  const int32_t open_status = OpenZuSmsDB(store);
  const std::string open_error = LastError();
  SmsHead h{};
  h.content[0] = u'r';
  uint32_t id = 0;
  const int32_t add_status = AddZuSmsHead(store, &h, &id);
  const std::string add_error = LastError();
  // A file without the table of unread heads reads as all read.
  uint32_t ids[1] = {}, n = 1;
  int32_t read = 0;
  if (open_status == 0 && (GetAllZuSmsHeadID(store, ids, 1, &n) != 0 || n != 1 ||
                           GetZuSmsHeadRead(store, ids[0], &read) != 0 || read != 1 ||
                           GetZuSmsUnreadHeadCount(store, &n) != 0 || n != 0)) {
    return 3;
  }
  std::printf("open %d (%s); add %d (%s)\n", open_status, open_error.c_str(), add_status,
              add_error.c_str());
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
  // Either the open or the add must fail, and say why.
  const bool refused =
      (open_status != 0 && !open_error.empty()) || (add_status == -1 && !add_error.empty());
  return refused ? 0 : 1;
}

// One thread holds the connection for a batch while another makes the
// process's first add, which loads the UUID library; then the batch adds too.
// Both must finish: the alarm ends the process if they wait for each other.
int FirstAddBesideBatch() {
  alarm(20);
  SmsDatabase* store = OpenStore(1);
  if (BeginZuSmsBatch(store) != 0) return 1;
  std::atomic<int32_t> other{1};
  std::thread adder([&] {
    SmsHead h{};
    h.content[0] = u'b';
    uint32_t id = 0;
    other = AddZuSmsHead(store, &h, &id);
  });
  // Let the other thread reach the load (and wait for the connection) first.
  usleep(200 * 1000);
  SmsHead h{};
  h.content[0] = u'a';
  uint32_t id = 0;
  const int32_t mine = AddZuSmsHead(store, &h, &id);
  const int32_t commit = CommitZuSmsBatch(store);
  adder.join();
  uint32_t n = 0;
  GetZuSmsHeadCount(store, &n);
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
  return mine == 0 && commit == 0 && other == 0 && n == 2 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[1];
  setenv("ZUSMS_DB", argv[2], 1);
  if (mode == "ops" && argc == 8) {
    return Ops(static_cast<uint32_t>(std::atoi(argv[3])), std::atoi(argv[4]), std::atoi(argv[5]),
               argv[6], static_cast<unsigned>(std::atoi(argv[7])));
  }
  if (mode == "crash" && argc == 4) return Crash(argv[3]);
  if (mode == "folders" && argc == 6) {
    return Folders(static_cast<uint32_t>(std::atoi(argv[3])), std::atoi(argv[4]), argv[5]);
  }
  if (mode == "open" && argc == 4) return OpenWhenReady(argv[3]);
  if (mode == "fill" && argc == 5) return Fill(std::atol(argv[3]), argv[4]);
  if (mode == "readonly" && argc == 3) return ReadOnly();
  if (mode == "firstadd" && argc == 3) return FirstAddBesideBatch();
  return 2;
}
