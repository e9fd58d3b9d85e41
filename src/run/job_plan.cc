#include "run/job_plan.h"

#include <algorithm>

namespace zavo {

JobPlan::JobPlan(int jobs, int max_parked)
    : jobs_(std::max(1, jobs)), max_parked_(std::max(0, max_parked)) {}

JobPlan::Id JobPlan::AddMarker() {
  items_.push_back({next_id_, State::kMarker});
  return next_id_++;
}

JobPlan::Id JobPlan::AddArchive() {
  items_.push_back({next_id_, State::kWaiting});
  ++archives_;
  return next_id_++;
}

JobPlan::Item* JobPlan::Find(Id id) {
  for (Item& item : items_) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

bool JobPlan::Take(Id* id, bool room) {
  if (stopped_ || preparing_ >= jobs_) return false;
  for (Item& item : items_) {
    if (item.state != State::kWaiting) continue;
    const bool first = &item == &items_.front();
    if (!first && (!room || preparing_ + parked_ >= jobs_ + max_parked_)) {
      return false;
    }
    item.state = State::kPreparing;
    ++preparing_;
    *id = item.id;
    return true;
  }
  return false;
}

void JobPlan::Done(Id id) {
  Item* item = Find(id);
  if (item == nullptr || item->state != State::kPreparing) return;
  item->state = State::kDone;
  --preparing_;
  ++parked_;
}

JobPlan::Next JobPlan::Front(Id* id) const {
  if (items_.empty()) return Next::kNone;
  const Item& first = items_.front();
  *id = first.id;
  switch (first.state) {
    case State::kMarker:
      return Next::kMarker;
    case State::kDone:
      return Next::kArchive;
    case State::kWaiting:
    case State::kPreparing:
      break;
  }
  return Next::kBusy;
}

void JobPlan::Pop() {
  if (items_.empty()) return;
  const Item first = items_.front();
  items_.pop_front();
  if (first.state == State::kMarker) return;
  --archives_;
  if (first.state == State::kDone) --parked_;
  if (first.state == State::kPreparing) --preparing_;
}

std::vector<JobPlan::Id> JobPlan::Stop() {
  stopped_ = true;
  std::vector<Id> dropped;
  std::deque<Item> kept;
  for (const Item& item : items_) {
    if (item.state == State::kWaiting) {
      dropped.push_back(item.id);
      --archives_;
    } else if (item.state != State::kMarker) {
      kept.push_back(item);
    }
  }
  items_.swap(kept);
  return dropped;
}

}  // namespace zavo
