#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

#include "platform/terminal.h"

namespace zavo {

namespace {

// Set by the handler, taken by StandardErrorColumns; set at the start, so
// that the first call reads the width.
std::atomic<bool> g_resized{true};
std::atomic<int> g_columns{0};

static_assert(std::atomic<bool>::is_always_lock_free,
              "the signal handler may only touch a lock-free flag");

extern "C" void OnResize(int) { g_resized.store(true); }

}  // namespace

void WatchTerminalWidth() {
  struct sigaction action = {};
  action.sa_handler = OnResize;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &action, nullptr);
}

int StandardErrorColumns() {
  if (g_resized.exchange(false)) {
    struct winsize size = {};
    g_columns.store(ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0
                        ? static_cast<int>(size.ws_col)
                        : 0);
  }
  return g_columns.load();
}

}  // namespace zavo
