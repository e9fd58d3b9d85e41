#include <sys/time.h>
#include <time.h>

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

}  // namespace zavo
