// The start-up update over a scripted platform: the steps, the hand-over, and where
// each procedure goes on after an error at each of its statements.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "update/modAutoUpdateV1_Launcher.h"
#include "update/processes.h"
#include "update/tests/fake_system.h"

namespace tindra {
namespace {

using testing::FakeSystem;
using testing::ProcessEnded;
using Log = std::vector<std::string>;

const std::u16string kHost = u"127.0.0.1";
const std::string kBase = "http://127.0.0.1/download/자동업데이트_v1/";
const std::string kVersionUrl = kBase + "Vantorel_lastver.txt";
const std::u16string kVersionUrl16 =
    u"http://127.0.0.1/download/자동업데이트_v1/Vantorel_lastver.txt";

const std::string kFindChecker = "find C:\\Prog\\Vantorel.exe";
const std::string kRead = "read " + kVersionUrl;
// A companion is downloaded beside its target and moved over it once checked.
const std::string kGetChecker = "download " + kBase + "Vantorel.exe -> C:\\Prog\\Vantorel.exe.part";
const std::string kPutChecker = "move C:\\Prog\\Vantorel.exe.part -> C:\\Prog\\Vantorel.exe";
const std::string kDropChecker = "remove C:\\Prog\\Vantorel.exe.part";
const std::string kGetReplacer =
    "download " + kBase + "Pellmora.exe -> C:\\Prog\\Pellmora.exe.part";
const std::string kPutReplacer = "move C:\\Prog\\Pellmora.exe.part -> C:\\Prog\\Pellmora.exe";
const std::string kDropReplacer = "remove C:\\Prog\\Pellmora.exe.part";
const std::u16string kCheckerPart = u"C:\\Prog\\Vantorel.exe.part";
const std::string kCannotRead = "box 16 Vantorel.exe의 최신버전 정보를 읽어올 수 없습니다!";
const std::string kSelfError =
    "box 0 Error 76 (Path not found) in procedure AutoUpdaterSelfUpdate of Module "
    "modAutoUpdateV1_Launcher";
const std::string kSelfOverflow =
    "box 0 Error 6 (Overflow) in procedure AutoUpdaterSelfUpdate of Module "
    "modAutoUpdateV1_Launcher";
const std::string kRunError =
    "box 0 Error 76 (Path not found) in procedure RunAutoUpdate of Module "
    "modAutoUpdateV1_Launcher";

class UpdateTest : public ::testing::Test {
 protected:
  // A local checker of the given version (nullopt: none) and the server's text; the
  // server's checker carries revision 27.
  void Checker(std::optional<std::u16string> version, std::u16string latest) {
    Serve(p, version, latest);
  }
  static void Serve(FakeSystem& q, std::optional<std::u16string> version, std::u16string latest) {
    if (version) {
      q.AddFile(u"C:\\Prog\\Vantorel.exe");
      q.versions[u"C:\\Prog\\Vantorel.exe"] = *version;
    }
    q.urlTexts[kVersionUrl16] = latest;
    q.versions[kCheckerPart] = u"1.00.27";
  }

  // Runs RunAutoUpdate; true when it ended the process.
  bool Run(int16_t skip = 0) {
    try {
      RunAutoUpdate(p.services(), kHost, skip);
    } catch (const ProcessEnded&) {
      return true;
    }
    return false;
  }

  FakeSystem p;
};

// ---- AutoUpdaterSelfUpdate

TEST_F(UpdateTest, CurrentCheckerDownloadsNothing) {
  Checker(u"1.00.27", u"27");
  EXPECT_EQ(AutoUpdaterSelfUpdate(p.services(), kHost), -1);
  EXPECT_EQ(p.log, (Log{kFindChecker, kRead}));
}

TEST_F(UpdateTest, OlderCheckerFetchesBothCompanions) {
  Checker(u"1.00.26", u"27\r\n");
  EXPECT_EQ(AutoUpdaterSelfUpdate(p.services(), kHost), -1);
  EXPECT_EQ(p.log,
            (Log{kFindChecker, kRead, kGetChecker, kPutChecker, kGetReplacer, kPutReplacer}));
}

// The local revision (the last dotted part, unrounded) against the latest one
// (rounded halves to even): both companions are fetched exactly when local < latest.
TEST_F(UpdateTest, LocalAgainstLatestRevision) {
  struct Row {
    std::optional<std::u16string> local;
    std::u16string latest;
    bool fetch;
    std::u16string served;  // the version of the checker the server sends
  };
  const Row rows[] = {
      {u"1.00.31", u"27", false, u""},
      {u"1.00.27", u"27", false, u""},
      {u"9.99.26", u"27", true, u"1.00.0027"},
      {u"Not specified", u"27", true, u"1.00.27"},
      {u"", u"27", true, u"1.00.27"},
      {std::nullopt, u"1", true, u"1.00.1"},
      {std::nullopt, u"0", false, u""},
      {u"1.00.27", u"27.5", true, u"1.00.28"},
      {u"1.00.28", u"28.5", false, u""},
      {u"1.00.275e-1", u"28", true, u"1.00.28"},
      {u"1.00.27", u" 28 \r\n", true, u"1.00.28"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.latest.begin(), row.latest.end()));
    FakeSystem q;
    Serve(q, row.local, row.latest);
    q.versions[kCheckerPart] = row.served;
    EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), -1);
    EXPECT_EQ(q.log.back() == kPutReplacer, row.fetch);
    EXPECT_EQ(q.log.size(), 2u + (row.fetch ? 4u : 0u));
  }
}

TEST_F(UpdateTest, LatestBeyond32BitsIsOverflowThenNoDownload) {
  Checker(std::nullopt, u"2147483648");
  EXPECT_EQ(AutoUpdaterSelfUpdate(p.services(), kHost), -1);
  EXPECT_EQ(p.log, (Log{kFindChecker, kRead, kSelfOverflow}));
}

TEST_F(UpdateTest, EmptyOrBlankVersionTextIsReported) {
  for (std::u16string text : {u"", u"   "}) {
    FakeSystem q;
    q.urlTexts[kVersionUrl16] = text;
    EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), 0);
    EXPECT_EQ(q.log, (Log{kFindChecker, kRead, kCannotRead}));
  }
}

