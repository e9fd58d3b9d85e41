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

}  // namespace zavo
