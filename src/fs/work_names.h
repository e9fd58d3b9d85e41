// Names for work folders and provisional archives: short, made from the
// local time and the process-wide pseudo-random generator, so that they are
// new without a registry of names.

#ifndef ZAVO_FS_WORK_NAMES_H_
#define ZAVO_FS_WORK_NAMES_H_

#include <string>

#include "platform/clock.h"

namespace zavo {

// Eight lower-case hexadecimal digits made from `time` and one draw of
// RandomBelow(65535). The same time and generator state always give the
// same name; every call moves the generator on.
std::string TimeStampName(const LocalTime& time);

// The same for the local time now.
std::string TimeStampName();

// Whether a folder name has the form of a work folder ("136f0432.tmp"):
// one left behind by a run that was killed holds a copy of an archive's
// contents, which the scan must not convert as if it were the user's.
bool IsWorkFolderName(const std::string& name);

}  // namespace zavo

#endif  // ZAVO_FS_WORK_NAMES_H_
