// The rules that keep a failed update from locking the user out.
#include "update/install_rules.h"

#include <gtest/gtest.h>

#include "update/tests/fake_system.h"

namespace tindra {
namespace {

constexpr int64_t kDay = 24 * 60 * 60;
constexpr int64_t kT = 1'800'000'000;

TEST(InstallRules, BackOffSkipsTheFailedRevisionUntilItsTimeIsUp) {
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

TEST(InstallRules, FailuresOfOneRevisionAreCountedAndTheRecordReadsBack) {
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

TEST(InstallRules, ReplacerIsFetchedWhenMissingUntrustedOrBelowTheFloorAndKeptOnlyWhenTrusted) {
  const std::u16string path = u"C:\\Prog\\Pellmora.exe";
  const std::u16string part = path + u".part";
  const std::u16string url = u"http://h/Pellmora.exe";
  struct Row {
    const char* what;
    bool present;
    Signature local;
    ProgramNames localNames;
    std::u16string localVersion;
    Signature served;
    ProgramNames servedNames;
    std::u16string servedVersion;
    int16_t downloaded;
    bool trusted;
    std::vector<std::string> log;
  };
  const Signature good{SignatureStatus::kValid, "publisher key"};
  const Signature none{SignatureStatus::kNoSignature, ""};
  const ProgramNames replacer{u"Pellmora.exe", u"Pellmora"};
  const ProgramNames program{u"Tindra.exe", u"Tindra"};
  const std::string look = "hold C:\\Prog\\Pellmora.exe run";
  const std::string lookCheck = "check C:\\Prog\\Pellmora.exe";
  const std::string lookDone = "release C:\\Prog\\Pellmora.exe";
  const std::string get = "download http://h/Pellmora.exe -> C:\\Prog\\Pellmora.exe.part";
  const std::string hold = "hold C:\\Prog\\Pellmora.exe.part rename";
  const std::string check = "check C:\\Prog\\Pellmora.exe.part";
  const std::string put = "move C:\\Prog\\Pellmora.exe.part -> C:\\Prog\\Pellmora.exe";
  const std::string release = "release C:\\Prog\\Pellmora.exe.part";
  const std::string drop = "remove C:\\Prog\\Pellmora.exe.part";
  const std::vector<std::string> looked = {look, lookCheck, lookDone};
  auto then = [&](std::vector<std::string> more) {
    std::vector<std::string> all = looked;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const Row rows[] = {
      {"trusted already", true, good, replacer, u"1.00.27", good, replacer, u"1.00.27", -1, true,
       looked},
      {"broken, fetched", true, none, replacer, u"1.00.27", good, replacer, u"1.00.27", -1, true,
       then({get, hold, check, put, release})},
      {"missing, fetched",
       false,
       none,
       replacer,
       u"",
       good,
       replacer,
       u"1.00.27",
       -1,
       true,
       {look, get, hold, check, put, release}},
      {"missing, the server's is below the floor",
       false,
       none,
       replacer,
       u"",
       good,
       replacer,
       u"1.00.26",
       -1,
       false,
       {look, get, hold, check, release, drop}},
      {"broken, the server's is below the floor", true, none, replacer, u"1.00.27", good, replacer,
       u"1.00.26", -1, false, then({get, hold, check, release, drop})},
      {"trusted but below the floor, replaced", true, good, replacer, u"1.00.26", good, replacer,
       u"1.00.28", -1, true, then({get, hold, check, put, release})},
      {"the publisher's program in the replacer's place, repaired", true, good, program, u"1.00.27",
       good, replacer, u"1.00.27", -1, true, then({get, hold, check, put, release})},
      {"broken, the server's is foreign too",
       true,
       none,
       replacer,
       u"1.00.27",
       {SignatureStatus::kValid, "other"},
       replacer,
       u"1.00.27",
       -1,
       false,
       then({get, hold, check, release, drop})},
      {"broken, the server serves the publisher's program as the replacer", true, none, replacer,
       u"1.00.27", good, program, u"1.00.27", -1, false, then({get, hold, check, release, drop})},
      {"broken, the download fails", true, none, replacer, u"1.00.27", good, replacer, u"1.00.27",
       0, false, then({get, drop})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    testing::FakeSystem p;
    p.logHolds = true;
    if (row.present) p.AddFile(path);
    p.signatures[path] = row.local;
    p.names[path] = row.localNames;
    p.versions[path] = row.localVersion;
    p.signatures[part] = row.served;
    p.names[part] = row.servedNames;
    p.versions[part] = row.servedVersion;
    p.downloadResults[url] = row.downloaded;
    EXPECT_EQ(EnsureTrustedCompanion(p.services(), url, path, u"Pellmora.exe", 27), row.trusted);
    EXPECT_EQ(p.log, row.log);
  }
}

TEST(InstallRules, AHeldFileIsCheckedAsItWasWhenHeldAndMovesWithItsEntry) {
  testing::FakeSystem p;
  const std::u16string part = u"C:\\Prog\\Vantorel.exe.part";
  const std::u16string target = u"C:\\Prog\\Vantorel.exe";
  p.AddFile(part);
  p.versions[part] = u"1.00.28";
  std::unique_ptr<HeldFile> held = p.Hold(part, HoldFor::kRename);
  ASSERT_TRUE(held);
  // Whatever comes to the path after the hold is not what the check reads.
  p.signatures[part] = Signature{SignatureStatus::kValid, "other"};
  p.versions[part] = u"1.00.26";
  const ProgramCheck check = CheckHeldProgram(p, *held, u"Vantorel.exe");
  EXPECT_EQ(check.verdict, ProgramVerdict::kTrusted);
  EXPECT_EQ(check.revision, 28);
  EXPECT_EQ(p.CheckFile(part, u"Vantorel.exe").verdict, ProgramVerdict::kForeign);
  // The move renames the entry: the file and what it holds are at the target now.
  ASSERT_TRUE(held->MoveOver(target));
  EXPECT_FALSE(p.HasFile(part));
  EXPECT_TRUE(p.HasFile(target));
  EXPECT_EQ(p.versions[target], u"1.00.26");
  // A name with nothing at it cannot be held.
  EXPECT_FALSE(p.Hold(part, HoldFor::kRun));
}

TEST(InstallRules, HandOverIsGuardedWithAndWithoutARecord) {
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

TEST(InstallRules, OnlyAnAbnormalEndBeforeReadyRollsBack) {
  struct Row {
    const char* what;
    FirstRun run;
    bool rollBack;
  };
  const Row rows[] = {
      {"ready", {true, false, 0}, false},
      {"ready, then ended", {true, true, 1}, false},
      {"crashed at start", {false, true, 0xC0000005u}, true},
      {"ended with an error code", {false, true, 1}, true},
      {"ended normally before ready", {false, true, 0}, false},
      {"still starting when the wait ended", {false, false, 0}, false},
      {"stuck when the wait ended, and ended", {false, true, 1460, true}, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(ShouldRollBack(row.run), row.rollBack);
  }
}

TEST(InstallRules, PendingInstallReadsBackAndNothingElseDoes) {
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
