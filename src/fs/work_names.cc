#include "fs/work_names.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>

#include "fs/file_tree.h"
#include "fs/random.h"
#include "platform/file_system.h"
#include "text/text_utils.h"

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

namespace {

// A folder of that name is taken. So is a link of any kind: a link to a
// folder would lead the extraction (and the later clean-up) into some other
// folder, and a dangling one could be made to point anywhere later.
bool NameTaken(const std::string& path) {
  if (FolderExists(path)) return true;
  FileAttributes attributes;
  return GetFileAttributes(path, &attributes) &&
         (attributes.bits & kAttrLink) != 0;
}

// Jobs that run at once draw names in the same folders, and a name drawn
// is created only later: the names this process drew last count as taken.
// A job draws one name, and fewer than 2 x 1024 (the most jobs) are drawn
// while it runs.
constexpr std::size_t kRecentNames = 4096;

// Draws names until one is free; `time` is null for the time of each draw.
std::string DrawWorkFolderName(const std::string& folder,
                               const LocalTime* time) {
  static std::mutex mutex;
  static std::deque<std::string> recent;
  std::lock_guard<std::mutex> lock(mutex);
  std::string name;
  bool drawn_before;
  do {
    name = (time != nullptr ? TimeStampName(*time) : TimeStampName()) + ".tmp";
    drawn_before = false;
    for (const std::string& r : recent) {
      if (r == folder + name) drawn_before = true;
    }
  } while (drawn_before || NameTaken(folder + name));
  recent.push_back(folder + name);
  if (recent.size() > kRecentNames) recent.pop_front();
  return name + kPathSeparator;
}

}  // namespace

std::string WorkFolderName(const std::string& folder) {
  return DrawWorkFolderName(folder, nullptr);
}

std::string WorkFolderName(const std::string& folder, const LocalTime& time) {
  return DrawWorkFolderName(folder, &time);
}

bool IsWorkFolderName(const std::string& name) {
  if (name.size() != 12 || name.compare(8, 4, ".tmp") != 0) return false;
  for (std::size_t i = 0; i < 8; ++i) {
    char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace zavo
