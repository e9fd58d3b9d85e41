#include <windows.h>

#include "platform/terminal.h"

namespace zavo {

// The console tells its size on every call; there is nothing to watch.
void WatchTerminalWidth() {}

int StandardErrorColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
    return 0;
  }
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace zavo
