#include "run/leftover_work_folders.h"

#include "platform/dir_handle.h"

namespace zavo {

namespace {

std::string LeftoverLine(const std::string& path, const std::string& what) {
  return "work folder [" + path + "] left by a stopped run, " + what;
}

}  // namespace

LeftoverReport MeetWorkFolder(const HeldFolder& held_parent,
                              const std::string& name, const std::string& path,
                              bool dry_run) {
  LeftoverReport report;
  const std::string not_entered = LeftoverLine(path, "not entered");
  HeldFolder parent;
  if (!held_parent.Duplicate(&parent).ok()) {
    report.line = not_entered;
    return report;
  }
  // The folder is opened below its parent, never through a link, and
  // everything after is decided on the open folder itself.
  EntryStatus there;
  if (parent.Stat(name, &there).ok() &&
      there.kind == EntryStatus::Kind::kMissing) {
    return report;  // gone meanwhile: a live run's, now done
  }
  HeldFolder work;
  if (there.kind != EntryStatus::Kind::kFolder ||
      !parent.OpenFolder(name, &work).ok()) {
    report.line = not_entered;
    return report;
  }
  switch (work.CheckLeftover()) {
    case LeftoverCheck::kLive:
      return report;
    case LeftoverCheck::kUnproven:
      report.line = not_entered;
      return report;
    case LeftoverCheck::kProven:
      break;
  }
  if (dry_run) {
    report.line = LeftoverLine(path, "would be removed");
    return report;
  }
  // A run that ended a moment ago removed its own folder after the scan
  // listed it, or someone moved it away: nothing left here to act on.
  EntryStatus self;
  bool looked = work.SelfStat(&self).ok() && parent.Stat(name, &there).ok();
  if (looked && there.kind == EntryStatus::Kind::kMissing) return report;
  if (!looked || there.kind != EntryStatus::Kind::kFolder ||
      there.identity != self.identity) {
    report.line = not_entered;
    return report;
  }
  // Emptied through its own descriptor, wherever it is moved meanwhile;
  // the name goes only while it still names that folder, and only empty.
  std::string why;
  Status step = work.RemoveChildren();
  if (step.ok()) step = parent.Stat(name, &there);
  if (!step.ok()) {
    why = step.message();
  } else if (there.kind != EntryStatus::Kind::kFolder ||
             there.identity != self.identity) {
    why = "the name was given to something else";
  } else {
    step = parent.RemoveEmptyFolder(name);
    if (!step.ok()) why = step.message();
  }
  if (!why.empty()) {
    report.line = LeftoverLine(path, "can't remove: " + why);
    report.failed = true;
    return report;
  }
  parent.Sync();
  report.line = LeftoverLine(path, "removed");
  return report;
}

}  // namespace zavo
