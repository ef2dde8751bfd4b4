// Ctrl-C during long work: while an InterruptGuard lives, SIGINT only asks
// the work to stop, which it does at its next safe point.
#ifndef ZUSMS_CLI_TEXT_INTERRUPT_H_
#define ZUSMS_CLI_TEXT_INTERRUPT_H_

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

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_TEXT_INTERRUPT_H_