TEST_F(UpdateTest, ErrorPageReadsAsZero) {
  // Only spaces are trimmed: a line break is a text, and an HTML page reads as 0.
  for (std::u16string text : {u"\r\n", u"<html><head><title>"}) {
    FakeSystem q;
    q.AddFile(u"C:\\Prog\\Vantorel.exe");
    q.versions[u"C:\\Prog\\Vantorel.exe"] = u"1.00.27";
    q.urlTexts[kVersionUrl16] = text;
    EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), -1);
    EXPECT_EQ(q.log, (Log{kFindChecker, kRead}));
  }
}

// A failed download leaves the update to a trusted checker, in place or just fetched;
// without one it stops.
TEST_F(UpdateTest, FailedDownloadsStopOnlyWithoutATrustedChecker) {
  Checker(u"1.00.26", u"27");
  p.downloadResults[u"http://127.0.0.1/download/자동업데이트_v1/Vantorel.exe"] = false;
  EXPECT_EQ(AutoUpdaterSelfUpdate(p.services(), kHost), -1);
  EXPECT_EQ(p.log.back(), kDropChecker);  // the replacer is not fetched

  FakeSystem q;
  Serve(q, std::nullopt, u"27");
  q.downloadResults[u"http://127.0.0.1/download/자동업데이트_v1/Pellmora.exe"] = false;
  EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), -1);
  EXPECT_EQ(q.log.back(), kDropReplacer);

  FakeSystem r;
  Serve(r, std::nullopt, u"27");
  r.downloadResults[u"http://127.0.0.1/download/자동업데이트_v1/Vantorel.exe"] = false;
  EXPECT_EQ(AutoUpdaterSelfUpdate(r.services(), kHost), 0);
  EXPECT_EQ(r.log.back(), kDropChecker);
}

// A companion that fails any check is removed and never moved over the old one;
// a failing checker stops the replacer from being fetched.
TEST_F(UpdateTest, CompanionsAreCheckedBeforeTheyReplaceAnything) {
  struct Row {
    const char* fault;
    std::function<void(FakeSystem&)> make;
    Log tail;
  };
  const std::u16string replacerPart = u"C:\\Prog\\Pellmora.exe.part";
  const Row rows[] = {
      {"checker signed by another key",
       [&](FakeSystem& q) {
         q.signatures[kCheckerPart] = {SignatureStatus::kValid, "another key"};
       },
       {kGetChecker, kDropChecker}},
      {"checker tampered",
       [&](FakeSystem& q) {
         q.signatures[kCheckerPart] = {SignatureStatus::kBadDigest, ""};
       },
       {kGetChecker, kDropChecker}},
      {"checker is a web page",
       [&](FakeSystem& q) { q.heads[kCheckerPart] = "<html><body>portal</body></html>"; },
       {kGetChecker, kDropChecker}},
      {"checker of an older revision",
       [&](FakeSystem& q) { q.versions[kCheckerPart] = u"1.00.25"; },
       {kGetChecker, kDropChecker}},
      {"checker cannot be moved into place",
       [&](FakeSystem& q) { q.moveFails = true; },
       {kGetChecker, kPutChecker, kDropChecker}},
      {"replacer unsigned",
       [&](FakeSystem& q) {
         q.signatures[replacerPart] = {SignatureStatus::kNoSignature, ""};
       },
       {kGetChecker, kPutChecker, kGetReplacer, kDropReplacer}},
      {"checker in the replacer's role",
       [&](FakeSystem& q) {
         q.names[kCheckerPart] = {u"Pellmora.exe", u"Pellmora"};
       },
       {kGetChecker, kDropChecker}},
      {"replacer in the program's role",
       [&](FakeSystem& q) {
         q.names[replacerPart] = {u"Tindra.exe", u"Tindra"};
       },
       {kGetChecker, kPutChecker, kGetReplacer, kDropReplacer}},
      {"replacer older than the trusted one in place",
       [&](FakeSystem& q) {
         q.AddFile(u"C:\\Prog\\Pellmora.exe");
         q.versions[u"C:\\Prog\\Pellmora.exe"] = u"1.00.27";
         q.versions[replacerPart] = u"1.00.26";
       },
       {kGetChecker, kPutChecker, kGetReplacer, kDropReplacer}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    FakeSystem q;
    Serve(q, u"1.00.26", u"27");
    row.make(q);
    // A checker that arrives and is refused is recorded by its digest before it goes;
    // the trusted checker, in place or just fetched, still runs.
    const bool refusedChecker = row.tail == Log{kGetChecker, kDropChecker};
    const std::string digest = q.DigestOf(kCheckerPart);
    EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), -1);
    Log expected{kFindChecker, kRead};
    expected.insert(expected.end(), row.tail.begin(), row.tail.end());
    if (refusedChecker) {
      expected.insert(expected.end() - 1,
                      "record C:\\Prog\\Vantorel_failed.txt 27 1 refused " + digest);
    }
    EXPECT_EQ(q.log, expected);
  }
}

TEST_F(UpdateTest, ReplacerOfTheSameOrANewerRevisionReplacesTheOneInPlace) {
  for (std::u16string served : {u"1.00.27", u"1.00.30"}) {
    FakeSystem q;
    Serve(q, u"1.00.26", u"27");
    q.versions[u"C:\\Prog\\Pellmora.exe"] = u"1.00.27";
    q.versions[u"C:\\Prog\\Pellmora.exe.part"] = served;
    EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), -1);
    EXPECT_EQ(q.log.back(), kPutReplacer);
  }
}

// No companion below the build's floor is kept, whether or not one is in place.
TEST_F(UpdateTest, NoCompanionBelowItsFloorIsKept) {
  struct Row {
    const char* what;
    std::optional<std::u16string> localChecker;
    std::u16string latest;
    std::u16string servedChecker;
    std::u16string servedReplacer;
    int16_t result;
    bool replacerKept;
  };
  const Row rows[] = {
      {"no checker in place, the server's below the floor", std::nullopt, u"26", u"1.00.26",
       u"1.00.27", 0, false},
      {"no replacer in place, the server's below the floor: the checker fetched runs", std::nullopt,
       u"27", u"1.00.27", u"1.00.26", -1, false},
      {"both at the floor", std::nullopt, u"27", u"1.00.27", u"1.00.27", -1, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    q.floors = ReleaseFloors{27, 27, 27};
    Serve(q, row.localChecker, row.latest);
    q.versions[kCheckerPart] = row.servedChecker;
    q.versions[u"C:\\Prog\\Pellmora.exe.part"] = row.servedReplacer;
    EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), row.result);
    EXPECT_EQ(q.HasFile(u"C:\\Prog\\Pellmora.exe"), row.replacerKept);
  }
}

