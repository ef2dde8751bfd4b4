// A child of the reliability tests (Linux and Windows): works through the C
// API on the store ZUSMS_DB names and logs what succeeded, for the parent to
// check (even after killing it).
//
//   stress USER THREADS COUNT RESULT   StressWriter.h in threads of users USER
//                                      and USER+1; RESULT.<thread> each
//   crash LOG                          adds until killed
//   open GO                            waits for the file GO, then opens user 1
//   firstadd                           the process's first add beside a batch's add
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "HexText.h"
#include "StressWriter.h"
#include "ZuSmsDB.h"

namespace {

using zusms::testing::LastErrorText;

// Adds `h` with `text` (ASCII) as its content.
int32_t Add(SmsDatabase* store, const std::string& text, uint32_t& id, SmsHead h = {}) {
  size_t i = 0;
  for (; i < text.size() && i < 670; ++i) h.content[i] = static_cast<char16_t>(text[i]);
  h.content[i] = 0;
  return AddZuSmsHead(store, &h, &id);
}

SmsDatabase* OpenStore(uint32_t user) {
  SmsDatabase* store = nullptr;
  InitZuSmsDB(&store, user);
  if (OpenZuSmsDB(store) != 0) {
    std::fprintf(stderr, "open failed: %s\n", LastErrorText().c_str());
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
      if (OpenZuSmsDB(store) != 0)
        results[t].failure = "open failed: " + LastErrorText();
      else
        results[t] = zusms::testing::RunStressWriter(store, tag + "t" + std::to_string(t), count);
      Close(store);
    });
  }
  int code = 0;
  for (int t = 0; t < threads; ++t) {
    workers[t].join();
    std::ofstream out(result + "." + std::to_string(t), std::ios::binary);
    if (!(out << results[t].Serialize() << std::flush)) code = 4;
    if (!results[t].failure.empty() && code == 0) code = 3;
  }
  return code;
}

int Crash(const char* log_path) {
  // Each line flushed at once (std::endl): a killed worker leaves every line it reported.
  std::ofstream log(log_path, std::ios::binary | std::ios::app);
  SmsDatabase* store = OpenStore(1);
  std::mt19937 rng(std::random_device{}());
  const std::string tag = std::to_string(rng());
  for (long i = 0;; ++i) {
    SmsHead h{};
    for (auto& b : h.uuid) b = static_cast<uint8_t>(rng());
    h.uuid[8] = static_cast<uint8_t>((h.uuid[8] & 0x3F) | 0x80);
    const std::string text = "crash-" + tag + "-" + std::to_string(i);
    uint32_t id = 0;
    if (Add(store, text, id, h) != 0) {
      std::fprintf(stderr, "add failed: %s\n", LastErrorText().c_str());
      return 1;
    }
    log << id << "|1|" << Hex(h.uuid) << "|" << text << std::endl;  // as the parent's Rows()
  }
}

int OpenWhenReady(const char* go) {
  while (!std::filesystem::exists(go)) std::this_thread::sleep_for(std::chrono::microseconds(200));
  Close(OpenStore(1));
  return 0;
}

// One thread holds the connection for a batch while another makes the
// process's first add (which loads the UUID library); then the batch adds.
// Both must finish: the parent's wait is bounded.
int FirstAddBesideBatch() {
  SmsDatabase* store = OpenStore(1);
  if (BeginZuSmsBatch(store) != 0) return 1;
  int32_t other = 1;
  uint32_t id = 0, other_id = 0;
  std::thread adder([&] { other = Add(store, "b", other_id); });
  // Let the other thread reach the load (and wait for the connection) first.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const int32_t mine = Add(store, "a", id);
  const int32_t commit = CommitZuSmsBatch(store);
  adder.join();
  Close(store);
  return mine == 0 && commit == 0 && other == 0 ? 0 : 1;  // the parent counts the rows
}

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
  return 64;
}
