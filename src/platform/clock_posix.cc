#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "platform/clock.h"

namespace zavo {

LocalTime GetLocalTime() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  time_t seconds = now.tv_sec;
  struct tm local;
  localtime_r(&seconds, &local);
  LocalTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.hundredths = static_cast<int>(now.tv_usec / 10000);
  return t;
}

std::uint32_t ProcessSeed() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  std::uint64_t mix = static_cast<std::uint64_t>(now.tv_sec) * 1000000007u +
                      static_cast<std::uint64_t>(now.tv_nsec);
  mix ^= static_cast<std::uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull;
  return static_cast<std::uint32_t>(mix ^ (mix >> 32));
}

}  // namespace zavo