// A refused checker holds back nothing genuine: the same file served again is dropped
// unchecked and not recorded again, while the trusted checker in place runs, and the
// genuine checker is kept as soon as it is served. An earlier revision's record of a
// refusal (by the revision alone) holds nothing back either.
TEST_F(UpdateTest, ARefusedCheckerHoldsBackOnlyThatFile) {
  const std::u16string record = u"C:\\Prog\\Vantorel_failed.txt";
  struct Row {
    const char* what;
    std::function<void(FakeSystem&)> forge;
  };
  const Row rows[] = {
      {"unsigned",
       [](FakeSystem& q) {
         q.signatures[kCheckerPart] = {SignatureStatus::kNoSignature, ""};
       }},
      {"another publisher's",
       [](FakeSystem& q) {
         q.signatures[kCheckerPart] = {SignatureStatus::kValid, "other key"};
       }},
      {"the publisher's older checker",
       [](FakeSystem& q) { q.versions[kCheckerPart] = u"1.00.26"; }},
      {"the publisher's replacer as the checker",
       [](FakeSystem& q) {
         q.names[kCheckerPart] = {u"Pellmora.exe", u"Pellmora"};
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    Serve(q, u"1.00.26", u"27");
    row.forge(q);
    const std::string forged = q.DigestOf(kCheckerPart);
    EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), -1);
    EXPECT_EQ(q.records[record].refusedSha256, forged);

    q.now += 3600;
    q.log.clear();
    EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), -1);
    EXPECT_EQ(q.log, (Log{kFindChecker, kRead, kGetChecker, kDropChecker}));
    EXPECT_EQ(q.records[record].failures, 1);

    q.signatures.erase(kCheckerPart);
    q.names.erase(kCheckerPart);
    q.versions[kCheckerPart] = u"1.00.27";
    q.log.clear();
    EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), -1);
    EXPECT_EQ(q.versions[u"C:\\Prog\\Vantorel.exe"], u"1.00.27");
    EXPECT_EQ(q.log.back(), kPutReplacer);
  }
  FakeSystem q;
  Serve(q, u"1.00.26", u"27");
  q.records[record] = FailedInstall{27, q.now - 3600, 1};
  EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), -1);
  EXPECT_EQ(q.log.back(), kPutReplacer) << ::testing::PrintToString(q.log);
}

TEST_F(UpdateTest, UnsignedBuildFetchesNothing) {
  // It would trust nothing it fetched: the companions stay on the server.
  Checker(u"1.00.26", u"27");
  p.own = {SignatureStatus::kNoSignature, ""};
  EXPECT_EQ(AutoUpdaterSelfUpdate(p.services(), kHost), -1);
  EXPECT_EQ(p.log, (Log{kFindChecker, kRead}));
}

// The decision alone: whether the companions are fetched, under which rules, and
// whether the checker in place runs when the fetch brings none.
TEST(PlanCompanions, FetchesAnOlderCheckerUnlessTheBuildSaysNo) {
  struct Row {
    const char* what;
    std::optional<int32_t> inPlace;
    int32_t announced;
    bool signedBuild;
    CompanionStep step;
  };
  const Row rows[] = {
      {"no checker in place", std::nullopt, 27, true, CompanionStep::kFetch},
      {"an older one", 26, 27, true, CompanionStep::kFetch},
      {"the announced one", 27, 27, true, CompanionStep::kCurrent},
      {"a newer one", 31, 27, true, CompanionStep::kCurrent},
      {"none, and nothing announced", std::nullopt, 0, true, CompanionStep::kCurrent},
      {"an unsigned build", 26, 27, false, CompanionStep::kUnsignedBuild},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    for (const ReleaseFloors floors : {ReleaseFloors{}, ReleaseFloors{27, 28, 29}}) {
      const CompanionPlan plan = PlanCompanions({.checkerInPlace = row.inPlace,
                                                 .announced = row.announced,
                                                 .signedBuild = row.signedBuild,
                                                 .floors = floors});
      EXPECT_EQ(plan.step, row.step);
      EXPECT_EQ(plan.checkerInPlaceRuns, row.inPlace.has_value());
      // The fetched checker carries the announced revision; both are held to their
      // floors (none when 0).
      EXPECT_EQ(plan.checker.exact, row.announced);
      const auto floor = [](int32_t f) { return f ? std::optional(f) : std::nullopt; };
      EXPECT_EQ(plan.checker.atLeast, floor(floors.checker));
      EXPECT_EQ(plan.replacer.exact, std::nullopt);
      EXPECT_EQ(plan.replacer.atLeast, floor(floors.replacer));
    }
  }
}

TEST(BaseUrl, UsesTheServerHostAsGiven) {
  EXPECT_EQ(GetUpdateBaseUrl(u"10.1.2.3:8080"), u"http://10.1.2.3:8080/download/자동업데이트_v1/");
}

// Each row: an error raised by one call of one service (named by the step it
// breaks), and everything the procedure does afterwards.
struct SelfRow {
  const char* statement;
  const char* service;
  int nth;
  std::optional<std::u16string> local;
  std::u16string latest;
  int16_t result;
  Log log;
};

