#include "popup/tick_schedule.h"

#include <algorithm>
#include <cmath>

namespace tindra {

void TickSchedule::Arm(Key key, int32_t intervalMs, double nowMs) {
  Disarm(key);
  if (intervalMs <= 0) return;
  timers_.push_back({key, intervalMs, nowMs + intervalMs, nextSequence_++});
}

void TickSchedule::Disarm(Key key) {
  std::erase_if(timers_, [&](const Timer& t) { return t.key == key; });
}

void TickSchedule::DisarmAll(uint64_t owner) {
  std::erase_if(timers_, [&](const Timer& t) { return t.key.owner == owner; });
}

bool TickSchedule::IsArmed(Key key) const {
  return std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.key == key; });
}

std::vector<TickSchedule::Key> TickSchedule::TakeDue(double nowMs) {
  const double horizon = nowMs + periodMs_ / 2.0;
  std::vector<Timer*> due;
  for (Timer& t : timers_)
    if (t.dueMs <= horizon) due.push_back(&t);
  std::sort(due.begin(), due.end(), [](const Timer* a, const Timer* b) {
    return a->dueMs != b->dueMs ? a->dueMs < b->dueMs : a->sequence < b->sequence;
  });
  std::vector<Key> keys;
  keys.reserve(due.size());
  for (Timer* t : due) {
    t->dueMs = nowMs + t->intervalMs;
    keys.push_back(t->key);
  }
  return keys;
}

int32_t TickSchedule::NextDelayMs(double nowMs) const {
  if (timers_.empty()) return -1;
  double earliest = timers_.front().dueMs;
  for (const Timer& t : timers_) earliest = std::min(earliest, t.dueMs);
  // The tick that fires it may come half a period early.
  const double wait = earliest - periodMs_ / 2.0 - nowMs;
  return wait <= periodMs_ ? periodMs_ : static_cast<int32_t>(std::ceil(wait));
}

}  // namespace tindra
