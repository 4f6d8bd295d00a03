#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "popup/FrmTindra.h"

namespace tindra {
namespace {

using Key = TickSchedule::Key;

const uint64_t kOwnerA = 1, kOwnerB = 2;
const Key kA0{kOwnerA, 0}, kA1{kOwnerA, 1}, kB0{kOwnerB, 0};

// Source ticks at the given times; how often each key fired.
std::map<int, int> FiresOf(TickSchedule& s, const Key& key, const std::vector<double>& ticks) {
  std::map<int, int> fired;  // tick index -> times the key fired there
  for (size_t i = 0; i < ticks.size(); ++i)
    for (const Key& k : s.TakeDue(ticks[i]))
      if (k == key) fired[static_cast<int>(i)]++;
  return fired;
}

TEST(TickScheduleTest, AnEffectTimerFiresOnceAtEveryTickOfASourceRunningLate) {
  // A periodic platform timer keeps its own grid and is delivered late by varying
  // amounts; under half a period late, no tick of the logical timer is lost.
  struct Case {
    const char* name;
    std::vector<double> lateness;  // of tick i, due at 10 * (i + 1) ms
  } cases[] = {
      {"on time", {0, 0, 0, 0, 0, 0}},
      {"late by varying amounts", {4, 0, 2, 4.9, 0, 3}},
      {"each tick later than the one before", {1, 2, 3, 4, 4.5, 4.9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TickSchedule s(10);
    s.Arm(kA0, 10, 0.0);
    std::vector<double> ticks;
    for (size_t i = 0; i < c.lateness.size(); ++i) ticks.push_back(10.0 * (i + 1) + c.lateness[i]);
    const auto fired = FiresOf(s, kA0, ticks);
    for (size_t i = 0; i < ticks.size(); ++i) EXPECT_EQ(fired.count(static_cast<int>(i)), 1u) << i;
  }
}

TEST(TickScheduleTest, TheHoldFiresOnceAtTheFirstTickWithinHalfAPeriodOfItsEnd) {
  TickSchedule s(10);
  s.Arm(kA0, 2000, 3.0);  // due at 2003
  EXPECT_TRUE(s.TakeDue(1997.0).empty());
  EXPECT_EQ(s.TakeDue(1998.0), std::vector<Key>{kA0});
  EXPECT_TRUE(s.TakeDue(2008.0).empty());  // due again at 3998
  EXPECT_TRUE(s.IsArmed(kA0));
}

TEST(TickScheduleTest, DueTimersComeEarliestFirstThenInArmingOrder) {
  TickSchedule s(10);
  s.Arm(kB0, 10, 2.0);
  s.Arm(kA1, 10, 0.0);
  s.Arm(kA0, 10, 2.0);
  EXPECT_EQ(s.TakeDue(12.0), (std::vector<Key>{kA1, kB0, kA0}));
}

TEST(TickScheduleTest, StoppingRestartingAndUnloading) {
  TickSchedule s(10);
  s.Arm(kA0, 10, 0.0);
  s.Arm(kA1, 2000, 0.0);
  s.Arm(kB0, 10, 0.0);

  s.Arm(kA0, 10, 8.0);  // restarted: due at 18, not 10
  EXPECT_EQ(s.TakeDue(10.0), std::vector<Key>{kB0});
  EXPECT_EQ(s.TakeDue(20.0), (std::vector<Key>{kA0, kB0}));

  s.Disarm(kB0);
  EXPECT_FALSE(s.IsArmed(kB0));
  s.Arm(kA0, 0, 20.0);  // an interval of 0 cannot fire
  EXPECT_FALSE(s.IsArmed(kA0));
  s.DisarmAll(kOwnerA);
  EXPECT_TRUE(s.empty());
  EXPECT_TRUE(s.TakeDue(5000.0).empty());
}

TEST(TickScheduleTest, TheSourceTicksEveryPeriodOnlyWhileAnEffectRuns) {
  struct Case {
    const char* name;
    std::vector<std::pair<Key, int32_t>> armed;  // armed at 0 ms
    double now;
    int32_t delay;
  } cases[] = {
      {"nothing armed", {}, 0.0, -1},
      {"an effect", {{kA0, 10}}, 0.0, 10},
      {"an effect beside a hold", {{kA0, 10}, {kB0, 2000}}, 0.0, 10},
      {"a hold alone: until half a period before it ends", {{kB0, 2000}}, 0.0, 1995},
      {"a hold almost over", {{kB0, 2000}}, 1990.0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TickSchedule s(10);
    for (auto [key, interval] : c.armed) s.Arm(key, interval, 0.0);
    EXPECT_EQ(s.NextDelayMs(c.now), c.delay);
  }
}

// A popup that goes and a new one started after it (the platform may give it the same
// address) never share a number: a tick taken for the first, still to be handled when
// the second has armed its timers, finds its key no longer armed.
TEST(TickScheduleTest, AnOwnerGoneAndANewOneNeverShareANumber) {
  TickSchedule s(10);
  const uint64_t first = s.NewOwner();
  EXPECT_NE(first, 0u);
  s.Arm({first, 0}, 10, 0.0);
  const std::vector<Key> taken = s.TakeDue(10.0);
  ASSERT_EQ(taken, (std::vector<Key>{Key{first, 0}}));
  s.DisarmAll(first);  // clicked away before its tick was handled
  const uint64_t second = s.NewOwner();
  EXPECT_NE(second, first);
  s.Arm({second, 0}, 10, 10.0);
  EXPECT_FALSE(s.IsArmed(taken[0])) << "the old tick would reach the new popup";
  EXPECT_TRUE(s.IsArmed({second, 0}));
  std::vector<uint64_t> owners{first, second};
  for (int i = 0; i < 1000; ++i) {
    const uint64_t next = s.NewOwner();
    s.Arm({next, 0}, 10, 0.0);
    s.DisarmAll(next);
    owners.push_back(next);
  }
  std::sort(owners.begin(), owners.end());
  EXPECT_EQ(std::adjacent_find(owners.begin(), owners.end()), owners.end());
}

}  // namespace
}  // namespace tindra
