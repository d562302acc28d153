#include "cli/interrupt.h"

#include <csignal>

namespace selvane::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnSignal(int) { interrupted = 1; }

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // the second signal takes its default course
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() { return interrupted != 0; }

}  // namespace selvane::cli
