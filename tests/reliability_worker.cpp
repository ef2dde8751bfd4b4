// A child process of the reliability tests, on Linux and on Windows alike:
// it works through the C API on the store that ZUSMS_DB (inherited) names
// and writes what succeeded to a log, one line per operation, so that the
// parent can check the file afterwards (even after killing it).
//
//   stress USER THREADS COUNT RESULT   StressWriter.h in threads of users USER
//                                      and USER+1; RESULT.<thread> each
//   crash LOG                          adds until killed
//   open GO                            waits for the file GO, then opens user 1
//   firstadd                           the process's first add beside a batch's add
//   fill BYTES LOG                     adds under a file size limit until refused (POSIX)
//   readonly                           drops privileges, then opens and adds (POSIX)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "HexText.h"
#include "StressWriter.h"
#include "ZuSmsDB.h"

#ifndef _WIN32
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

std::string LastError() {
  char16_t buf[512];
  GetZuSmsLastError(buf, 512);
  std::string out;
  for (const char16_t* p = buf; *p; ++p) out += *p < 128 ? static_cast<char>(*p) : '?';
  return out;
}

// Appends whole lines, each flushed at once: a killed worker leaves every
// line it reported.
class Log {
 public:
  explicit Log(const char* path) : file_(std::fopen(path, "ab")) {}
  ~Log() { std::fclose(file_); }
  void Line(const std::string& line) {
    const std::string text = line + "\n";
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_)) {
      std::abort();
    }
  }

 private:
  std::FILE* file_;
};

void SetContent(SmsHead& h, const std::string& text) {
  size_t i = 0;
  for (; i < text.size() && i < 670; ++i) h.content[i] = static_cast<char16_t>(text[i]);
  h.content[i] = 0;
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

void Close(SmsDatabase* store) {
  CloseZuSmsDB(store);
  UninitZuSmsDB(store);
}

// 0 when every thread's calls succeeded, 3 when one failed (its result says
// which and why), 4 when a result could not be written.
int Stress(uint32_t user, int threads, int count, const std::string& result) {
  std::vector<zusms::testing::StressResult> results(threads);
  std::vector<std::thread> workers;
  const std::string tag = std::to_string(std::random_device()());
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      SmsDatabase* store = nullptr;
      InitZuSmsDB(&store, user + t % 2);
      if (OpenZuSmsDB(store) != 0) {
        results[t].failure = "open failed: " + LastError();
      } else {
        results[t] = zusms::testing::RunStressWriter(store, tag + "t" + std::to_string(t), count);
        CloseZuSmsDB(store);
      }
      UninitZuSmsDB(store);
    });
  }
  int code = 0;
  for (int t = 0; t < threads; ++t) {
    workers[t].join();
    const std::string text = results[t].Serialize();
    std::FILE* out = std::fopen((result + "." + std::to_string(t)).c_str(), "wb");
    if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fclose(out)) {
      code = 4;
    }
    if (!results[t].failure.empty() && code == 0) code = 3;
  }
  return code;
}

int Crash(const char* log_path) {
  Log log(log_path);
  SmsDatabase* store = OpenStore(1);
  std::mt19937 rng(std::random_device{}());
  const std::string tag = std::to_string(rng());
  for (long i = 0;; ++i) {
    SmsHead h{};
    for (auto& b : h.uuid) b = static_cast<uint8_t>(rng());
    h.uuid[8] = static_cast<uint8_t>((h.uuid[8] & 0x3F) | 0x80);
    const std::string text = "crash-" + tag + "-" + std::to_string(i);
    SetContent(h, text);
    uint32_t id = 0;
    if (AddZuSmsHead(store, &h, &id) != 0) {
      std::fprintf(stderr, "add failed: %s\n", LastError().c_str());
      return 1;
    }
    log.Line(std::to_string(id) + " " + Hex(h.uuid) + " " + text);
  }
}

int OpenWhenReady(const char* go) {
  while (!std::filesystem::exists(go)) std::this_thread::sleep_for(std::chrono::microseconds(200));
  Close(OpenStore(1));
  return 0;
}

// One thread holds the connection for a batch while another makes the
// process's first add, which loads the UUID library; then the batch adds too.
// Both must finish (the parent's wait is bounded, should they wait for each
// other).
int FirstAddBesideBatch() {
  SmsDatabase* store = OpenStore(1);
  if (BeginZuSmsBatch(store) != 0) return 1;
  int32_t other = 1;
  std::thread adder([&] {
    SmsHead h{};
    h.content[0] = u'b';
    uint32_t id = 0;
    other = AddZuSmsHead(store, &h, &id);
  });
  // Let the other thread reach the load (and wait for the connection) first.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  SmsHead h{};
  h.content[0] = u'a';
  uint32_t id = 0;
  const int32_t mine = AddZuSmsHead(store, &h, &id);
  const int32_t commit = CommitZuSmsBatch(store);
  adder.join();
  uint32_t n = 0;
  GetZuSmsHeadCount(store, &n);
  Close(store);
  return mine == 0 && commit == 0 && other == 0 && n == 2 ? 0 : 1;
}

#ifndef _WIN32
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
      Close(store);
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
  Close(store);
  // Either the open or the add must fail, and say why.
  const bool refused =
      (open_status != 0 && !open_error.empty()) || (add_status == -1 && !add_error.empty());
  return refused ? 0 : 1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "stress" && argc == 6) {
    return Stress(static_cast<uint32_t>(std::atoi(argv[2])), std::atoi(argv[3]), std::atoi(argv[4]),
                  argv[5]);
  }
  if (mode == "crash" && argc == 3) return Crash(argv[2]);
  if (mode == "open" && argc == 3) return OpenWhenReady(argv[2]);
  if (mode == "firstadd") return FirstAddBesideBatch();
#ifndef _WIN32
  if (mode == "fill" && argc == 4) return Fill(std::atol(argv[2]), argv[3]);
  if (mode == "readonly") return ReadOnly();
#endif
  return 64;
}
