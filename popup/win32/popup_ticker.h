#pragma once
// The one platform timer behind the logical timers of every popup (TickSchedule):
// a message-only window whose timer runs only while some popup timer is armed.
// User-interface thread only.
#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>

#include "common/win32/handle.h"
#include "common/win32/window.h"
#include "popup/FrmTindra.h"

namespace tindra::win32 {

// Receives the ticks of its logical timers. Must disarm them all (DisarmAll) before
// it goes away.
class TickTarget {
 public:
  virtual void OnTick(int timer) = 0;

 protected:
  ~TickTarget() = default;

 private:
  friend class PopupTicker;
  // Its number in the schedule while it has timers there (0: none yet): a new target
  // at the address of one that has gone gets a number of its own.
  uint64_t tickOwner_ = 0;
};

class PopupTicker : public WindowBase<PopupTicker> {
 public:
  static PopupTicker& Instance();

  // Starts (or restarts) `timer` of `target` with `intervalMs`; 0 or less stops it.
  // Raises AppError (kErrInvalidPropertyValue) when the platform timer cannot be set.
  void Arm(TickTarget& target, int timer, int32_t intervalMs);
  void Disarm(TickTarget& target, int timer);
  void DisarmAll(TickTarget& target) noexcept;

 private:
  PopupTicker();
  friend class WindowBase<PopupTicker>;
  LRESULT HandleMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
  void OnSourceTick();
  void RunPending();
  void Reschedule();
  // For the benchmark's counters, when some benchmark made them: how late each tick
  // of an effect timer (one of the source's period) began against one interval after
  // the previous tick of that timer began, or after it was armed.
  void NoteArmed(TickSchedule::Key key, int32_t intervalMs);
  void NoteTickBegins(TickSchedule::Key key);
  void NoteDisarmed(TickSchedule::Key key) noexcept;

  TickSchedule schedule_;
  // The targets by their numbers in the schedule, from their first Arm to DisarmAll.
  std::map<uint64_t, TickTarget*> targets_;
  // Ticks taken from the schedule but not yet handled: a busy tick hands the rest
  // over to a message of its own so that pokes waiting in the queue come first.
  std::deque<TickSchedule::Key> pending_;
  UniqueWindow window_;
  bool ticking_ = false;  // running ticks: the platform timer is reset once, after them
  int32_t sourceDelayMs_ = -1;
  double nextSourceTickMs_ = 0;
  // When each effect timer's next tick is due, on the benchmark's counter.
  std::map<TickSchedule::Key, int64_t> dueUs_;
};

}  // namespace tindra::win32
