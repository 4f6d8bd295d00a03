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
  EXPECT_EQ(FailedInstallFileName(u"Tindra.exe"), u"Tindra_failed.txt");
}

TEST(InstallRules, ReplacerIsFetchedOnlyWhenMissingOrUntrustedAndKeptOnlyWhenTrustedInItsRole) {
  const std::u16string path = u"C:\\Prog\\Pellmora.exe";
  const std::u16string part = path + u".part";
  const std::u16string url = u"http://h/Pellmora.exe";
  struct Row {
    const char* what;
    Signature local;
    ProgramNames localNames;
    Signature served;
    ProgramNames servedNames;
    int16_t downloaded;
    bool trusted;
    std::vector<std::string> log;
  };
  const Signature good{SignatureStatus::kValid, "publisher key"};
  const Signature none{SignatureStatus::kNoSignature, ""};
  const ProgramNames replacer{u"Pellmora.exe", u"Pellmora"};
  const ProgramNames program{u"Tindra.exe", u"Tindra"};
  const std::string get = "download http://h/Pellmora.exe -> C:\\Prog\\Pellmora.exe.part";
  const std::string hold = "hold C:\\Prog\\Pellmora.exe.part rename";
  const std::string put = "move C:\\Prog\\Pellmora.exe.part -> C:\\Prog\\Pellmora.exe";
  const std::string release = "release C:\\Prog\\Pellmora.exe.part";
  const std::string drop = "remove C:\\Prog\\Pellmora.exe.part";
  const Row rows[] = {
      {"trusted already", good, replacer, good, replacer, -1, true, {}},
      {"missing or broken, fetched",
       none,
       replacer,
       good,
       replacer,
       -1,
       true,
       {get, hold, put, release}},
      {"the publisher's program in the replacer's place, repaired",
       good,
       program,
       good,
       replacer,
       -1,
       true,
       {get, hold, put, release}},
      {"broken, the server's is foreign too",
       none,
       replacer,
       {SignatureStatus::kValid, "other"},
       replacer,
       -1,
       false,
       {get, hold, release, drop}},
      {"broken, the server serves the publisher's program as the replacer",
       none,
       replacer,
       good,
       program,
       -1,
       false,
       {get, hold, release, drop}},
      {"broken, the download fails", none, replacer, good, replacer, 0, false, {get, drop}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    testing::FakeSystem p;
    p.logHolds = true;
    p.signatures[path] = row.local;
    p.names[path] = row.localNames;
    p.signatures[part] = row.served;
    p.names[part] = row.servedNames;
    p.downloadResults[url] = row.downloaded;
    EXPECT_EQ(EnsureTrustedCompanion(p.services(), url, path, u"Pellmora.exe"), row.trusted);
    EXPECT_EQ(p.log, row.log);
  }
}

TEST(InstallRules, HandOverIsGuardedWithAndWithoutARecord) {
  const FailedInstall failed28{28, kT, 1};
  struct Row {
    const char* what;
    std::optional<FailedInstall> record;
    std::optional<int32_t> revision;
    int64_t now;
    bool afterFailedHandOver;
    bool handOver;
  };
  const Row rows[] = {
      {"nothing failed", std::nullopt, 28, kT, false, true},
      {"the new program's revision cannot be told", std::nullopt, std::nullopt, kT, false, false},
      {"28 failed an hour ago", failed28, 28, kT + 3600, false, false},
      {"28 failed two days ago", failed28, 28, kT + 2 * kDay, false, true},
      {"28 failed, 29 is new", failed28, 29, kT + 1, false, true},
      {"no record could be written, right after the failure", std::nullopt, 28, kT, true, false},
      {"record and failure flag", failed28, 29, kT, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(MayHandOver(row.record, row.revision, row.now, row.afterFailedHandOver),
              row.handOver);
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
