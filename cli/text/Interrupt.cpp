#include "text/Interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

namespace zusms::cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int) { interrupted = 1; }

// Where a signal finds the temporary file in use.
char g_temporary[PATH_MAX + 1];

void RemoveTemporaryAndStop(int signal_number) {
  ::unlink(g_temporary);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// SIGINT and SIGTERM held back for the scope, delivered when it ends.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &stop, &before_);
  }
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t before_;
};

}  // namespace

InterruptGuard::InterruptGuard() {
  interrupted = 0;
  previous_ = std::signal(SIGINT, OnInterrupt);
}
InterruptGuard::~InterruptGuard() { std::signal(SIGINT, previous_); }
bool InterruptRequested() { return interrupted != 0; }

TemporaryFile::TemporaryFile(std::string pattern) {
  if (pattern.size() > PATH_MAX) {
    error_ = ENAMETOOLONG;
    return;
  }
  // A signal waits until the file has its name where the handler finds it,
  // so it is never left behind.
  const SignalsHeld held;
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
  path_ = pattern;
  std::strcpy(g_temporary, path_.c_str());
  previous_int_ = ::signal(SIGINT, RemoveTemporaryAndStop);
  previous_term_ = ::signal(SIGTERM, RemoveTemporaryAndStop);
}

TemporaryFile::~TemporaryFile() {
  Close();
  if (!path_.empty()) {
    ::unlink(path_.c_str());
    Keep();
  }
}

int TemporaryFile::Close() {
  if (fd_ < 0) return 0;
  const int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0 ? 0 : errno;
}

void TemporaryFile::Keep() {
  if (path_.empty()) return;
  ::signal(SIGINT, previous_int_);
  ::signal(SIGTERM, previous_term_);
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
