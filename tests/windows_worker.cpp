// A child process for the Windows multi-process tests: it works on the store
// named by ZUSMS_DB (inherited from the parent) through zusmsdb.dll and
// appends one line per add that succeeded to a log, so that the parent can
// check the file afterwards, even after killing it.
//
//   crash LOG   adds heads for user 1 until it is killed
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "ZuSmsDB.h"

namespace {

// Appends whole lines, each with one write to a file opened for appending,
// so that lines of several writers never mix.
class Log {
 public:
  explicit Log(const char* path)
      : file_(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~Log() { CloseHandle(file_); }
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  bool Line(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    return WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
  }

 private:
  HANDLE file_;
};

// One head whose content is `text` (ASCII); its id goes into *id.
int32_t Add(SmsDatabase* store, const std::string& text, uint32_t* id) {
  SmsHead head{};
  for (size_t i = 0; i < text.size() && i + 1 < sizeof head.content / 2; ++i) {
    head.content[i] = static_cast<char16_t>(text[i]);
  }
  head.fid = 1;
  return AddZuSmsHead(store, &head, id);
}

int Crash(const char* log_path) {
  Log log(log_path);
  SmsDatabase* store = nullptr;
  if (InitZuSmsDB(&store, 1) != 0 || OpenZuSmsDB(store) != 0) return 2;
  for (int i = 0;; ++i) {
    const std::string text =
        "crash-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i);
    uint32_t id = 0;
    if (Add(store, text, &id) != 0) return 3;
    if (!log.Line("1 " + std::to_string(id) + " " + text)) return 4;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "crash") == 0) return Crash(argv[2]);
  return 64;
}
