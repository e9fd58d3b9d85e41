// The local date and time.

#ifndef ZAVO_PLATFORM_CLOCK_H_
#define ZAVO_PLATFORM_CLOCK_H_

#include <cstdint>

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

// A number that differs between processes started at the same moment: the
// finest clock the platform has, mixed with the process id.
std::uint32_t ProcessSeed();

}  // namespace zavo

#endif  // ZAVO_PLATFORM_CLOCK_H_
