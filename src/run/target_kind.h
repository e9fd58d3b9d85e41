// The target a run converts to when it is chosen by name (-t KIND, the
// Target key) instead of being the archivers file's first section.

#ifndef ZAVO_RUN_TARGET_KIND_H_
#define ZAVO_RUN_TARGET_KIND_H_

#include <cstddef>
#include <string>

#include "archivers/archiver_list.h"
#include "text/status.h"

namespace zavo {

// Finds the section `name` of `archivers` (read from `file`, for messages)
// and puts its index into *target. Section names are matched exactly, or,
// when no section is named exactly so, in any letter case when only one
// section matches that way. Fails, naming the sections there are, for a
// name no section has, and for a section that has no "add" command to pack
// with.
Status ChooseTarget(const ArchiverList& archivers, const std::string& name,
                    const std::string& file, std::size_t* target);

}  // namespace zavo

#endif  // ZAVO_RUN_TARGET_KIND_H_
