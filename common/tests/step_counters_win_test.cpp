#include <gtest/gtest.h>
#include <windows.h>

#include <memory>

#include "common/win32/window.h"
#include "tools/harness/win_support.h"

using namespace tindra::win32;

namespace {

int64_t Us(const StepCounters& c, Work w) { return c.work[static_cast<size_t>(w)].us; }
int64_t Count(const StepCounters& c, Work w) { return c.work[static_cast<size_t>(w)].count; }

}  // namespace

// The section made by the benchmark's client, before anything is counted.
TEST(StepCounters, NestedSpansCountOnlyTheirOwnTimeAndTheWaitShowsWhileOpen) {
  auto section = std::make_unique<tindra::test::StepCountersSection>();
  StepCounters* view = section->view();
  ASSERT_TRUE(view);
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
  // The program's own view keeps the section alive.
  section.reset();
}
