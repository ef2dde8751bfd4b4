#include "text/Interrupt.h"

#include <csignal>

namespace zusms::cli {

namespace {

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int) { interrupted = 1; }

}  // namespace

InterruptGuard::InterruptGuard() {
  interrupted = 0;
  previous_ = std::signal(SIGINT, OnInterrupt);
}
InterruptGuard::~InterruptGuard() { std::signal(SIGINT, previous_); }
bool InterruptRequested() { return interrupted != 0; }

}  // namespace zusms::cli
