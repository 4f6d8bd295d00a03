#pragma once
// The logical timers of every open popup, driven by one periodic platform timer.
// Each logical timer keeps its own interval and fires on its own, as a platform
// timer would; what is shared is only the source of the ticks, so that the window
// system delivers one timer message per period however many popups are running.
//
// A timer armed at time t with interval i is due at t + i. It fires once at the first
// source tick at or after its due time less half a source period (the source's own
// jitter must not make it skip a period), and is then due one interval after that
// tick. Times are milliseconds on any steady clock. One thread only.
#include <compare>
#include <cstdint>
#include <vector>

namespace tindra {

class TickSchedule {
 public:
  // `owner` names whoever handles the timer (a popup) by a number that NewOwner gave
  // it, never one of another owner's, even one gone long ago: a tick taken for an owner
  // that has gone cannot reach another; `timer` tells its timers apart.
  struct Key {
    uint64_t owner;
    int timer;
    auto operator<=>(const Key&) const = default;
  };

  explicit TickSchedule(int32_t periodMs) : periodMs_(periodMs) {}

  // A number for a new owner: never 0, and never given before by this schedule.
  uint64_t NewOwner() { return ++lastOwner_; }

  // (Re)starts a timer: due `intervalMs` after `nowMs`. An interval of 0 or less
  // stops it, as such a platform timer cannot fire.
  void Arm(Key key, int32_t intervalMs, double nowMs);
  void Disarm(Key key);
  void DisarmAll(uint64_t owner);
  bool IsArmed(Key key) const;
  bool empty() const { return timers_.empty(); }

  // The timers that fire at a source tick at `nowMs`, earliest due first (armed
  // earlier first when equal); each is due again one interval after `nowMs`.
  std::vector<Key> TakeDue(double nowMs);

  // How long the source may wait from `nowMs` before its next tick: one period
  // while a timer is due within it, longer when every timer is due later, -1 when
  // nothing is armed.
  int32_t NextDelayMs(double nowMs) const;

 private:
  struct Timer {
    Key key;
    int32_t intervalMs;
    double dueMs;
    uint64_t sequence;  // order of arming, for timers due at the same moment
  };
  std::vector<Timer> timers_;
  int32_t periodMs_;
  uint64_t nextSequence_ = 0;
  uint64_t lastOwner_ = 0;
};

}  // namespace tindra
