#include "fs/work_names.h"

#include <cstdint>
#include <cstdio>

#include "fs/random.h"

namespace zavo {

std::string TimeStampName(const LocalTime& time) {
  // Unsigned 32-bit arithmetic wraps as the name's definition requires: the
  // year term alone overflows and its high bits are meant to be lost.
  std::uint32_t v = static_cast<std::uint32_t>(time.year) * 365u * 86400u +
                    static_cast<std::uint32_t>(time.month) * 30u * 86400u +
                    static_cast<std::uint32_t>(time.day) * 86400u +
                    static_cast<std::uint32_t>(time.hour) * 3600u +
                    static_cast<std::uint32_t>(time.minute) * 60u +
                    static_cast<std::uint32_t>(time.second);
  v = (v << 7) | (static_cast<std::uint32_t>(time.hundredths) & 127u);
  v += RandomBelow(65535);
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(v));
  return digits;
}

std::string TimeStampName() { return TimeStampName(GetLocalTime()); }

bool IsWorkFolderName(const std::string& name) {
  if (name.size() != 12 || name.compare(8, 4, ".tmp") != 0) return false;
  for (std::size_t i = 0; i < 8; ++i) {
    char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace zavo
