// Ctrl-C during long work: while an InterruptGuard lives, SIGINT only asks
// the work to stop, which it does at its next safe point. A TemporaryFile
// is removed however the process ends but for SIGKILL.
#ifndef ZUSMS_CLI_TEXT_INTERRUPT_H_
#define ZUSMS_CLI_TEXT_INTERRUPT_H_

#include <cstddef>
#include <string>

namespace zusms::cli {

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  void (*previous_)(int);
};

// Whether Ctrl-C was pressed since the innermost InterruptGuard began.
bool InterruptRequested();

// A private file (0600 whatever the umask) made from `pattern`, which ends
// in XXXXXX: it holds text of the user's messages. While it lives, SIGINT
// and SIGTERM (outside an InterruptGuard) remove it before they end the
// process; it is removed when it goes, unless Keep() says it now has
// another name. One at a time.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string pattern);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int error() const { return error_; }  // errno of a failed creation, else 0
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Closes the descriptor: 0, or the errno of the close.
  int Close();
  // The file was renamed: it is no longer removed.
  void Keep();

 private:
  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  void (*previous_int_)(int) = nullptr;
  void (*previous_term_)(int) = nullptr;
};

// Writes all `size` bytes to `fd`: 0, or the errno of the write that
// failed (EIO for one that wrote nothing).
int WriteAll(int fd, const char* data, size_t size);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_TEXT_INTERRUPT_H_
