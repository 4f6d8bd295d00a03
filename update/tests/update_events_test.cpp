// What reaches the update log, over the scripted system: the cause of each refusal,
// the replacer's failures with the reason its record keeps, the companions' exit
// codes and the transfers' status and size.
#include "update/update_events.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "common/text.h"
#include "update/file_replacer.h"
#include "update/logged_network.h"
#include "update/modAutoUpdateV1_Launcher.h"
#include "update/tests/fake_system.h"
#include "update/update_checker.h"

namespace tindra {
namespace {

using testing::FakeSystem;
using Parts = std::vector<std::string>;

const std::u16string kBase = u"http://10.0.0.1/download/자동업데이트_v1/";
const std::u16string kNewPart = u"C:\\Prog\\New_Tindra.exe.part";

bool LoggedAll(const FakeSystem& q, const Parts& parts) {
  for (const std::string& line : q.updateLog) {
    bool all = true;
    for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
    if (all) return true;
  }
  return false;
}

TEST(UpdateEvents, TheCheckerLogsTheCauseOfEachRefusal) {
  struct Row {
    const char* what;
    std::function<void(FakeSystem&)> script;
    Parts line;
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"someone else's", [](FakeSystem& q) { q.signatures[kNewPart] = {SignatureStatus::kValid, "other key"}; },
       {"check file=New_Tindra.exe.part verdict=refused reason=\"foreign signer\""}},
      {"one byte changed", [](FakeSystem& q) { q.signatures[kNewPart] = {SignatureStatus::kBadDigest, ""}; },
       {"check", "verdict=refused reason=tampered"}},
      {"unsigned", [](FakeSystem& q) { q.signatures[kNewPart] = {SignatureStatus::kNoSignature, ""}; },
       {"check", "reason=unsigned"}},
      {"a web page", [](FakeSystem& q) { q.heads[kNewPart] = "<html>"; },
       {"check", "reason=\"not a program\""}},
      {"the checker", [](FakeSystem& q) { q.names[kNewPart] = {u"Vantorel.exe", u"Vantorel"}; },
       {"check", "reason=\"wrong role: it is Vantorel.exe\""}},
      {"an older revision", [](FakeSystem& q) { q.versions[kNewPart] = u"1.00.27"; },
       {"check", "reason=\"wrong revision: 27, wanted 28\""}},
      {"an unsigned checker", [](FakeSystem& q) { q.own = {SignatureStatus::kNoSignature, ""}; },
       {"check file=Pellmora.exe", "reason=\"this program is unsigned\""}},
      {"a failed install two hours ago",
       [](FakeSystem& q) {
         q.records[u"C:\\Prog\\Tindra_failed.txt"] = {28, q.now - 7200, 2, u"Tindra.exe busy"};
       },
       {"version file=Tindra.exe verdict=skipped reason=\"revision 28 failed to install 2 times; "
        "held back 2 days from the last failure, until 2023-11-16 20:13 UTC (Tindra.exe busy)\""}},
      {"the revision announced and the one running, at each check",
       [](FakeSystem&) {}, {"version file=Tindra.exe verdict=behind reason=\"announced 28, running 27\""}},
      {"a current program", [](FakeSystem& q) { q.bodies[kBase + u"Tindra_lastver.txt"] = "27"; },
       {"version file=Tindra.exe verdict=current reason=\"announced 27, running 27\""}},
      {"nothing readable announced", [](FakeSystem& q) { q.bodies[kBase + u"Tindra_lastver.txt"] = "<html>"; },
       {"version file=Tindra.exe verdict=failed reason=\"announced none, running 27\""}},
      {"a folder holding files where the download lands",
       [](FakeSystem& q) {
         q.folders.insert(u"C:\\PROG\\NEW_TINDRA.EXE.PART");
         q.fullFolders.insert(u"C:\\PROG\\NEW_TINDRA.EXE.PART");
       },
       {"download file=New_Tindra.exe.part", "verdict=failed reason=\"a folder of that name holds files\""}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    q.AddFile(u"C:\\Prog\\Pellmora.exe");
    q.bodies[kBase + u"Tindra_lastver.txt"] = "28";
    q.versions[kNewPart] = u"1.00.28";
    row.script(q);
    std::atomic<bool> cancelled{false};
    CheckForUpdate(CheckerArgs{27, u"Tindra.exe"}, u"10.0.0.1", q.services(), cancelled);
    EXPECT_TRUE(LoggedAll(q, row.line)) << ::testing::PrintToString(q.updateLog);
  }
}

// Tindra's start: the checker announced against the one in place, and each back-off
// with the revision and when it ends (the clock stands at 2023-11-14 22:13:20 UTC).
TEST(UpdateEvents, TindraLogsTheRevisionsAndItsBackOffs) {
  const std::u16string versionUrl = kBase + u"Vantorel_lastver.txt";
  struct Row {
    const char* what;
    std::function<void(FakeSystem&)> script;
    Parts line;
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"a checker behind", [](FakeSystem&) {},
       {"version file=Vantorel.exe verdict=behind reason=\"announced 28, in place 27\""}},
      {"a current checker", [&](FakeSystem& q) { q.urlTexts[versionUrl] = u"27"; },
       {"version file=Vantorel.exe verdict=current reason=\"announced 27, in place 27\""}},
      {"nothing read", [&](FakeSystem& q) { q.urlTexts.clear(); },
       {"version file=Vantorel.exe verdict=failed reason=\"announced none, in place 27\""}},
      {"a refused checker served again",
       [](FakeSystem& q) {
         q.records[u"C:\\Prog\\Vantorel_failed.txt"] = {
             28, q.now - 3600, 1, u"unsigned", q.DigestOf(u"C:\\Prog\\Vantorel.exe.part")};
       },
       {"check file=Vantorel.exe.part verdict=skipped reason=\"the file served for revision 28 is "
        "the one refused 1 time (sha256 " + std::string(63, '0') + "1); dropped unchecked for 1 "
        "day from the last failure, until 2023-11-15 21:13 UTC (unsigned)\""}},
      {"a new program held back",
       [&](FakeSystem& q) {
         q.urlTexts[versionUrl] = u"27";
         q.AddFile(u"C:\\Prog\\New_Tindra.exe");
         q.versions[u"C:\\Prog\\New_Tindra.exe"] = u"1.00.28";
         q.records[u"C:\\Prog\\Tindra_failed.txt"] = {28, q.now - 3600, 1, u"busy"};
       },
       {"hand-over file=New_Tindra.exe verdict=skipped reason=\"revision 28 failed to install 1 "
        "time; held back 1 day from the last failure, until 2023-11-15 21:13 UTC (busy)\""}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    q.AddFile(u"C:\\Prog\\Tindra.exe");
    q.AddFile(u"C:\\Prog\\Vantorel.exe");
    q.versions[u"C:\\Prog\\Vantorel.exe"] = u"1.00.27";
    q.urlTexts[versionUrl] = u"28";
    row.script(q);
    RunAutoUpdate(q.services(), u"10.0.0.1", 0);
    EXPECT_TRUE(LoggedAll(q, row.line)) << ::testing::PrintToString(q.updateLog);
  }
}

TEST(UpdateEvents, TheReplacerLogsAndRecordsWhyItDidNotInstall) {
  const std::u16string kNew = u"C:\\Prog\\New_Tindra.exe";
  const std::u16string kStart = u"\"C:\\Prog\\Tindra.exe\"";
  struct Row {
    const char* what;
    std::function<void(FakeSystem&)> script;
    std::u16string reason;  // in the log's install line and in the record
    Parts watch;            // the watch line, when the new program was started
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"a foreign new file", [&](FakeSystem& q) { q.signatures[kNew] = {SignatureStatus::kValid, "other key"}; },
       u"refused: foreign signer", {}},
      {"the old program read-only", [](FakeSystem& q) { q.readOnly.insert(u"C:\\PROG\\TINDRA.EXE"); },
       u"Tindra.exe is read-only or still in use", {}},
      {"no backup", [](FakeSystem& q) { q.linkFails = true; }, u"no backup of Tindra.exe could be made", {}},
      {"the move fails", [](FakeSystem& q) { q.moveFails = true; },
       u"the new program could not be moved over Tindra.exe", {}},
      {"a crash at start", [&](FakeSystem& q) { q.runs[kStart] = {false, 50, 0xC0000005, std::nullopt}; },
       u"crashed with exception 0xC0000005 before it answered",
       {"watch file=Tindra.exe verdict=failed", "exit=3221225477"}},
      {"an abnormal end", [&](FakeSystem& q) { q.runs[kStart] = {false, 50, 7, std::nullopt}; },
       u"ended with exit code 7 before it answered", {"watch", "verdict=failed", "exit=7"}},
      {"a fatal error box before it answers",
       [&](FakeSystem& q) { q.runs[kStart] = {false, std::nullopt, 0, std::nullopt, false, true, 500}; },
       u"showed a fatal error before it answered",
       {"watch file=Tindra.exe verdict=failed reason=\"showed a fatal error before it answered\""}},
      {"answers", [](FakeSystem&) {}, u"", {"watch file=Tindra.exe verdict=ok reason=\"its service answered\""}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    q.AddFile(u"C:\\Prog\\Tindra.exe");
    q.AddFile(kNew);
    q.versions[u"C:\\Prog\\Tindra.exe"] = u"1.00.27";
    q.versions[kNew] = u"1.00.28";
    row.script(q);
    RunReplacer(u"Pellmora.exe Tindra.exe;New_Tindra.exe", q.services(), q, ReplacerWaits{});
    const std::u16string record = u"C:\\Prog\\Tindra_failed.txt";
    if (row.reason.empty()) {
      EXPECT_FALSE(q.records.contains(record));
    } else {
      EXPECT_TRUE(LoggedAll(q, {"install file=New_Tindra.exe verdict=failed reason=\"" +
                                Utf16ToUtf8(row.reason) + "\""}))
          << ::testing::PrintToString(q.updateLog);
      // A foreign file has no revision to record.
      if (q.records.contains(record)) {
        EXPECT_EQ(q.records[record].reason, row.reason);
      }
    }
    if (!row.watch.empty()) {
      EXPECT_TRUE(LoggedAll(q, row.watch)) << ::testing::PrintToString(q.updateLog);
    }
  }
}

TEST(UpdateEvents, TindraLogsTheCheckersExitAndTheHandOver) {
  struct Row {
    std::optional<uint32_t> exit;
    Parts line;
    std::optional<uint64_t> cutAt = std::nullopt;
  };
  const Row rows[] = {
      {0, {"run file=Vantorel.exe verdict=ok reason=\"nothing to install\" exit=0"}},
      // Asked to close at the start-up ceiling, it cancelled; a checker ended by force
      // is logged the same way.
      {5,
       {"run file=Vantorel.exe verdict=failed reason=\"ended by the 300 s start-up ceiling\"",
        "exit=5"},
       300000},
      {4,
       {"run file=Vantorel.exe verdict=failed reason=\"the download or its check failed\"",
        "exit=4"}},
      {0xC0000005, {"run", "reason=\"crashed with exception 0xC0000005\"", "exit=3221225477"}},
      {std::nullopt, {"run file=Vantorel.exe verdict=failed reason=\"not started\""}},
  };
  for (const Row& row : rows) {
    FakeSystem q;
    q.AddFile(u"C:\\Prog\\Tindra.exe");
    q.AddFile(u"C:\\Prog\\Vantorel.exe");
    q.checkerExitCode = row.exit;
    q.checkerCutAt = row.cutAt;
    RunAutoUpdate(q.services(), u"127.0.0.1", -1);
    EXPECT_TRUE(LoggedAll(q, row.line)) << ::testing::PrintToString(q.updateLog);
  }
}

// The transfers through LoggedNetwork: URL, status, bytes, and why one failed.
class SeenNetwork : public FakeSystem {
 public:
  TransferSeen seen;
  TransferSeen LastTransfer() override { return seen; }
};

TEST(UpdateEvents, TransfersAreLoggedWithTheirStatusAndSize) {
  struct Row {
    TransferSeen seen;
    bool ok;
    std::string line;
  };
  const std::string url = "url=http://h/Vantorel.exe";
  const Row rows[] = {
      {{200, 51234},
       true,
       "download file=Vantorel.exe.part " + url + " status=200 bytes=51234 verdict=ok"},
      {{404, 162}, false, url + " status=404 bytes=162 verdict=failed reason=\"HTTP status 404\""},
      {{0, 0}, false, url + " bytes=0 verdict=failed reason=\"no answer from the server\""},
      {{200, 5000},
       false,
       "status=200 bytes=5000 verdict=failed reason=\"incomplete, too large or too slow\""},
      // The bound that ended it, whatever else was seen.
      {{200, 17, TransferBound::kRequest, 120000},
       false,
       "status=200 bytes=17 verdict=failed reason=\"ended by its 120 s bound\""},
      {{0, 0, TransferBound::kRequest, 10000},
       false,
       url + " bytes=0 verdict=failed reason=\"ended by its 10 s bound\""},
      {{0, 0, TransferBound::kStepTimeout, 30000},
       false,
       "bytes=0 verdict=failed reason=\"ended by the 30 s step time-out\""},
      {{200, 3, TransferBound::kCeiling, 299500},
       false,
       "verdict=failed reason=\"ended by the 300 s start-up ceiling\""},
      {{200, 70000000, TransferBound::kSize},
       false,
       "bytes=70000000 verdict=failed reason=\"ended by the size limit\""},
      {{200, 9, TransferBound::kCancel}, false, "bytes=9 verdict=failed reason=cancelled"},
  };
  for (const Row& row : rows) {
    SeenNetwork q;
    q.seen = row.seen;
    q.downloadResults[u"http://h/Vantorel.exe"] = row.ok;
    LoggedNetwork logged(q, q);
    EXPECT_EQ(logged.DownloadToFile(u"http://h/Vantorel.exe", u"C:\\Prog\\Vantorel.exe.part"),
              row.ok);
    EXPECT_TRUE(LoggedAll(q, {row.line})) << ::testing::PrintToString(q.updateLog);
  }
}

}  // namespace
}  // namespace tindra
