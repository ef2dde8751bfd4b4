#include "text/Interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

namespace zusms::cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int) { interrupted = 1; }

// What asks long work to stop, and what ends the process (the same): Ctrl-C,
// the terminal closed, Ctrl-\, a polite kill, a reader of the output gone (a
// write then fails with EPIPE instead of ending the process where it
// stands), and every other signal whose default ends the process, which can
// be caught and which no fault of the process raises: the user's own
// (SIGUSR1, SIGUSR2), the timers (SIGALRM, SIGVTALRM, SIGPROF), the CPU
// limit (SIGXCPU), the power failing (SIGPWR), SIGSTKFLT, input ready
// (SIGIO) and the real-time signals. (SIGXFSZ is ignored from the start: a
// write past the file size limit fails instead.)
const std::vector<int>& Stops() {
  static const std::vector<int> stops = [] {
    std::vector<int> all = {SIGINT,  SIGHUP,  SIGQUIT, SIGTERM, SIGPIPE, SIGUSR1,
                            SIGUSR2, SIGALRM, SIGXCPU, SIGPROF, SIGIO,   SIGVTALRM};
#ifdef SIGPWR
    all.push_back(SIGPWR);
#endif
#ifdef SIGSTKFLT
    all.push_back(SIGSTKFLT);
#endif
#ifdef SIGRTMIN
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) all.push_back(s);
#endif
    return all;
  }();
  return stops;
}

// Where a signal finds the temporary file in use.
char g_temporary[PATH_MAX + 1];

void RemoveTemporaryAndStop(int signal_number) {
  ::unlink(g_temporary);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// The signals that end the process held back for the scope, delivered when
// it ends.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t stop;
    sigemptyset(&stop);
    for (const int s : Stops()) sigaddset(&stop, s);
    ::sigprocmask(SIG_BLOCK, &stop, &before_);
  }
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t before_;
};

}  // namespace

InterruptGuard::InterruptGuard(bool wake_reads) {
  interrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = wake_reads ? 0 : SA_RESTART;
  const std::vector<int>& stops = Stops();
  previous_.resize(stops.size());
  for (size_t i = 0; i < stops.size(); ++i) ::sigaction(stops[i], &action, &previous_[i]);
}
InterruptGuard::~InterruptGuard() {
  const std::vector<int>& stops = Stops();
  for (size_t i = 0; i < stops.size(); ++i) ::sigaction(stops[i], &previous_[i], nullptr);
}
bool InterruptRequested() { return interrupted != 0; }

std::string TemporaryFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir && *tmpdir ? tmpdir : "/tmp";
}

TemporaryFile::TemporaryFile(std::string pattern, Kind kind) {
  if (pattern.size() > PATH_MAX) {
    error_ = ENAMETOOLONG;
    return;
  }
  // A signal waits until the file has its name where the handler finds it,
  // so it is never left behind.
  const SignalsHeld held;
  if (kind == kNameless) {
    // A file of the folder that never has a name, where the file system
    // makes one (Linux's O_TMPFILE): not even a kill between creating and
    // unlinking it can leave it behind.
    const std::string folder = pattern.substr(0, pattern.rfind('/') + 1);
    fd_ = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      path_ = "/proc/self/fd/" + std::to_string(fd_);
      return;
    }
  }
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  if (::fchmod(fd_, 0600) != 0) {
    error_ = errno;
    ::close(fd_);
    fd_ = -1;
    ::unlink(pattern.c_str());
    return;
  }
  if (kind == kNameless) {
    // Read through the descriptor from here on: nothing can leave it behind.
    ::unlink(pattern.c_str());
    path_ = "/proc/self/fd/" + std::to_string(fd_);
    return;
  }
  named_ = true;
  path_ = pattern;
  std::strcpy(g_temporary, path_.c_str());
  const std::vector<int>& ends = Stops();
  previous_.resize(ends.size());
  for (size_t i = 0; i < ends.size(); ++i) previous_[i] = ::signal(ends[i], RemoveTemporaryAndStop);
}

TemporaryFile::~TemporaryFile() {
  if (!named_) {
    if (fd_ >= 0) ::close(fd_);
    return;
  }
  Close();
  if (!path_.empty()) {
    ::unlink(path_.c_str());
    Keep();
  }
}

int TemporaryFile::Close() {
  if (fd_ < 0 || !named_) return 0;
  const int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0 ? 0 : errno;
}

void TemporaryFile::Keep() {
  if (path_.empty() || !named_) return;
  for (size_t i = 0; i < previous_.size(); ++i) ::signal(Stops()[i], previous_[i]);
  path_.clear();
}

int WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace zusms::cli
