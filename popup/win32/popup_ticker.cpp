#include "popup/win32/popup_ticker.h"

#include <climits>

#include "common/errors.h"
#include "common/scope_exit.h"
#include "common/win32/guard.h"
#include "common/win32/step_counters.h"
#include "popup/FrmTindra.h"

namespace tindra::win32 {

namespace {

constexpr wchar_t kTickerClassName[] = L"TindraPopupTicker";
constexpr UINT_PTR kSourceTimerId = 1;
constexpr UINT kContinueMessage = WM_APP + 1;
// How often a long run of popup ticks looks for pokes and clicks waiting behind it.
// Each look is a round trip to the window server; half a tick period keeps a waiting
// poke's delay well under the period while most steps make no look at all.
constexpr double kSliceMs = kEffectIntervalMs / 2.0;
constexpr UINT kWaitingMessages = QS_POSTMESSAGE | QS_SENDMESSAGE | QS_INPUT;

// The schedule's clock: the performance counter the step counters read, in ms.
double NowMs() { return static_cast<double>(CounterUs()) / 1000.0; }

}  // namespace

PopupTicker& PopupTicker::Instance() {
  static PopupTicker ticker;
  return ticker;
}

PopupTicker::PopupTicker() : schedule_(kEffectIntervalMs) {}

void PopupTicker::Arm(TickTarget& target, int timer, int32_t intervalMs) {
  if (target.tickOwner_ == 0) {
    target.tickOwner_ = schedule_.NewOwner();
    targets_[target.tickOwner_] = &target;
  }
  const TickSchedule::Key key{target.tickOwner_, timer};
  schedule_.Arm(key, intervalMs, NowMs());
  NoteArmed(key, intervalMs);
  Reschedule();
}

void PopupTicker::Disarm(TickTarget& target, int timer) {
  // A target never armed has the number 0, which no owner has.
  const TickSchedule::Key key{target.tickOwner_, timer};
  schedule_.Disarm(key);
  NoteDisarmed(key);
  Reschedule();
}

void PopupTicker::DisarmAll(TickTarget& target) noexcept {
  const uint64_t owner = target.tickOwner_;
  if (owner == 0) return;
  schedule_.DisarmAll(owner);
  targets_.erase(owner);
  dueUs_.erase(dueUs_.lower_bound({owner, INT_MIN}), dueUs_.upper_bound({owner, INT_MAX}));
  // Ticks of its already taken from the schedule find no target and are dropped.
  target.tickOwner_ = 0;
  // A source tick with nothing due costs one message; the next one stops it.
}

void PopupTicker::NoteArmed(TickSchedule::Key key, int32_t intervalMs) {
  if (intervalMs != kEffectIntervalMs || !SharedStepCounters()) {
    NoteDisarmed(key);
    return;
  }
  dueUs_[key] = CounterUs() + kEffectIntervalMs * 1000LL;
}

void PopupTicker::NoteTickBegins(TickSchedule::Key key) {
  const auto it = dueUs_.find(key);
  if (it == dueUs_.end()) return;
  const int64_t now = CounterUs();
  CountTickLateness(now > it->second ? now - it->second : 0);
  it->second = now + kEffectIntervalMs * 1000LL;
}

void PopupTicker::NoteDisarmed(TickSchedule::Key key) noexcept { dueUs_.erase(key); }

void PopupTicker::Reschedule() {
  if (ticking_) return;
  if (!window_) {
    window_.reset(CreateWindowExW(0, RegisteredClass({.name = kTickerClassName}), L"", 0, 0, 0, 0,
                                  0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), this));
    if (!window_) Raise(kErrInvalidPropertyValue);
  }
  const double now = NowMs();
  const int32_t delay = schedule_.NextDelayMs(now);
  if (delay < 0) {
    if (sourceDelayMs_ >= 0) KillTimer(window_.get(), kSourceTimerId);
    sourceDelayMs_ = -1;
    return;
  }
  // A running source that already ticks in time is left alone: resetting it would
  // shift the ticks of every other popup.
  if (delay == sourceDelayMs_ && nextSourceTickMs_ <= now + delay + 1) return;
  if (!SetTimer(window_.get(), kSourceTimerId, static_cast<UINT>(delay), nullptr))
    Raise(kErrInvalidPropertyValue);
  sourceDelayMs_ = delay;
  nextSourceTickMs_ = now + delay;
}

void PopupTicker::OnSourceTick() {
  const double now = NowMs();
  nextSourceTickMs_ = now + sourceDelayMs_;
  // Still behind with the last tick: this one is not queued on top of it, as a
  // platform timer is not posted again while its message waits.
  if (!pending_.empty()) return;
  for (const TickSchedule::Key& key : schedule_.TakeDue(now)) pending_.push_back(key);
  RunPending();
}

void PopupTicker::RunPending() {
  ticking_ = true;
  const ScopeExit endTick([this] { ticking_ = false; });
  double sliceStart = NowMs();
  while (!pending_.empty()) {
    if (NowMs() - sliceStart >= kSliceMs) {
      // A poke or a click waiting in the queue goes first, as it would ahead of the
      // timer messages of separate platform timers; the rest of the tick follows it.
      bool waiting = false;
      {
        TimedWork timed(Work::kQueueLook);
        waiting = HIWORD(GetQueueStatus(kWaitingMessages)) != 0;
      }
      if (waiting && PostMessageW(window_.get(), kContinueMessage, 0, 0)) return;
      sliceStart = NowMs();
    }
    const TickSchedule::Key key = pending_.front();
    pending_.pop_front();
    // An earlier handler may have stopped this timer or unloaded its popup (which
    // disarms all of the popup's timers); a popup started meanwhile has a number of its
    // own.
    if (!schedule_.IsArmed(key)) continue;
    const auto target = targets_.find(key.owner);
    if (target == targets_.end()) continue;
    NoteTickBegins(key);
    target->second->OnTick(key.timer);
  }
}

LRESULT PopupTicker::HandleMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  const bool tick = message == WM_TIMER && wParam == kSourceTimerId;
  if (!tick && message != kContinueMessage) return DefWindowProcW(h, message, wParam, lParam);
  TimedWork timed(Work::kTicker);
  if (tick) {
    OnSourceTick();
  } else {
    RunPending();
  }
  Reschedule();
  return 0;
}

}  // namespace tindra::win32
