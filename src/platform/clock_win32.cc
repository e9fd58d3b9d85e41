#include <windows.h>

#include "platform/clock.h"

namespace zavo {

LocalTime GetLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  LocalTime t;
  t.year = now.wYear;
  t.month = now.wMonth;
  t.day = now.wDay;
  t.hour = now.wHour;
  t.minute = now.wMinute;
  t.second = now.wSecond;
  t.hundredths = now.wMilliseconds / 10;
  return t;
}

std::uint32_t ProcessSeed() {
  LARGE_INTEGER ticks;
  ::QueryPerformanceCounter(&ticks);
  std::uint64_t mix = static_cast<std::uint64_t>(ticks.QuadPart);
  mix ^= static_cast<std::uint64_t>(::GetCurrentProcessId()) *
         0x9E3779B97F4A7C15ull;
  return static_cast<std::uint32_t>(mix ^ (mix >> 32));
}

}  // namespace zavo
