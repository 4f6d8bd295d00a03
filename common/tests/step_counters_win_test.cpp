#include <gtest/gtest.h>
#include <windows.h>

#include "common/win32/step_counters.h"

using namespace tindra::win32;

namespace {

int64_t Us(const StepCounters& c, Work w) { return c.work[static_cast<size_t>(w)].us; }
int64_t Count(const StepCounters& c, Work w) { return c.work[static_cast<size_t>(w)].count; }

}  // namespace

// Made the way the benchmark's client makes the section, before anything is counted.
TEST(StepCounters, NestedSpansCountOnlyTheirOwnTimeAndTheWaitShowsWhileOpen) {
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(StepCounters), kStepCountersName);
  ASSERT_TRUE(mapping);
  auto* view = static_cast<StepCounters*>(
      MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(StepCounters)));
  ASSERT_TRUE(view);
  view->version = 1;
  view->works = static_cast<uint32_t>(Work::kCount);
  ASSERT_EQ(SharedStepCounters(), SharedStepCounters());
  ASSERT_TRUE(SharedStepCounters());

  {
    TimedWork outer(Work::kPoke);
    Sleep(40);
    {
      TimedWork inner(Work::kMove);
      Sleep(80);
    }
    TimedWork second(Work::kMove);
    Sleep(10);
  }
  const StepCounters& c = *view;
  EXPECT_EQ(Count(c, Work::kPoke), 1);
  EXPECT_EQ(Count(c, Work::kMove), 2);
  // The poke's own 40 ms, not the 130 ms it lasted; a sleep may run long, not short.
  EXPECT_GE(Us(c, Work::kPoke), 39000);
  EXPECT_LT(Us(c, Work::kPoke), 80000);
  EXPECT_GE(Us(c, Work::kMove), 89000);
  EXPECT_EQ(Count(c, Work::kDraw), 0);

  {
    TimedWork wait(Work::kWaiting);
    EXPECT_NE(c.waitingSinceUs, 0);
    EXPECT_LE(c.waitingSinceUs, CounterUs());
  }
  EXPECT_EQ(c.waitingSinceUs, 0);
  EXPECT_EQ(Count(c, Work::kWaiting), 1);

  CountTickLateness(1500);
  CountTickLateness(500);
  EXPECT_EQ(c.lateTicks, 2);
  EXPECT_EQ(c.lateUs, 2000);
  UnmapViewOfFile(view);
  // The program's own view keeps the section alive.
  CloseHandle(mapping);
}
