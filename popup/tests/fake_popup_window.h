#pragma once
// A popup window for tests: it records where it was created and moved, runs the four
// timers on a simulated clock, and records what else was done.
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "popup/FrmTindra.h"

namespace tindra::testing {

class FakePopupWindow : public PopupWindow {
 public:
  // A window at `twipsPerPixel` on both axes, whose popup keeps `popupCount`.
  FakePopupWindow(float twipsPerPixel, int32_t& popupCount)
      : core_(*this, popupCount, PixelScale{twipsPerPixel, twipsPerPixel}) {
    for (size_t i = 0; i < timers_.size(); ++i)
      timers_[i].interval = InitialInterval(static_cast<PopupTimer>(i));
  }

  FrmTindra& core() { return core_; }

  // --- PopupWindow ---
  void Create(const PixelRect& rect) override {
    if (created_) throw std::logic_error("window created twice");
    created_ = true;
    rect_ = rect;
  }
  void Move(const PixelRect& rect) override {
    RequireLoaded();
    if (unloaded_) movesAfterUnload++;
    rect_ = rect;
    moves.push_back(rect_);
  }
  void ShowLook(const PopupLook& shown) override {
    RequireLoaded();
    looksShown++;
    look = shown;
    caption = WindowText(shown);
  }
  void SetTimerInterval(PopupTimer timer, int32_t milliseconds) override {
    Timer& t = timers_[Index(timer)];
    t.interval = milliseconds;
    if (t.enabled) t.due = now_ + milliseconds;
  }
  void SetTimerEnabled(PopupTimer timer, bool enabled) override {
    Timer& t = timers_[Index(timer)];
    if (enabled && !t.enabled) t.due = now_ + t.interval;
    t.enabled = enabled;
    timerLog.push_back({timer, enabled});
  }
  void ShowTopmost() override { shownTopmost++; }
  void Announce(const std::u16string& text) override {
    // Only a shown popup is announced.
    announcements.push_back(shownTopmost > 0 ? text : u"<not shown> " + text);
  }
  void Unload() override {
    unloadCalls++;
    core_.Form_Unload();
    unloaded_ = true;
  }
  DisplayPreferences Preferences() override {
    preferenceReads++;
    return preferences;
  }
  std::optional<ScreenPoint> PointerPosition() override {
    pointerReads++;
    return pointer;
  }
  bool TrackPointerLeave() override {
    leaveTracks++;
    return leaveTrackable;
  }

  // --- the simulated clock ---
  // Fires due timers in time order until `milliseconds` have passed or nothing is
  // left to fire.
  void RunFor(int64_t milliseconds) {
    const int64_t end = now_ + milliseconds;
    for (;;) {
      Timer* next = nullptr;
      size_t nextIndex = 0;
      for (size_t i = 0; i < timers_.size(); ++i) {
        Timer& t = timers_[i];
        if (!t.enabled || t.interval <= 0) continue;
        if (!next || t.due < next->due) next = &t, nextIndex = i;
      }
      if (!next || next->due > end) break;
      now_ = next->due;
      next->due += next->interval;
      ticks[nextIndex]++;
      if (unloaded_) ticksAfterUnload++;
      Fire(static_cast<PopupTimer>(nextIndex));
    }
    now_ = end;
  }
  void Fire(PopupTimer timer) { core_.Timer(timer); }

  bool TimerRunning(PopupTimer timer) const {
    const Timer& t = timers_[Index(timer)];
    return t.enabled && t.interval > 0;
  }
  int32_t TimerInterval(PopupTimer timer) const { return timers_[Index(timer)].interval; }
  int TickCount(PopupTimer timer) const { return ticks[Index(timer)]; }
  int64_t now() const { return now_; }
  bool unloaded() const { return unloaded_; }
  PixelRect rect() const { return rect_; }

  // The system's settings, as the test sets them.
  DisplayPreferences preferences;
  int preferenceReads = 0;
  // Where the pointer is (nothing: the system cannot tell), and whether its leave can
  // be tracked.
  std::optional<ScreenPoint> pointer = ScreenPoint{0, 0};
  int pointerReads = 0;
  bool leaveTrackable = true;
  int leaveTracks = 0;
  PopupLook look;
  int looksShown = 0;
  int shownTopmost = 0;
  std::vector<std::u16string> announcements;
  std::u16string caption;
  int unloadCalls = 0;
  int movesAfterUnload = 0;
  int ticksAfterUnload = 0;
  std::vector<PixelRect> moves;
  struct TimerChange {
    PopupTimer timer;
    bool enabled;
    bool operator==(const TimerChange&) const = default;
  };
  std::vector<TimerChange> timerLog;
  std::array<int, 4> ticks{};

 private:
  struct Timer {
    int32_t interval = 0;
    bool enabled = false;
    int64_t due = 0;
  };
  static size_t Index(PopupTimer t) { return static_cast<size_t>(t); }
  void RequireLoaded() const {
    if (!created_) throw std::logic_error("control used before the window was loaded");
  }

  FrmTindra core_;
  PixelRect rect_{};
  std::array<Timer, 4> timers_{};
  int64_t now_ = 0;
  bool created_ = false;
  bool unloaded_ = false;
};

}  // namespace tindra::testing
