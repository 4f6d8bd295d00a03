#include "common/win32/window.h"

namespace tindra::win32 {

namespace {
TimedWork* g_innermost = nullptr;
}

int64_t CounterUs() noexcept {
  static const int64_t frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER c{};
  QueryPerformanceCounter(&c);
  return c.QuadPart / frequency * 1000000 + c.QuadPart % frequency * 1000000 / frequency;
}

StepCounters* SharedStepCounters() noexcept {
  static StepCounters* const counters = []() -> StepCounters* {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kStepCountersName);
    if (!mapping) return nullptr;
    // The view stays for the life of the process; the mapping lives on in it.
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(StepCounters));
    CloseHandle(mapping);
    auto* c = static_cast<StepCounters*>(view);
    if (c && (c->version != 1 || c->works != static_cast<uint32_t>(Work::kCount))) {
      UnmapViewOfFile(view);
      return nullptr;
    }
    return c;
  }();
  return counters;
}

TimedWork::TimedWork(Work work) noexcept
    : counters_(work == Work::kNone ? nullptr : SharedStepCounters()), work_(work) {
  if (!counters_) return;
  parent_ = g_innermost;
  g_innermost = this;
  start_ = CounterUs();
  if (work_ == Work::kWaiting) counters_->waitingSinceUs = start_;
}

TimedWork::~TimedWork() {
  if (!counters_) return;
  const int64_t elapsed = CounterUs() - start_;
  WorkCounter& c = counters_->work[static_cast<size_t>(work_)];
  c.count += 1;
  c.us += elapsed - childUs_;
  if (parent_) parent_->childUs_ += elapsed;
  if (work_ == Work::kWaiting) counters_->waitingSinceUs = 0;
  g_innermost = parent_;
}

void CountTickLateness(int64_t lateUs) noexcept {
  StepCounters* c = SharedStepCounters();
  if (!c) return;
  c->lateTicks += 1;
  c->lateUs += lateUs;
}

}  // namespace tindra::win32
