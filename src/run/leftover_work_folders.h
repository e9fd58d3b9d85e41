// Work folders that a stopped run left behind.
//
// A run at work claims each folder it unpacks into and marks it as its own
// (HeldFolder::ClaimWork). A later run that meets a folder named as a work
// folder passes over a claimed one silently: it is another live run's work.
// One that nobody claims but that carries this user's mark, for this very
// folder, was left by a run that was killed, and is removed through its
// descriptor. Any other folder of that name may be someone's own and is
// only named.

#ifndef ZAVO_RUN_LEFTOVER_WORK_FOLDERS_H_
#define ZAVO_RUN_LEFTOVER_WORK_FOLDERS_H_

#include <string>

#include "platform/dir_handle.h"

namespace zavo {

struct LeftoverReport {
  // The line for standard output; empty when there is nothing to say (the
  // folder is a live run's, or gone already).
  std::string line;
  // A proven leftover that could not be removed: something left undone.
  bool failed = false;
};

// Deals with the folder `name` of the held folder `parent` that the scan
// found under a work folder's name; `path` names it in messages. A dry run
// removes nothing and says what it would remove.
LeftoverReport MeetWorkFolder(const HeldFolder& parent, const std::string& name,
                              const std::string& path, bool dry_run);

}  // namespace zavo

#endif  // ZAVO_RUN_LEFTOVER_WORK_FOLDERS_H_
