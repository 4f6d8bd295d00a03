// The records that keep a failed update from locking the user out.
#include "update/install_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/tests/fake_system.h"

namespace tindra {
namespace {

constexpr int64_t kDay = 24 * 60 * 60;
constexpr int64_t kT = 1'800'000'000;
// Two files' digests.
const std::string kForged(64, 'a');
const std::string kOther(64, 'b');

TEST(InstallRecords, BackOffSkipsTheFailedRevisionUntilItsTimeIsUp) {
  const FailedInstall once{28, kT, 1};
  const FailedInstall thrice{28, kT, 3};
  const FailedInstall refused{28, kT, 1, u"unsigned", kForged};
  const FailedInstall refusedByAnEarlierChecker{28, kT, 1, kEarlierRefusalReason};
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
      // A refused file holds back no revision: the file served next is checked.
      {"a file served for it was refused, at once", refused, 28, kT, true},
      {"an earlier checker refused a file served for it", refusedByAnEarlierChecker, 28, kT, true},
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
  const FailedInstall refusal{28, kT, 2, u"foreign signer", kForged};
  EXPECT_EQ(ParseFailedInstall(FormatFailedInstall(refusal)), refusal);
  EXPECT_EQ(ParseFailedInstall("failures=2\nwhen=5\nrevision=28\n"), (FailedInstall{28, 5, 2}));
  for (const std::string& bad : std::vector<std::string>{
           "", "revision=28\r\nwhen=5\r\n", "revision=x\nwhen=5\nfailures=1",
           "revision=28\nwhen=-5\nfailures=1", "revision=28\nwhen=5\nfailures=0", "<html>",
           "revision=28\nwhen=5\nfailures=1\nextra=1",
           "revision=28\nwhen=5\nfailures=1\nsha256=abc",
           "revision=28\nwhen=5\nfailures=1\nsha256=",
           "revision=28\nwhen=5\nfailures=1\nsha256=" + std::string(64, 'A'),
           "revision=28\nwhen=5\nfailures=1\nsha256=" + kForged + "\nsha256=" + kForged}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ParseFailedInstall(bad), std::nullopt);
  }
}

// A refusal drops only the very file refused, and only during its back-off; it never
// lengthens or cuts short the back-off of a release that failed once installed.
TEST(InstallRecords, ARefusalHoldsBackOnlyTheRefusedFile) {
  const FailedInstall refused{28, kT, 1, u"unsigned", kForged};
  struct Row {
    const char* what;
    std::optional<FailedInstall> record;
    int32_t revision;
    std::string served;
    int64_t now;
    bool dropped;
  };
  const Row rows[] = {
      {"the same file, an hour later", refused, 28, kForged, kT + 3600, true},
      {"another file for that revision", refused, 28, kOther, kT + 3600, false},
      {"the same file for another revision", refused, 29, kForged, kT + 3600, false},
      {"the same file, its back-off over", refused, 28, kForged, kT + kDay, false},
      {"the same file, the clock before the refusal", refused, 28, kForged, kT - 10, false},
      {"an install of that revision failed", FailedInstall{28, kT, 1}, 28, kForged, kT + 1, false},
      {"no record", std::nullopt, 28, kForged, kT, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(RefusedBefore(row.record, row.revision, row.served, row.now), row.dropped);
  }

  // The same file again counts on; another file, or an install's failure after
  // refusals, starts at one.
  const FailedInstall twice = NextRefusal(refused, 28, kForged, kT + kDay);
  EXPECT_EQ(twice, (FailedInstall{28, kT + kDay, 2, u"", kForged}));
  EXPECT_EQ(NextRefusal(twice, 28, kOther, kT + 1), (FailedInstall{28, kT + 1, 1, u"", kOther}));
  EXPECT_EQ(NextFailure(twice, 28, kT + 1), (FailedInstall{28, kT + 1, 1}));
  EXPECT_EQ(NextFailure(FailedInstall{28, kT, 1, kEarlierRefusalReason}, 28, kT + 1),
            (FailedInstall{28, kT + 1, 1}));
  EXPECT_EQ(NextRefusal(FailedInstall{28, kT, 2}, 28, kForged, kT + 1).failures, 1);

  // Recorded over a record: not over an install's failure of that revision or whose
  // back-off runs, nor without a digest (which would read as an install's failure).
  const std::u16string path = u"C:\\Prog\\Tindra_failed.txt";
  struct Over {
    const char* what;
    std::optional<FailedInstall> before;
    std::string digest;
    std::optional<FailedInstall> after;
  };
  const FailedInstall installFailed{27, kT - 3600, 1};
  const Over overs[] = {
      {"nothing", std::nullopt, kForged, FailedInstall{28, kT, 1, u"unsigned", kForged}},
      {"an install's failure, its back-off running", installFailed, kForged, installFailed},
      {"an install's failure, its back-off over", FailedInstall{27, kT - 2 * kDay, 1}, kForged,
       FailedInstall{28, kT, 1, u"unsigned", kForged}},
      {"an install's failure of that revision, its back-off over",
       FailedInstall{28, kT - 2 * kDay, 1}, kForged, FailedInstall{28, kT - 2 * kDay, 1}},
      {"no digest", std::nullopt, "", std::nullopt},
  };
  for (const Over& over : overs) {
    SCOPED_TRACE(over.what);
    testing::FakeSystem q;
    if (over.before) q.records[path] = *over.before;
    EXPECT_EQ(RecordRefusal(q, path, 28, over.digest, kT, u"unsigned"), over.after != over.before);
    EXPECT_EQ(q.records.contains(path) ? std::optional(q.records[path]) : std::nullopt, over.after);
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
      {"a file served for 28 was refused an hour ago", FailedInstall{28, kT, 1, u"", kForged}, 28,
       kT + 3600, true},
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
