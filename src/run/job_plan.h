// The order of a run's work, apart from the threads that do it. The scan
// adds what it finds in scan order: markers (the first file of a folder, a
// line of the scan's own) and archives. Jobs take archives to prepare
// (unpack, pack, test, verify) as they are free; the calling thread applies
// the items strictly in scan order, each archive once its job is done with
// it. A prepared archive waits, parked in its work folder, for its turn,
// while its job goes on with the next one: a large archive early in the
// scan holds up only the applying, never the jobs.
//
// The plan has no threads and no lock of its own: its owner calls it under
// one lock, and tests drive it step by step.

#ifndef ZAVO_RUN_JOB_PLAN_H_
#define ZAVO_RUN_JOB_PLAN_H_

#include <cstdint>
#include <deque>
#include <vector>

namespace zavo {

class JobPlan {
 public:
  using Id = std::uint64_t;

  // `jobs` archives are prepared at once; at most `max_parked` more may
  // wait prepared for their turn.
  JobPlan(int jobs, int max_parked);

  // Adds an item at the end of the scan order and returns its id.
  Id AddMarker();
  Id AddArchive();

  // The archive a free job takes next: the first waiting one in scan order,
  // when fewer than jobs + max_parked archives are being prepared or wait
  // prepared, and `room` (the file system has space for another work
  // folder). The first item of all may always start: nothing else could
  // free its place. False when no archive may start now.
  bool Take(Id* id, bool room = true);
  // The job that took `id` is done with it.
  void Done(Id id);

  enum class Next {
    kNone,     // nothing left to apply
    kMarker,   // the first item is a marker: apply it
    kArchive,  // the first item is an archive its job is done with
    kBusy,     // the first item is an archive still waiting or being
               // prepared: wait for its job
  };
  // What the first item not yet applied is; *id is set but for kNone.
  Next Front(Id* id) const;
  // The first item is applied.
  void Pop();

  // The run stops (a failure under StopOnError, an interruption): the
  // archives no job took yet are dropped and returned; those being
  // prepared or done stay until popped, for their work to be undone.
  std::vector<Id> Stop();
  bool stopped() const { return stopped_; }

  // Archives added and not yet applied (waiting, being prepared, done).
  int archives() const { return archives_; }
  int preparing() const { return preparing_; }
  // Archives done and not yet applied.
  int parked() const { return parked_; }

 private:
  enum class State { kMarker, kWaiting, kPreparing, kDone };
  struct Item {
    Id id;
    State state;
  };
  Item* Find(Id id);

  const int jobs_;
  const int max_parked_;
  std::deque<Item> items_;
  Id next_id_ = 1;
  int archives_ = 0;
  int preparing_ = 0;
  int parked_ = 0;
  bool stopped_ = false;
};

}  // namespace zavo

#endif  // ZAVO_RUN_JOB_PLAN_H_
