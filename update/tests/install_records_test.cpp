// The records that keep a failed update from locking the user out.
#include "update/install_records.h"

#include <gtest/gtest.h>

namespace tindra {
namespace {

constexpr int64_t kDay = 24 * 60 * 60;
constexpr int64_t kT = 1'800'000'000;

TEST(InstallRecords, BackOffSkipsTheFailedRevisionUntilItsTimeIsUp) {
  const FailedInstall once{28, kT, 1};
  const FailedInstall thrice{28, kT, 3};
  struct Row {
    const char* what;
    std::optional<FailedInstall> record;
    int32_t latest;
    int64_t now;
    bool fetch;
  };
  const Row rows[] = {
      {"nothing failed", std::nullopt, 28, kT, true},
      {"the failed revision, at once", once, 28, kT, false},
      {"the failed revision, a minute short of a day", once, 28, kT + kDay - 60, false},
      {"the failed revision, a day later", once, 28, kT + kDay, true},
      {"a newer revision, at once", once, 29, kT + 1, true},
      {"third failure: four days", thrice, 28, kT + 4 * kDay - 1, false},
      {"third failure, four days later", thrice, 28, kT + 4 * kDay, true},
      {"the clock stands before the failure", once, 28, kT - 10, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(MayFetch(row.record, row.latest, row.now), row.fetch);
  }
  EXPECT_EQ(BackoffSeconds(40), 32 * kDay);
}

TEST(InstallRecords, FailuresOfOneRevisionAreCountedAndTheRecordReadsBack) {
  FailedInstall first = NextFailure(std::nullopt, 28, kT);
  EXPECT_EQ(first, (FailedInstall{28, kT, 1}));
  FailedInstall second = NextFailure(first, 28, kT + 5);
  EXPECT_EQ(second, (FailedInstall{28, kT + 5, 2}));
  EXPECT_EQ(NextFailure(second, 29, kT + 9), (FailedInstall{29, kT + 9, 1}));

  EXPECT_EQ(ParseFailedInstall(FormatFailedInstall(second)), second);
  EXPECT_EQ(ParseFailedInstall("failures=2\nwhen=5\nrevision=28\n"), (FailedInstall{28, 5, 2}));
  for (const char* bad : {"", "revision=28\r\nwhen=5\r\n", "revision=x\nwhen=5\nfailures=1",
                          "revision=28\nwhen=-5\nfailures=1", "revision=28\nwhen=5\nfailures=0",
                          "<html>", "revision=28\nwhen=5\nfailures=1\nextra=1"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ParseFailedInstall(bad), std::nullopt);
  }
}

TEST(InstallRecords, HandOverIsGuardedWithAndWithoutARecord) {
  const FailedInstall failed28{28, kT, 1};
  struct Row {
    const char* what;
    std::optional<FailedInstall> record;
    std::optional<int32_t> revision;
    int64_t now;
    bool handOver;
  };
  const Row rows[] = {
      {"nothing failed", std::nullopt, 28, kT, true},
      {"the new program's revision cannot be told", std::nullopt, std::nullopt, kT, false},
      {"28 failed an hour ago", failed28, 28, kT + 3600, false},
      {"28 failed two days ago", failed28, 28, kT + 2 * kDay, true},
      {"28 failed, 29 is new", failed28, 29, kT + 1, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(MayHandOver(row.record, row.revision, row.now), row.handOver);
  }
}

TEST(InstallRecords, PendingInstallReadsBackAndNothingElseDoes) {
  const PendingInstall pending{28, 1700000000};
  EXPECT_EQ(FormatPendingInstall(pending), "revision=28\r\nwhen=1700000000\r\n");
  EXPECT_EQ(ParsePendingInstall(FormatPendingInstall(pending)), pending);
  EXPECT_EQ(ParsePendingInstall("when=5\nrevision=28\n"), (PendingInstall{28, 5}));
  for (const char* damaged :
       {"", "revision=28\r\n", "revision=28\r\nwhen=-1\r\n",
        "revision=28\r\nrevision=29\r\nwhen=1\r\n", "revision=28\r\nwhen=1\r\nfailures=1\r\n",
        "revision=x\nwhen=1\n", "revision=4294967296\nwhen=1\n"}) {
    SCOPED_TRACE(damaged);
    EXPECT_EQ(ParsePendingInstall(damaged), std::nullopt);
  }
}

}  // namespace
}  // namespace tindra
