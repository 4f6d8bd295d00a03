#pragma once
// Where the user-interface thread's time goes, for the benchmark: counts and
// performance-counter time of each kind of work, kept in a shared section that the
// benchmark's client creates (kStepCountersName). Without that section nothing is
// counted or timed. Times are exclusive: a timed span inside another counts only for
// itself. User-interface thread only.
#include <windows.h>

#include <cstdint>

namespace tindra::win32 {

inline constexpr wchar_t kStepCountersName[] = L"Local\\TindraStepCounters";

enum class Work : uint32_t {
  kMove,        // the window operation of a step (or of Start)
  kDraw,        // drawing a step's new rows
  kPopupLogic,  // the rest of a popup's tick
  kCreate,      // a popup's windows and resources created (its load)
  kShow,        // a popup made topmost and visible
  kUnload,      // a popup's unload: its windows destroyed
  kPaint,       // WM_PAINT of a popup's controls
  kTicker,      // the shared ticker: its schedule, its platform timer
  kQueueLook,   // the ticker looking for waiting pokes and clicks
  kPoke,        // a poke taken: decoded, placed, its popup started
  kWaiting,     // the message loop: waiting, and what the system does inside it
  kCount
};

struct WorkCounter {
  int64_t count;
  int64_t us;
};

// The section's layout; version 1.
struct StepCounters {
  uint32_t version;
  uint32_t works;
  WorkCounter work[static_cast<size_t>(Work::kCount)];
  // Effect ticks of popups and how late each came against "one interval after the
  // popup's previous tick began", the pace the popups' schedule aims at.
  int64_t lateTicks;
  int64_t lateUs;
  // When the wait the message loop is in now began (0: not waiting), so that a reader
  // can count the part of a long wait up to the moment it reads.
  int64_t waitingSinceUs;
};

// The shared counters, or null when no benchmark has made them (looked up once).
StepCounters* SharedStepCounters() noexcept;

// Counts and times one span of `work` while it lives.
class TimedWork {
 public:
  explicit TimedWork(Work work) noexcept;
  ~TimedWork();
  TimedWork(const TimedWork&) = delete;
  TimedWork& operator=(const TimedWork&) = delete;

 private:
  StepCounters* counters_;
  Work work_;
  int64_t start_ = 0;
  int64_t childUs_ = 0;
  TimedWork* parent_ = nullptr;
};

// Microseconds on the performance counter.
int64_t CounterUs() noexcept;

// Records an effect tick of a popup that began `lateUs` after it was due.
void CountTickLateness(int64_t lateUs) noexcept;

}  // namespace tindra::win32