TEST_F(UpdateTest, SelfUpdateGoesOnWhereTheFailureTableSays) {
  // clang-format off
  const std::vector<SelfRow> rows = {
      {"program folder unknown: nothing found, nothing fetched", "folder", 1, u"1.00.26", u"27", 0,
       {kSelfError, "find ", kRead}},
      {"checker existence test: local 0", "find", 1, u"1.00.27", u"27", -1,
       {kSelfError, kRead, kGetChecker, kPutChecker, kGetReplacer, kPutReplacer}},
      {"version file read: text empty, the message", "read", 1, u"1.00.27", u"27", 0,
       {kFindChecker, kSelfError, kCannotRead}},
      {"the message: return false", "box", 1, u"1.00.27", u"", 0,
       {kFindChecker, kRead, kSelfError}},
      {"a local version that is no revision reads as 0: the downloads run", "none", 0,
       u"1.00.1e999", u"27", -1,
       {kFindChecker, kRead, kGetChecker, kPutChecker, kGetReplacer, kPutReplacer}},
      {"checker's download: the trusted checker in place runs", "download", 1, u"1.00.26",
       u"27", -1,
       {kFindChecker, kRead, kSelfError}},
      {"replacer's download: the checker just fetched runs", "download", 2, u"1.00.26", u"27",
       -1,
       {kFindChecker, kRead, kGetChecker, kPutChecker, kSelfError}},
  };
  // clang-format on
  for (const SelfRow& row : rows) {
    SCOPED_TRACE(row.statement);
    FakeSystem q;
    Serve(q, row.local, row.latest);
    q.FailAt(row.service, row.nth);
    EXPECT_EQ(AutoUpdaterSelfUpdate(q.services(), kHost), row.result);
    EXPECT_EQ(q.log, row.log);
  }
}

// ---- RunAutoUpdate

const std::string kFindExe = "find C:\\Prog\\TINDRA.exe";
const std::string kWait = "wait C:\\Prog\\Vantorel.exe | 27;Tindra.exe | C:\\Prog | 0 0 0";
const std::string kFindNew = "find C:\\Prog\\New_Tindra.exe";
const std::string kFindReplacer = "find C:\\Prog\\Pellmora.exe";
const std::string kPending = "write C:\\Prog\\Tindra_pending.txt revision=28 when=1700000000";
const std::string kDropPending = "remove C:\\Prog\\Tindra_pending.txt";
const std::string kReplacer = "cmd 2 \"C:\\Prog\\Pellmora.exe\" Tindra.exe;New_Tindra.exe";
const std::string kNoReplacer =
    "box 0 파일교체 프로그램을 찾을 수 없습니다.\r\n\r\nC:\\Prog\\Pellmora.exe";
const std::string kExplorer = "cmd 1 \"C:\\Windows\\explorer.exe\" \"C:\\Prog\"";
const std::string kRemoveNew = "remove C:\\Prog\\New_Tindra.exe";
const std::string kRecord = "record C:\\Prog\\Tindra_failed.txt 28 1";

class RunTest : public UpdateTest {
 protected:
  // A current checker, the program on disk as "Tindra.exe" though started as
  // "TINDRA", a new executable waiting, and the replacer.
  void SetUp() override {
    UpdateTest::SetUp();
    Script(p);
  }
  static void Script(FakeSystem& q, bool replacer = true) {
    q.AddFile(u"C:\\Prog\\Vantorel.exe");
    q.versions[u"C:\\Prog\\Vantorel.exe"] = u"1.00.27";
    q.urlTexts[kVersionUrl16] = u"27";
    q.baseName = u"TINDRA";
    q.AddFile(u"C:\\Prog\\Tindra.exe");
    q.AddFile(u"C:\\Prog\\New_Tindra.exe");
    q.versions[u"C:\\Prog\\New_Tindra.exe"] = u"1.00.28";
    q.versions[u"C:\\Prog\\New_TINDRA.exe"] = u"1.00.28";
    if (replacer) q.AddFile(u"C:\\Prog\\Pellmora.exe");
  }
  const Log kSelf{kFindChecker, kRead};
  Log Self(Log rest) const {
    Log all = kSelf;
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
  }
};

TEST_F(RunTest, NewExecutableIsHandedToTheReplacer) {
  EXPECT_TRUE(Run());
  EXPECT_EQ(p.log, Self({kFindExe, kWait, kFindNew, kFindReplacer, kPending, kReplacer, "end"}));
}

// A checker that fails its check counts as revision 0: it is fetched again, and the
// fetched one runs.
TEST_F(RunTest, UntrustedCheckerIsFetchedAgainAndRun) {
  p.signatures[u"C:\\Prog\\Vantorel.exe"] = {SignatureStatus::kUntrustedRoot, "another key"};
  p.versions[kCheckerPart] = u"1.00.27";
  EXPECT_TRUE(Run());
  EXPECT_EQ(p.log, Self({kGetChecker, kPutChecker, kGetReplacer, kPutReplacer, kFindExe, kWait,
                         kFindNew, kFindReplacer, kPending, kReplacer, "end"}));
}

TEST_F(RunTest, SkipSelfUpdateGoesStraightToTheChecker) {
  EXPECT_TRUE(Run(-1));
  EXPECT_EQ(p.log, (Log{kFindExe, kWait, kFindNew, kFindReplacer, kPending, kReplacer, "end"}));
}

TEST_F(RunTest, FailedSelfUpdateReturnsBeforeTheChecker) {
  p.urlTexts.clear();
  EXPECT_FALSE(Run());
  EXPECT_EQ(p.log, (Log{kFindChecker, kRead, kCannotRead}));
}

TEST_F(RunTest, ExecutableNotFoundReturnsSilently) {
  p.files.erase(u"C:\\PROG\\TINDRA.EXE");
  EXPECT_FALSE(Run());
  EXPECT_EQ(p.log, Self({kFindExe}));
}

TEST_F(RunTest, NoNewExecutableReturnsAfterTheChecker) {
  p.files.erase(u"C:\\PROG\\NEW_TINDRA.EXE");
  EXPECT_FALSE(Run());
  EXPECT_EQ(p.log, Self({kFindExe, kWait, kFindNew}));
}

TEST_F(RunTest, MissingReplacerShowsTheFolderAndGoesOn) {
  // The new program goes and its failure is recorded: no later start repeats this.
  p.files.erase(u"C:\\PROG\\PELLMORA.EXE");
  EXPECT_FALSE(Run());
  EXPECT_EQ(p.log, Self({kFindExe, kWait, kFindNew, kFindReplacer, kNoReplacer, kExplorer,
                         kRemoveNew, kRecord}));
  EXPECT_EQ(p.records[u"C:\\Prog\\Tindra_failed.txt"],
            (FailedInstall{28, p.now, 1, u"no trusted replacer could be started"}));
}

