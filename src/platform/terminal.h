// The width of the terminal that standard error shows on, for the status
// line: a line wider than the terminal wraps, and the part that wrapped can
// no longer be erased by going back to the line's start.

#ifndef ZAVO_PLATFORM_TERMINAL_H_
#define ZAVO_PLATFORM_TERMINAL_H_

namespace zavo {

// Starts noticing changes of the terminal's size (POSIX: a SIGWINCH handler
// that only sets a flag). Call once at start-up, before threads start.
void WatchTerminalWidth();

// The columns of the terminal on standard error: read again (POSIX:
// TIOCGWINSZ; Win32: the console window's width) at the first call and
// after each change, else as read last; 0 when it cannot be told. Called
// from one thread.
int StandardErrorColumns();

}  // namespace zavo

#endif  // ZAVO_PLATFORM_TERMINAL_H_
