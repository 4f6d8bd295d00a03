// The checker over the scripted system: each way a check ends, and what it
// fetches on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "update/tests/fake_system.h"
#include "update/update_checker.h"

namespace tindra {
namespace {

using testing::FakeSystem;

const std::u16string kBase = u"http://10.0.0.1/download/자동업데이트_v1/";
const std::u16string kNewPart = u"C:\\Prog\\New_Tindra.exe.part";
const std::u16string kReplacer = u"C:\\Prog\\Pellmora.exe";
const std::u16string kReplacerPart = u"C:\\Prog\\Pellmora.exe.part";
const std::string kGetNew =
    "download http://10.0.0.1/download/자동업데이트_v1/Tindra.exe -> C:\\Prog\\New_Tindra.exe.part";
const std::string kGetReplacer =
    "download http://10.0.0.1/download/자동업데이트_v1/Pellmora.exe -> C:\\Prog\\Pellmora.exe.part";
const std::string kPutNew = "move C:\\Prog\\New_Tindra.exe.part -> C:\\Prog\\New_Tindra.exe";

// A trusted replacer of revision 27 in place, and revision 28 announced and served.
void Announce28(FakeSystem& q) {
  q.AddFile(kReplacer);
  q.versions[kReplacer] = u"1.00.27";
  q.bodies[kBase + u"Tindra_lastver.txt"] = " 28\r\n";
  q.versions[kNewPart] = u"1.00.28";
}

struct Row {
  const char* what;
  std::function<void(FakeSystem&)> script;
  CheckerExit exit;
  bool fetchesReplacer;
  bool fetchesNew;
  bool cancel = false;
  std::string box = "";  // the one box shown, if any
};

TEST(Checker, EndsAsTheTableSays) {
  // clang-format off
  const std::vector<Row> rows = {
      {"a newer revision: the new program is fetched", [](FakeSystem&) {}, kCheckerReady, false,
       true},
      {"an empty folder named New_Tindra.exe: it goes, and the check goes on",
       [](FakeSystem& q) { q.folders.insert(u"C:\\PROG\\NEW_TINDRA.EXE"); }, kCheckerReady,
       false, true},
      {"a folder named New_Tindra.exe that holds files: reported",
       [](FakeSystem& q) {
         q.folders.insert(u"C:\\PROG\\NEW_TINDRA.EXE");
         q.fullFolders.insert(u"C:\\PROG\\NEW_TINDRA.EXE");
       },
       kCheckerStale, false, false, false,
       "box 16 새 버전을 받을 자리에 같은 이름의 폴더가 있어 업데이트할 수 없습니다. 이 폴더를 "
       "옮기거나 지워 주십시오.\r\n\r\nC:\\Prog\\New_Tindra.exe"},
      {"no version file", [](FakeSystem& q) { q.bodies.clear(); }, kCheckerNothing, false, false},
      {"an error page as the version file",
       [](FakeSystem& q) { q.bodies[kBase + u"Tindra_lastver.txt"] = "<html>"; },
       kCheckerNothing, false, false},
      {"the same revision", [](FakeSystem& q) { q.bodies[kBase + u"Tindra_lastver.txt"] = "27"; },
       kCheckerNothing, false, false},
      {"a failed install of that revision an hour ago",
       [](FakeSystem& q) {
         q.records[u"C:\\Prog\\Tindra_failed.txt"] = FailedInstall{28, q.now - 3600, 1};
       },
       kCheckerNothing, false, false},
      {"an earlier checker's refusal of a file served for that revision an hour ago",
       [](FakeSystem& q) {
         q.records[u"C:\\Prog\\Tindra_failed.txt"] =
             FailedInstall{28, q.now - 3600, 1, kEarlierRefusalReason};
       },
       kCheckerReady, false, true},
      {"a failed install of that revision two days ago",
       [](FakeSystem& q) {
         q.records[u"C:\\Prog\\Tindra_failed.txt"] = FailedInstall{28, q.now - 2 * 86400, 1};
       },
       kCheckerReady, false, true},
      {"no replacer: it is fetched first",
       [](FakeSystem& q) {
         q.signatures[kReplacer] = {SignatureStatus::kNoSignature, ""};
         q.versions[kReplacerPart] = u"1.00.27";
       },
       kCheckerReady, true, true},
      {"no replacer, and none can be fetched: no new program either",
       [](FakeSystem& q) {
         q.signatures[kReplacer] = {SignatureStatus::kNoSignature, ""};
         q.downloadResults[kBase + u"Pellmora.exe"] = false;
       },
       kCheckerFailed, true, false},
      {"the served program carries another revision",
       [](FakeSystem& q) { q.versions[kNewPart] = u"1.00.27"; }, kCheckerFailed, false, true},
      {"the served program is the checker",
       [](FakeSystem& q) { q.names[kNewPart] = {u"Vantorel.exe", u"Vantorel"}; },
       kCheckerFailed, false, true},
      {"the served program is someone else's",
       [](FakeSystem& q) { q.signatures[kNewPart] = {SignatureStatus::kValid, "other key"}; },
       kCheckerFailed, false, true},
      {"the user closes the window during the download", [](FakeSystem&) {}, kCheckerCancelled,
       false, true, true},
      {"the user's close ends the download early",
       [](FakeSystem& q) { q.downloadResults[kBase + u"Tindra.exe"] = false; }, kCheckerCancelled,
       false, true, true},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    Announce28(q);
    row.script(q);
    std::atomic<bool> cancelled{row.cancel};
    auto s = q.services();
    EXPECT_EQ(CheckForUpdate(CheckerArgs{27, u"Tindra.exe"}, u"10.0.0.1", s, cancelled), row.exit);
    auto logged = [&](const std::string& line) {
      return std::find(q.log.begin(), q.log.end(), line) != q.log.end();
    };
    EXPECT_EQ(logged(kGetReplacer), row.fetchesReplacer);
    EXPECT_EQ(logged(kGetNew), row.fetchesNew);
    const auto boxes = std::count_if(q.log.begin(), q.log.end(),
                                     [](const std::string& l) { return l.starts_with("box "); });
    EXPECT_EQ(boxes, row.box.empty() ? 0 : 1);
    if (!row.box.empty()) {
      EXPECT_TRUE(logged(row.box));
    }
    // A new program is left only when the check says so: moved in place, and not
    // removed afterwards.
    auto put = std::find(q.log.begin(), q.log.end(), kPutNew);
    EXPECT_EQ(put != q.log.end() &&
                  std::find(put, q.log.end(), "remove C:\\Prog\\New_Tindra.exe") == q.log.end(),
              row.exit == kCheckerReady);
  }
}

// A forged or misplaced answer for the announced revision is refused and recorded by
// its digest: the same file served again is dropped unchecked and not recorded again,
// and the genuine file, once served, is left at the next start.
TEST(Checker, AForgedAnswerHoldsBackNothingGenuine) {
  const std::u16string record = u"C:\\Prog\\Tindra_failed.txt";
  struct Row {
    const char* what;
    std::function<void(FakeSystem&)> forge;
    std::u16string why;  // the check's reason, as recorded
    std::string logged;  // and as logged
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"unsigned",
       [](FakeSystem& q) { q.signatures[kNewPart] = {SignatureStatus::kNoSignature, ""}; },
       u"unsigned", "reason=unsigned"},
      {"another publisher's",
       [](FakeSystem& q) { q.signatures[kNewPart] = {SignatureStatus::kValid, "other key"}; },
       u"foreign signer", "reason=\"foreign signer\""},
      {"the publisher's own revision 27 as Tindra.exe",
       [](FakeSystem& q) { q.versions[kNewPart] = u"1.00.27"; },
       u"wrong revision: 27, wanted 28", "reason=\"wrong revision: 27, wanted 28\""},
      {"the publisher's checker as Tindra.exe",
       [](FakeSystem& q) { q.names[kNewPart] = {u"Vantorel.exe", u"Vantorel"}; },
       u"wrong role: it is Vantorel.exe", "reason=\"wrong role: it is Vantorel.exe\""},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    Announce28(q);
    row.forge(q);
    const std::string forged = q.DigestOf(kNewPart);
    auto s = q.services();
    const std::atomic<bool> cancelled{false};
    auto check = [&] {
      return CheckForUpdate(CheckerArgs{27, u"Tindra.exe"}, u"10.0.0.1", s, cancelled);
    };
    auto logged = [&](const std::string& part) {
      return std::any_of(q.updateLog.begin(), q.updateLog.end(),
                         [&](const std::string& l) { return l.find(part) != std::string::npos; });
    };

    EXPECT_EQ(check(), kCheckerFailed);
    EXPECT_TRUE(logged("check file=New_Tindra.exe.part verdict=refused " + row.logged));
    EXPECT_EQ(q.records[record], (FailedInstall{28, q.now, 1, row.why, forged}));

    // An hour later the server still serves it: fetched, known by its digest, dropped
    // unchecked, and not recorded again.
    q.now += 3600;
    q.log.clear();
    q.updateLog.clear();
    EXPECT_EQ(check(), kCheckerFailed);
    EXPECT_TRUE(
        logged("check file=New_Tindra.exe.part verdict=skipped reason=\"the file served "
               "for revision 28 is the one refused 1 time (sha256 " +
               forged + ")"));
    EXPECT_FALSE(logged("verdict=refused"));
    EXPECT_EQ(q.records[record].failures, 1);
    EXPECT_FALSE(q.HasFile(u"C:\\Prog\\New_Tindra.exe"));

    // Then the genuine revision 28: left at once.
    q.signatures.erase(kNewPart);
    q.names.erase(kNewPart);
    q.versions[kNewPart] = u"1.00.28";
    q.now += 60;
    EXPECT_EQ(check(), kCheckerReady);
    EXPECT_TRUE(q.HasFile(u"C:\\Prog\\New_Tindra.exe"));
  }
}

// A refusal that another check of the same bytes may not repeat (a signature the
// platform could not check) is not recorded: the file is checked again at the next
// start, and kept once it passes.
TEST(Checker, ASignatureThatCouldNotBeCheckedIsCheckedAgain) {
  FakeSystem q;
  Announce28(q);
  q.signatures[kNewPart] = {SignatureStatus::kBadSignature, ""};
  auto s = q.services();
  const std::atomic<bool> cancelled{false};
  EXPECT_EQ(CheckForUpdate(CheckerArgs{27, u"Tindra.exe"}, u"10.0.0.1", s, cancelled),
            kCheckerFailed);
  EXPECT_FALSE(q.records.contains(u"C:\\Prog\\Tindra_failed.txt"));
  q.signatures.erase(kNewPart);
  EXPECT_EQ(CheckForUpdate(CheckerArgs{27, u"Tindra.exe"}, u"10.0.0.1", s, cancelled),
            kCheckerReady);
}

TEST(Checker, ABadCommandLineIsExplained) {
  FakeSystem q;
  EXPECT_FALSE(ReadCheckerCommandLine(u"Vantorel.exe 27"));
  ASSERT_EQ(q.log.size(), 1u);
  EXPECT_EQ(q.log[0],
            "box 16 잘못된 실행 인수입니다: \"27\"\r\n\r\n사용법: Vantorel.exe 리비전;파일이름.exe "
            "(예: 27;Tindra.exe)");
  EXPECT_EQ(ReadCheckerCommandLine(u"\"C:\\a b\\Vantorel.exe\" 27;Tindra.exe")->revision, 27);
}

}  // namespace
}  // namespace tindra