// Runs the start-up update on `q`; true when it ended the process (the hand-over).
bool RunEndsTheProcess(FakeSystem& q, int16_t skipSelfUpdate = 0) {
  try {
    RunAutoUpdate(q.services(), kHost, skipSelfUpdate);
  } catch (const ProcessEnded&) {
    return true;
  }
  return false;
}

// The program that hands over ends once the replacer holds its install lock, once the
// replacer has ended, or after 5 s (a replacer of an earlier revision takes no lock):
// until then a second start would not know that the replacer is at work.
TEST_F(RunTest, TheProgramThatHandsOverEndsOnceTheReplacerHoldsItsLock) {
  struct Row {
    const char* what;
    bool lockTaken;
    std::optional<uint32_t> replacerEndsAfterMs;
    uint64_t endsAtMs;
  };
  const Row rows[] = {
      {"the lock is taken", true, std::nullopt, 0},
      {"the replacer ends first", false, 200, 200},
      {"neither: a replacer that takes no lock", false, std::nullopt, 5000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    Script(q);
    if (row.lockTaken) q.heldLocks.insert(u"C:\\Prog\\Tindra_install.lock");
    q.runs[u"\"C:\\Prog\\Pellmora.exe\" Tindra.exe;New_Tindra.exe"] = {.endsAfterMs =
                                                                           row.replacerEndsAfterMs};
    EXPECT_TRUE(RunEndsTheProcess(q));
    EXPECT_EQ(q.ticks, row.endsAtMs);
  }
}

TEST_F(RunTest, EveryProgramIsCheckedForItsRoleAndHeldUntilStarted) {
  const std::u16string checker = u"C:\\Prog\\Vantorel.exe";
  const std::u16string replacer = u"C:\\Prog\\Pellmora.exe";
  const std::u16string fresh = u"C:\\Prog\\New_Tindra.exe";
  const std::string holdChecker = "hold C:\\Prog\\Vantorel.exe run";
  const std::string releaseChecker = "release C:\\Prog\\Vantorel.exe";
  const std::string holdReplacer = "hold C:\\Prog\\Pellmora.exe run";
  const std::string releaseReplacer = "release C:\\Prog\\Pellmora.exe";
  const ProgramNames asReplacer{u"Pellmora.exe", u"Pellmora"};
  const ProgramNames asProgram{u"Tindra.exe", u"Tindra"};
  const ProgramNames asChecker{u"Vantorel.exe", u"Vantorel"};
  struct Row {
    const char* what;
    std::function<void(FakeSystem&)> make;
    bool ends;
    Log log;
  };
  const Row rows[] = {
      {"all in their roles",
       [](FakeSystem&) {},
       true,
       {kFindExe, holdChecker, kWait, releaseChecker, kFindNew, kFindReplacer, holdReplacer,
        kPending, kReplacer, releaseReplacer, "end"}},
      {"the replacer as the checker",
       [&](FakeSystem& q) { q.names[checker] = asReplacer; },
       true,
       {kFindExe, holdChecker, releaseChecker, kFindNew, kFindReplacer, holdReplacer, kPending,
        kReplacer, releaseReplacer, "end"}},
      {"the program as the checker",
       [&](FakeSystem& q) { q.names[checker] = asProgram; },
       true,
       {kFindExe, holdChecker, releaseChecker, kFindNew, kFindReplacer, holdReplacer, kPending,
        kReplacer, releaseReplacer, "end"}},
      {"the checker cannot be held",
       [&](FakeSystem& q) { q.unholdable.push_back(checker); },
       true,
       {kFindExe, holdChecker, kFindNew, kFindReplacer, holdReplacer, kPending, kReplacer,
        releaseReplacer, "end"}},
      {"the checker as the new program: it goes",
       [&](FakeSystem& q) { q.names[fresh] = asChecker; },
       false,
       {kFindExe, holdChecker, kWait, releaseChecker, kFindNew, kRemoveNew}},
      {"a foreign new program goes",
       [&](FakeSystem& q) {
         q.signatures[fresh] = {SignatureStatus::kValid, "other"};
       },
       false,
       {kFindExe, holdChecker, kWait, releaseChecker, kFindNew, kRemoveNew}},
      {"the program as the replacer: not started, the new program goes",
       [&](FakeSystem& q) { q.names[replacer] = asProgram; },
       false,
       {kFindExe, holdChecker, kWait, releaseChecker, kFindNew, kFindReplacer, holdReplacer,
        releaseReplacer, kNoReplacer, kExplorer, kRemoveNew, kRecord}},
      {"a replacer that cannot be held",
       [&](FakeSystem& q) { q.unholdable.push_back(replacer); },
       false,
       {kFindExe, holdChecker, kWait, releaseChecker, kFindNew, kFindReplacer, holdReplacer,
        kNoReplacer, kExplorer, kRemoveNew, kRecord}},
      {"a replacer that cannot start",
       [&](FakeSystem& q) { q.FailAt("cmd", 1); },
       false,
       {kFindExe, holdChecker, kWait, releaseChecker, kFindNew, kFindReplacer, holdReplacer,
        kPending, kDropPending, releaseReplacer, kRunError, kNoReplacer, kExplorer, kRemoveNew,
        kRecord}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    Script(q);
    q.logHolds = true;
    row.make(q);
    EXPECT_EQ(RunEndsTheProcess(q, -1), row.ends);
    // From the program's own file on, the holds of the programs it starts; the checks
    // themselves and the short hold of the new program for its revision aside.
    Log seen;
    bool started = false;
    for (const std::string& line : q.log) {
      started = started || line == kFindExe;
      if (!started || line.starts_with("check ") || line.ends_with("New_Tindra.exe run") ||
          line == "release C:\\Prog\\New_Tindra.exe") {
        continue;
      }
      seen.push_back(line);
    }
    EXPECT_EQ(seen, row.log);
  }
}

TEST_F(RunTest, NoHandOverRightAfterAFailureOrWhileTheRecordSaysSo) {
  // Named, before the program's file is found, after the name it was started as.
  const std::u16string handBack = u"C:\\Prog\\TINDRA_handback.txt";
  const std::u16string installed = u"C:\\Prog\\TINDRA_installed.txt";
  const std::u16string lock = u"C:\\Prog\\TINDRA_install.lock";
  const std::u16string pendingAsStarted = u"C:\\Prog\\TINDRA_pending.txt";
  const std::u16string pending = u"C:\\Prog\\Tindra_pending.txt";
  const std::string kTakeHandBack = "remove C:\\Prog\\TINDRA_handback.txt";
  const std::string kSettled = "remove C:\\Prog\\Tindra_pending.txt";
  const Log kHandsOver =
      Self({kFindExe, kWait, kFindNew, kFindReplacer, kPending, kReplacer, "end"});
  struct Row {
    const char* what;
    std::function<void(FakeSystem&)> make;
    bool ends;
    Log log;
    std::optional<FailedInstall> record;
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"started again by the replacer after a failure: nothing fetched, no checker, no "
       "hand-over, even where no record could be written, and the value counts once",
       [&](FakeSystem& q) {
         q.startValues[kFailedHandOverVariable] = u"VALUE07";
         q.texts[handBack] = "value=VALUE07\r\n";
       }, false, {kTakeHandBack}, std::nullopt},
      {"the new program the replacer just put in place: nothing fetched or run",
       [&](FakeSystem& q) {
         q.startValues[kInstalledVariable] = u"VALUE07";
         q.texts[installed] = "value=VALUE07\r\n";
       }, false, {"remove C:\\Prog\\TINDRA_installed.txt"}, std::nullopt},
      {"a value set from outside, with no hand-back file: ignored",
       [&](FakeSystem& q) {
         q.startValues[kFailedHandOverVariable] = u"1";
         q.startValues[kInstalledVariable] = u"VALUE07";
       }, true, kHandsOver, std::nullopt},
      {"a value that is not the one the hand-back file holds: ignored",
       [&](FakeSystem& q) {
         q.startValues[kFailedHandOverVariable] = u"OTHER07";
         q.texts[handBack] = "value=VALUE07\r\n";
         q.startValues[kInstalledVariable] = u"OTHER07";
         q.texts[installed] = "value=VALUE07\r\n";
       }, true, kHandsOver, std::nullopt},
      {"another start while the replacer installs: it ends at once, nothing settled",
       [&](FakeSystem& q) {
         q.heldLocks.insert(lock);
         q.texts[pendingAsStarted] = "revision=28\r\nwhen=1699999000\r\n";
       }, true, {"end"}, std::nullopt},
      {"the install lock held with no hand-over pending: a start as any other",
       [&](FakeSystem& q) { q.heldLocks.insert(lock); }, true, kHandsOver, std::nullopt},
      {"a hand-over of 28 that never came back, at a start of 27: a failed install",
       [&](FakeSystem& q) { q.texts[pending] = "revision=28\r\nwhen=1699999000\r\n"; }, false,
       Self({kFindExe, "record C:\\Prog\\Tindra_failed.txt 28 1", kSettled, kRemoveNew}),
       FailedInstall{28, 1699999000, 1, u"the last hand-over never came back"}},
      {"the same, already recorded by the replacer: counted once",
       [&](FakeSystem& q) {
         q.texts[pending] = "revision=28\r\nwhen=1699999000\r\n";
         q.records[u"C:\\Prog\\Tindra_failed.txt"] = FailedInstall{28, 1699999500, 2};
       }, false, Self({kFindExe, kSettled, kRemoveNew}), FailedInstall{28, 1699999500, 2}},
      {"the same, with a file served for 28 refused since: still a failed install",
       [&](FakeSystem& q) {
         q.texts[pending] = "revision=28\r\nwhen=1699999000\r\n";
         q.records[u"C:\\Prog\\Tindra_failed.txt"] =
             FailedInstall{28, 1699999500, 3, u"unsigned", std::string(64, 'a')};
       }, false,
       Self({kFindExe, "record C:\\Prog\\Tindra_failed.txt 28 1", kSettled, kRemoveNew}),
       FailedInstall{28, 1699999000, 1, u"the last hand-over never came back"}},
      {"a file served for 28 refused an hour ago: the new program is handed over",
       [&](FakeSystem& q) {
         q.records[u"C:\\Prog\\Tindra_failed.txt"] =
             FailedInstall{28, 1700000000 - 3600, 1, u"unsigned", std::string(64, 'a')};
       }, true, kHandsOver,
       FailedInstall{28, 1700000000 - 3600, 1, u"unsigned", std::string(64, 'a')}},
      {"a hand-over of 27 left pending by a replacer that installed it: nothing failed",
       [&](FakeSystem& q) { q.texts[pending] = "revision=27\r\nwhen=1699999000\r\n"; }, true,
       Self({kFindExe, kSettled, kWait, kFindNew, kFindReplacer, kPending, kReplacer, "end"}),
       std::nullopt},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    Script(q);
    row.make(q);
    bool ended = false;
    try {
      RunAutoUpdate(q.services(), kHost, 0);
    } catch (const ProcessEnded&) {
      ended = true;
    }
    EXPECT_EQ(ended, row.ends);
    EXPECT_EQ(q.log, row.log);
    const auto record = q.records.find(u"C:\\Prog\\Tindra_failed.txt");
    EXPECT_EQ(record == q.records.end() ? std::nullopt : std::optional(record->second), row.record);
  }

  // The record of a failure of this revision an hour ago: the new file goes.
  FakeSystem q;
  Script(q);
  q.records[u"C:\\Prog\\Tindra_failed.txt"] = FailedInstall{28, q.now - 3600, 1};
  try {
    RunAutoUpdate(q.services(), kHost, 0);
  } catch (const ProcessEnded&) {
    ADD_FAILURE() << "handed over";
  }
  EXPECT_EQ(q.log, Self({kFindExe, kWait, kFindNew, kRemoveNew}));
}

TEST_F(RunTest, FolderWithBlanksIsQuoted) {
  FakeSystem q;
  q.folder = u"C:\\Program Files\\Tindra";
  q.AddFile(u"C:\\Program Files\\Tindra\\Vantorel.exe");
  q.versions[u"C:\\Program Files\\Tindra\\Vantorel.exe"] = u"1.00.27";
  q.urlTexts[kVersionUrl16] = u"27";
  q.AddFile(u"C:\\Program Files\\Tindra\\Tindra.exe");
  q.AddFile(u"C:\\Program Files\\Tindra\\New_Tindra.exe");
  q.versions[u"C:\\Program Files\\Tindra\\New_Tindra.exe"] = u"1.00.29";
  q.revision = 28;
  RunAutoUpdate(q.services(), kHost, 0);
  EXPECT_EQ(q.log[3],
            "wait C:\\Program Files\\Tindra\\Vantorel.exe | 28;Tindra.exe | C:\\Program "
            "Files\\Tindra | 0 0 0");
  EXPECT_EQ(q.log[q.log.size() - 3],
            "cmd 1 \"C:\\Windows\\explorer.exe\" \"C:\\Program Files\\Tindra\"");

  // The checker left a new program again, and a replacer is there now.
  q.AddFile(u"C:\\Program Files\\Tindra\\New_Tindra.exe");
  q.AddFile(u"C:\\Program Files\\Tindra\\Pellmora.exe");
  q.records.clear();
  q.log.clear();
  try {
    RunAutoUpdate(q.services(), kHost, -1);
  } catch (const ProcessEnded&) {
  }
  EXPECT_EQ(q.log[q.log.size() - 2],
            "cmd 2 \"C:\\Program Files\\Tindra\\Pellmora.exe\" Tindra.exe;New_Tindra.exe");
}

// A checker announced but not fetched (the server fails, the download cannot land or
// cannot replace the one in place) leaves the trusted checker in place to run, and
// is not held back; only where no trusted checker is left does the update stop.
TEST_F(RunTest, ACheckerThatIsNotFetchedLeavesTheTrustedOneInPlaceToRun) {
  const std::u16string checkerUrl = u"http://127.0.0.1/download/자동업데이트_v1/Vantorel.exe";
  const std::u16string replacerUrl = u"http://127.0.0.1/download/자동업데이트_v1/Pellmora.exe";
  const std::string folderBox =
      "box 16 새 버전을 받을 자리에 같은 이름의 폴더가 있어 업데이트할 수 없습니다. 이 폴더를 "
      "옮기거나 지워 주십시오.\r\n\r\nC:\\Prog\\Vantorel.exe.part";
  struct Row {
    const char* what;
    std::function<void(FakeSystem&)> make;
    bool runs;
    Log logged;        // these, in this order, among others
    std::string line;  // in the update log, when given
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"404, 5xx, a cut body or a time-out",
       [&](FakeSystem& q) { q.downloadResults[checkerUrl] = false; }, true,
       {kGetChecker, kDropChecker, kWait}, ""},
      {"the checked download cannot replace the one in place",
       [](FakeSystem& q) { q.moveFails = true; }, true, {kPutChecker, kDropChecker, kWait},
       "install file=Vantorel.exe.part verdict=failed reason=\"it could not be moved over "
       "Vantorel.exe\""},
      {"a folder holding files where the download lands: the user is told",
       [](FakeSystem& q) {
         q.folders.insert(u"C:\\PROG\\VANTOREL.EXE.PART");
         q.fullFolders.insert(u"C:\\PROG\\VANTOREL.EXE.PART");
       }, true, {folderBox, kWait},
       "download file=Vantorel.exe.part url=http://127.0.0.1/download/자동업데이트_v1/"
       "Vantorel.exe verdict=failed reason=\"a folder of that name holds files\""},
      {"an empty folder there goes, and the checker is fetched",
       [](FakeSystem& q) { q.folders.insert(u"C:\\PROG\\VANTOREL.EXE.PART"); }, true,
       {"rmdir C:\\Prog\\Vantorel.exe.part", kGetChecker, kPutChecker, kWait},
       "check file=Vantorel.exe.part verdict=trusted"},
      {"the replacer's download fails: the checker, now current, runs",
       [&](FakeSystem& q) { q.downloadResults[replacerUrl] = false; }, true,
       {kPutChecker, kGetReplacer, kDropReplacer, kWait}, ""},
      {"no trusted checker in place, and none fetched: nothing runs",
       [&](FakeSystem& q) {
         q.files.erase(u"C:\\PROG\\VANTOREL.EXE");
         q.downloadResults[checkerUrl] = false;
       }, false, {kGetChecker, kDropChecker}, ""},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    Script(q);
    q.files.erase(u"C:\\PROG\\NEW_TINDRA.EXE");
    q.versions[u"C:\\Prog\\Vantorel.exe"] = u"1.00.26";
    q.versions[kCheckerPart] = u"1.00.27";
    row.make(q);
    EXPECT_FALSE(RunEndsTheProcess(q));
    EXPECT_EQ(std::count(q.log.begin(), q.log.end(), kWait), row.runs ? 1 : 0)
        << ::testing::PrintToString(q.log);
    auto at = q.log.begin();
    for (const std::string& line : row.logged) {
      at = std::find(at, q.log.end(), line);
      EXPECT_NE(at, q.log.end()) << line << " in " << ::testing::PrintToString(q.log);
    }
    EXPECT_FALSE(q.records.contains(u"C:\\Prog\\Vantorel_failed.txt"));
    EXPECT_TRUE(row.line.empty() || std::any_of(q.updateLog.begin(), q.updateLog.end(),
                                                [&](const std::string& l) {
                                                  return l.find(row.line) != std::string::npos;
                                                }))
        << ::testing::PrintToString(q.updateLog);
  }
}

