// The local date and time.

#ifndef ZAVO_PLATFORM_CLOCK_H_
#define ZAVO_PLATFORM_CLOCK_H_

namespace zavo {

struct LocalTime {
  int year = 0;        // full year, 2000
  int month = 0;       // 1..12
  int day = 0;         // 1..31
  int hour = 0;        // 0..23
  int minute = 0;      // 0..59
  int second = 0;      // 0..59
  int hundredths = 0;  // 0..99
};

LocalTime GetLocalTime();

}  // namespace zavo

#endif  // ZAVO_PLATFORM_CLOCK_H_
