// Ctrl-C during long work: while an InterruptGuard lives, SIGINT (and
// SIGHUP, the terminal closed, SIGQUIT, Ctrl-\, SIGTERM, a polite kill,
// SIGPIPE, the output's reader gone, and every other signal that would end
// the process, can be caught and is no fault of the process itself:
// SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGPWR, SIGSTKFLT,
// SIGIO and the real-time signals) only asks the work to stop, which it
// does at its next safe point. A named TemporaryFile is
// removed however the process ends but for SIGKILL; a nameless one has no
// name to leave behind.
#ifndef ZUSMS_CLI_TEXT_INTERRUPT_H_
#define ZUSMS_CLI_TEXT_INTERRUPT_H_

#include <signal.h>

#include <cstddef>
#include <string>
#include <vector>

namespace zusms::cli {

class InterruptGuard {
 public:
  // With `wake_reads`, a read that waits (for standard input) returns EINTR
  // at such a signal instead of waiting on.
  explicit InterruptGuard(bool wake_reads = false);
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  std::vector<struct sigaction> previous_;
};

// Whether Ctrl-C (or another of the signals above) came since the innermost
// InterruptGuard began.
bool InterruptRequested();

// A private file (0600 whatever the umask) made from `pattern`, which ends
// in XXXXXX: it holds text of the user's messages. A nameless one loses its
// name as soon as it is made and is read through its descriptor (path()
// names that), so no end of the process, SIGKILL included, leaves it
// behind; it goes with its descriptor, when it goes. A named one: while it
// lives, the signals above (outside an InterruptGuard)
// remove it before they end the process; it is removed when it goes, unless
// Keep() says it now has another name. One named one at a time.
class TemporaryFile {
 public:
  enum Kind { kNamed, kNameless };
  explicit TemporaryFile(std::string pattern, Kind kind = kNamed);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int error() const { return error_; }  // errno of a failed creation, else 0
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Closes the descriptor (of a named file only: a nameless one would go
  // with it): 0, or the errno of the close.
  int Close();
  // The file was renamed: it is no longer removed.
  void Keep();

 private:
  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  bool named_ = false;
  std::vector<void (*)(int)> previous_;
};

// The folder of the tool's temporary files: $TMPDIR, else /tmp.
std::string TemporaryFolder();

// Writes all `size` bytes to `fd`: 0, or the errno of the write that
// failed (EIO for one that wrote nothing).
int WriteAll(int fd, const char* data, size_t size);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_TEXT_INTERRUPT_H_