// The build's floors hold for the companions in place too: one below its floor is
// never started, trusted or not; one at its floor is.
TEST_F(RunTest, CompanionsInPlaceBelowTheirFloorAreNotStarted) {
  struct Row {
    const char* what;
    std::u16string checker;
    std::u16string replacer;
    bool ends;
    Log afterSelf;
  };
  const Row rows[] = {
      {"both at the floor",
       u"1.00.27",
       u"1.00.27",
       true,
       {kFindExe, kWait, kFindNew, kFindReplacer, kPending, kReplacer, "end"}},
      {"the checker below it",
       u"1.00.26",
       u"1.00.27",
       true,
       {kFindExe, kFindNew, kFindReplacer, kPending, kReplacer, "end"}},
      {"the replacer below it",
       u"1.00.27",
       u"1.00.26",
       false,
       {kFindExe, kWait, kFindNew, kFindReplacer, kNoReplacer, kExplorer, kRemoveNew, kRecord}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    Script(q);
    q.floors = ReleaseFloors{27, 27, 27};
    q.versions[u"C:\\Prog\\Vantorel.exe"] = row.checker;
    q.versions[u"C:\\Prog\\Pellmora.exe"] = row.replacer;
    EXPECT_EQ(RunEndsTheProcess(q, -1), row.ends);
    EXPECT_EQ(q.log, row.afterSelf);
  }
  // At a start that updates the companions, a checker below the floor counts as none:
  // the announced one is fetched and runs.
  FakeSystem q;
  Script(q);
  q.files.erase(u"C:\\PROG\\NEW_TINDRA.EXE");
  q.floors = ReleaseFloors{27, 27, 27};
  q.versions[u"C:\\Prog\\Vantorel.exe"] = u"1.00.26";
  q.versions[kCheckerPart] = u"1.00.27";
  q.versions[u"C:\\Prog\\Pellmora.exe.part"] = u"1.00.27";
  EXPECT_FALSE(RunEndsTheProcess(q));
  EXPECT_EQ(q.log, Self({kGetChecker, kPutChecker, kGetReplacer, kPutReplacer, kFindExe, kWait,
                         kFindNew}));
}

struct RunRow {
  const char* statement;
  const char* service;
  int nth;
  bool replacer;
  bool ends;
  Log afterSelf;
  // This many lines of afterSelf come before the self-update's: the program's own
  // files are named first.
  size_t before = 0;
};

TEST_F(RunTest, RunGoesOnWhereTheFailureTableSays) {
  // clang-format off
  const std::vector<RunRow> rows = {
      {"program folder unknown: nothing found, return", "folder", 1, true, false,
       {kRunError, "find "}, 1},
      {"program base name: nothing found, return", "base", 1, true, false,
       {kRunError, "find C:\\Prog\\"}, 1},
      {"program search: the name as formed", "find", 2, true, true,
       {kRunError, "wait C:\\Prog\\Vantorel.exe | 27;TINDRA.exe | C:\\Prog | 0 0 0",
        "find C:\\Prog\\New_TINDRA.exe", kFindReplacer,
        "write C:\\Prog\\TINDRA_pending.txt revision=28 when=1700000000",
        "cmd 2 \"C:\\Prog\\Pellmora.exe\" TINDRA.exe;New_TINDRA.exe", "end"}},
      {"checker parameters: empty", "revision", 1, true, true,
       {kFindExe, kRunError, "wait C:\\Prog\\Vantorel.exe |  | C:\\Prog | 0 0 0", kFindNew,
        kFindReplacer, kPending, kReplacer, "end"}},
      {"checker run: on to the new-program test", "wait", 1, true, true,
       {kFindExe, kRunError, kFindNew, kFindReplacer, kPending, kReplacer, "end"}},
      {"new-program test: return", "find", 3, true, false, {kFindExe, kWait, kRunError}},
      {"replacer test: message, Explorer, the new program goes", "find", 4, true, false,
       {kFindExe, kWait, kFindNew, kRunError, kNoReplacer, kExplorer, kRemoveNew, kRecord}},
      {"missing replacer, the message: Explorer", "box", 1, false, false,
       {kFindExe, kWait, kFindNew, kFindReplacer, kRunError, kExplorer, kRemoveNew, kRecord}},
      {"missing replacer, Explorer: the new program goes", "cmd", 1, false, false,
       {kFindExe, kWait, kFindNew, kFindReplacer, kNoReplacer, kRunError, kRemoveNew, kRecord}},
      {"the replacer does not start: as if missing", "cmd", 1, true, false,
       {kFindExe, kWait, kFindNew, kFindReplacer, kPending, kDropPending, kRunError, kNoReplacer, kExplorer, kRemoveNew,
        kRecord}},
  };
  // clang-format on
  for (const RunRow& row : rows) {
    SCOPED_TRACE(row.statement);
    FakeSystem q;
    Script(q, row.replacer);
    q.FailAt(row.service, row.nth);
    EXPECT_EQ(RunEndsTheProcess(q), row.ends);
    Log wanted(row.afterSelf.begin(), row.afterSelf.begin() + row.before);
    for (const std::string& line :
         Self({row.afterSelf.begin() + row.before, row.afterSelf.end()})) {
      wanted.push_back(line);
    }
    EXPECT_EQ(q.log, wanted);
  }
}

// ---- Command lines and window states

TEST(CommandLines, CheckerParametersAndReplacerArguments) {
  EXPECT_EQ(CheckerParameters(27, u"Tindra.exe"), u"27;Tindra.exe");
  EXPECT_EQ(CheckerParameters(5, u"내 Tindra.exe"), u"5;내 Tindra.exe");
  EXPECT_EQ(ReplacerCommandLine(u"D:\\a b\\Pellmora.exe", u"Tindra.exe"),
            u"\"D:\\a b\\Pellmora.exe\" Tindra.exe;New_Tindra.exe");
}

TEST(CommandLines, ExplorerGetsTheWholeFolder) {
  EXPECT_EQ(ExplorerCommandLine(u"C:\\WINDOWS", u"C:\\Program Files\\Tindra"),
            u"\"C:\\WINDOWS\\explorer.exe\" \"C:\\Program Files\\Tindra\"");
  // A root's own "\" must not escape the closing quote.
  EXPECT_EQ(ExplorerCommandLine(u"D:\\", u"C:\\"), u"\"D:\\explorer.exe\" \"C:\\\\\"");
}

TEST(WaitProc, WindowStateFollowsHiddenThenMinimized) {
  EXPECT_EQ(WaitProcShowCommand(-1, 0), 0);
  EXPECT_EQ(WaitProcShowCommand(-1, -1), 0);
  EXPECT_EQ(WaitProcShowCommand(1, -1), 0);  // any nonzero is true
  EXPECT_EQ(WaitProcShowCommand(0, -1), 7);
  EXPECT_EQ(WaitProcShowCommand(0, 2), 7);
  EXPECT_EQ(WaitProcShowCommand(0, 0), 5);
}

}  // namespace
}  // namespace tindra
