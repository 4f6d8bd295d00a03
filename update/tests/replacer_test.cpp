// The replacer over the scripted system: every way an install, its watch and its
// rollback can go, by exit code, what it tells the program it starts, and the
// files it touches.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "update/file_replacer.h"
#include "update/modAutoUpdateV1_Launcher.h"
#include "update/tests/fake_system.h"

namespace tindra {
namespace {

using testing::FakeSystem;
using Lines = std::vector<std::string>;

const std::u16string kOld = u"C:\\Prog\\Tindra.exe";
const std::u16string kNew = u"C:\\Prog\\New_Tindra.exe";
const std::u16string kStart = u"\"C:\\Prog\\Tindra.exe\"";
const std::u16string kLine = u"\"C:\\Prog\\Pellmora.exe\" Tindra.exe;New_Tindra.exe";
const std::string kStarted = "cmd -1 \"C:\\Prog\\Tindra.exe\" in C:\\Prog";
const std::string kLinked = "link C:\\Prog\\Tindra.exe -> C:\\Prog\\Tindra.exe.bak";
const std::string kMoved = "move C:\\Prog\\New_Tindra.exe -> C:\\Prog\\Tindra.exe";
const std::string kPutBack = "move C:\\Prog\\Tindra.exe.bak -> C:\\Prog\\Tindra.exe";
const std::string kBackupGone = "remove C:\\Prog\\Tindra.exe.bak";
const std::string kNewGone = "remove C:\\Prog\\New_Tindra.exe";
const std::string kRecorded28 = "record C:\\Prog\\Tindra_failed.txt 28 1";
const std::string kLocked = "lock C:\\Prog\\Tindra_install.lock";
const std::string kUnlocked = "unlock C:\\Prog\\Tindra_install.lock";
const std::string kToldInstalled = "tell TINDRA_INSTALLED=VALUE07";

struct Row {
  const char* what;
  std::function<void(FakeSystem&)> script;
  ReplacerExit exit;
  bool toldFailed;  // the program started last is told its new one failed
  Lines logged;     // these lines, in this order, among others
  Lines notLogged;  // none of these once the backup was made (earlier backups go first)
  std::u16string commandLine = kLine;
};

// The old program of revision 27 and the new one of 28, in place.
void ScriptInstall(FakeSystem& q) {
  q.AddFile(kOld);
  q.AddFile(kNew);
  q.versions[kOld] = u"1.00.27";
  q.versions[kNew] = u"1.00.28";
}

bool InOrder(const Lines& log, const Lines& wanted) {
  auto at = log.begin();
  for (const std::string& line : wanted) {
    at = std::find(at, log.end(), line);
    if (at == log.end()) return false;
    ++at;
  }
  return true;
}

TEST(Replacer, InstallsWatchesAndRollsBackAsTheTableSays) {
  const ReplacerWaits waits{5000, 20000, 100};
  const uint32_t crash = 0xC0000005;
  // clang-format off
  const std::vector<Row> rows = {
      {"no second name: bad arguments change nothing", [](FakeSystem&) {}, kReplacerBadArgs, false,
       {"box 16 잘못된 실행 인수입니다: \"Tindra.exe\"\r\n\r\n사용법: Pellmora.exe 기존파일.exe;"
        "New_기존파일.exe (예: Tindra.exe;New_Tindra.exe)\r\n\r\n아무 파일도 바꾸지 않았습니다."},
       {kStarted}, u"Pellmora.exe Tindra.exe"},
      {"a new name that is not New_ + the old one", [](FakeSystem&) {}, kReplacerBadArgs, false,
       {}, {kStarted}, u"Pellmora.exe Tindra.exe;Other.exe"},
      {"no new file: the old program starts, nothing recorded",
       [](FakeSystem& q) { q.files.erase(u"C:\\PROG\\NEW_TINDRA.EXE"); }, kNotReplaced, true,
       {kStarted}, {kMoved, "record C:\\Prog\\Tindra_failed.txt 28 1"}},
      {"the new file is held by another program: its revision is recorded",
       [](FakeSystem& q) { q.lockedForRename.push_back(kNew); }, kNotReplaced, true,
       {kNewGone, kRecorded28, kStarted}, {kMoved}},
      {"a foreign new file: removed, nothing to record",
       [](FakeSystem& q) { q.signatures[kNew] = {SignatureStatus::kValid, "other key"}; },
       kNotReplaced, true, {kNewGone, kStarted}, {kMoved, kRecorded28}},
      {"a new file of the checker's role", [](FakeSystem& q) {
         q.names[kNew] = {u"Vantorel.exe", u"Vantorel"}; },
       kNotReplaced, true, {kNewGone, kStarted}, {kMoved, kRecorded28}},
      {"a new file no newer than the old program",
       [](FakeSystem& q) { q.versions[kNew] = u"1.00.27"; }, kNotReplaced, true,
       {kNewGone, "record C:\\Prog\\Tindra_failed.txt 27 1", kStarted}, {kMoved}},
      {"a read-only old program is not waited for to install, only before it starts again",
       [](FakeSystem& q) { q.readOnly.insert(u"C:\\PROG\\TINDRA.EXE"); }, kNotReplaced, true,
       {kNewGone, kRecorded28, "await C:\\Prog\\Tindra.exe", kStarted}, {kMoved}},
      {"the old program stays in use past the wait: the lock is let go before it starts again",
       [](FakeSystem& q) { q.busyUntil = 1000000; }, kNotReplaced, true,
       {kLocked, "await C:\\Prog\\Tindra.exe", kNewGone, kRecorded28, kUnlocked, kStarted},
       {kLinked, kMoved, kToldInstalled}},
      {"the install lock is held by another: the install goes on without it",
       [](FakeSystem& q) { q.heldLocks.insert(u"C:\\Prog\\Tindra_install.lock"); }, kReplaced,
       false, {kMoved, kStarted, kBackupGone}, {kLocked}},
      {"the old program ends within the wait",
       [](FakeSystem& q) { q.busyUntil = 1500; }, kReplaced, false,
       {"await C:\\Prog\\Tindra.exe", kLinked, kMoved, kStarted, kBackupGone}, {kRecorded28}},
      {"no second name for the backup", [](FakeSystem& q) { q.linkFails = true; }, kNotReplaced,
       true, {kLinked, kNewGone, kRecorded28, kStarted}, {kMoved}},
      {"the move keeps failing: the backup's name goes, the old program stays",
       [](FakeSystem& q) { q.moveFails = true; }, kNotReplaced, true,
       {kLinked, kMoved, kBackupGone, kNewGone, kRecorded28, kStarted}, {kPutBack}},
      {"the new program answers: the backup goes; it was told it was just installed, and "
       "the lock let go before it started",
       [](FakeSystem&) {}, kReplaced, false,
       {kLocked, kLinked, kMoved, kUnlocked, "write C:\\Prog\\Tindra_installed.txt value=VALUE07",
        kToldInstalled, kStarted, "answers Tindra", "remove C:\\Prog\\Tindra_installed.txt",
        kBackupGone}, {kRecorded28}},
      {"the new program crashes at start: the old one comes back",
       [&](FakeSystem& q) { q.runs[kStart] = {false, 50, crash, std::nullopt}; }, kRolledBack,
       true, {kMoved, kStarted, kNewGone, kRecorded28, kPutBack, kStarted}, {kBackupGone}},
      {"the backup is another file by the time of the rollback: it is not put back",
       [&](FakeSystem& q) {
         q.runs[kStart] = {false, 50, crash, std::nullopt};
         q.signatures[kOld + u".bak"] = {SignatureStatus::kValid, "other key"};
       },
       kNotRolledBack, false, {kMoved, kStarted, kNewGone, kRecorded28}, {kPutBack}},
      {"another program answers to the name, and the new one crashes",
       [&](FakeSystem& q) { q.runs[kStart] = {false, 300, crash, 0, true}; }, kRolledBack, true,
       {kMoved, kStarted, kPutBack, kStarted}, {kBackupGone}},
      {"the new program cannot start at all",
       [](FakeSystem& q) { q.runs[kStart] = {true}; }, kRolledBack, true,
       {kMoved, kStarted, kRecorded28, kPutBack}, {}},
      {"the new program ends normally before it answers: it stays",
       [](FakeSystem& q) { q.runs[kStart] = {false, 50, 0, std::nullopt}; }, kReplaced, false,
       {kMoved, kStarted}, {kPutBack, kRecorded28, kBackupGone}},
      {"the new program is still starting when the watch ends, answering its windows: it "
       "stays, with its backup",
       [](FakeSystem& q) { q.runs[kStart] = {false, std::nullopt, 0, std::nullopt}; }, kReplaced,
       false, {kMoved, kStarted}, {kPutBack, kRecorded28, kBackupGone, "kill 100 1460"}},
      {"the new program is held by a fault (or hung) at the end of the watch: it is ended and "
       "the old one comes back",
       [](FakeSystem& q) {
         q.runs[kStart] = {false, std::nullopt, 0, std::nullopt, false, false};
       },
       kRolledBack, true, {kMoved, kStarted, "kill 100 1460", kNewGone, kRecorded28, kPutBack,
       kStarted}, {kBackupGone}},
      {"the new program shows its fatal error before it answers, its box answering: it is "
       "ended and the old one comes back",
       [](FakeSystem& q) {
         q.runs[kStart] = {false, std::nullopt, 0, std::nullopt, false, true, 500};
       },
       kRolledBack, true, {kMoved, kStarted, "kill 100 1627", kNewGone, kRecorded28, kPutBack,
       kStarted}, {kBackupGone}},
      {"the new program answers to its service only after the watch, and no window answers",
       [](FakeSystem& q) { q.runs[kStart] = {false, std::nullopt, 0, 30000, false, false}; },
       kRolledBack, true, {kStarted, "kill 100 1460", kPutBack}, {kBackupGone}},
      {"no old program, and the new one crashes: nothing to put back",
       [&](FakeSystem& q) {
         q.files.erase(u"C:\\PROG\\TINDRA.EXE");
         q.versions.erase(kOld);
         q.runs[kStart] = {false, 50, crash, std::nullopt};
       },
       kNotRolledBack, false, {kMoved, kStarted, kRecorded28}, {kLinked, kPutBack}},
      {"a folder named like the backup: the next name is used",
       [](FakeSystem& q) { q.folders.insert(u"C:\\PROG\\TINDRA.EXE.BAK"); }, kReplaced, false,
       {"link C:\\Prog\\Tindra.exe -> C:\\Prog\\Tindra.exe.bak2", kMoved,
        "remove C:\\Prog\\Tindra.exe.bak2"}, {kLinked}},
      {"an error where none is expected: the old program is still started, and told",
       [](FakeSystem& q) { q.FailAt("hold", 1); }, kNotReplaced, true, {kStarted}, {kMoved}},
      {"the record cannot be written: the program is still told",
       [&](FakeSystem& q) {
         q.recordWriteFails = true;
         q.runs[kStart] = {false, 50, crash, std::nullopt};
       },
       kRolledBack, true, {kRecorded28, kPutBack, kStarted}, {}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    ScriptInstall(q);
    q.texts[u"C:\\Prog\\Tindra_pending.txt"] = "revision=28\r\nwhen=1699999000\r\n";
    row.script(q);
    auto s = q.services();
    EXPECT_EQ(RunReplacer(row.commandLine, s, q, waits), row.exit);
    // Every install that was tried is decided: nothing is left pending.
    EXPECT_EQ(q.texts.contains(u"C:\\Prog\\Tindra_pending.txt"), row.exit == kReplacerBadArgs);
    EXPECT_EQ(q.toldValues[kFailedHandOverVariable], row.toldFailed ? u"VALUE07" : u"");
    if (row.toldFailed) {
      EXPECT_EQ(q.texts[u"C:\\Prog\\Tindra_handback.txt"], "value=VALUE07\r\n");
    }
    EXPECT_TRUE(InOrder(q.log, row.logged)) << ::testing::PrintToString(q.log);
    // The word to the new program holds for its start only.
    EXPECT_EQ(q.toldValues[kInstalledVariable], u"");
    EXPECT_FALSE(q.texts.contains(u"C:\\Prog\\Tindra_installed.txt"));
    EXPECT_TRUE(q.heldLocks.empty() ||
                row.what == std::string("the install lock is held by another: the install goes "
                                        "on without it"));
    auto from = std::find_if(q.log.rbegin(), q.log.rend(),
                             [](const std::string& l) { return l.starts_with("link "); });
    const auto rest = from == q.log.rend() ? q.log.begin() : from.base();
    for (const std::string& line : row.notLogged) {
      EXPECT_EQ(std::count(rest, q.log.end(), line), 0) << line;
    }
  }
}

// The watch lasts the new program's whole start-up, a start-up update included: a
// crash at any point before its service answers rolls it back, while from a minute on
// it must answer its window messages at every look.
TEST(Replacer, TheWatchCoversTheWholeStartUp) {
  const uint32_t crash = 0xC0000005;
  struct Row {
    const char* what;
    testing::ProgramRun run;
    ReplacerExit exit;
    uint64_t byMs;  // the watch is over by then
  };
  // clang-format off
  const Row rows[] = {
      {"crashes after a slow start-up of 200 s, its windows answering meanwhile",
       {false, 200000, crash, std::nullopt}, kRolledBack, 201000},
      {"answers its service after 200 s", {false, std::nullopt, 0, 200000}, kReplaced, 201000},
      {"no window answers: ended at the first look, a minute in",
       {false, std::nullopt, 0, std::nullopt, false, false}, kRolledBack, 70000},
      {"still starting, answering, when the ceiling and its margin have passed: it stays",
       {false, std::nullopt, 0, std::nullopt}, kReplaced, 370000},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    ScriptInstall(q);
    q.runs[kStart] = row.run;
    EXPECT_EQ(RunReplacer(kLine, q.services(), q, ReplacerWaits{}), row.exit);
    EXPECT_LE(q.ticks, row.byMs);
  }
}

// A rollback where neither the record nor the hand-back can be written: the pending
// file stays, so that the old program, started again, settles it as a failed install
// and does not hand over once more (the next starts neither, for a day).
TEST(Replacer, WithoutRecordOrHandBackThePendingFileHoldsTheOldProgramBack) {
  FakeSystem q;
  q.AddFile(kOld);
  q.AddFile(kNew);
  q.AddFile(u"C:\\Prog\\Pellmora.exe");
  q.AddFile(u"C:\\Prog\\Vantorel.exe");
  q.versions[u"C:\\Prog\\Vantorel.exe"] = u"1.00.27";
  q.versions[kOld] = u"1.00.27";
  q.versions[kNew] = u"1.00.28";
  const std::u16string pending = u"C:\\Prog\\Tindra_pending.txt";
  q.texts[pending] = "revision=28\r\nwhen=1699999000\r\n";
  q.unwritable = {u"C:\\Prog\\Tindra_failed.txt", u"C:\\Prog\\Tindra_handback.txt"};
  q.runs[kStart] = {false, 50, 0xC0000005, std::nullopt};
  EXPECT_EQ(RunReplacer(kLine, q.services(), q, ReplacerWaits{}), kRolledBack);
  EXPECT_TRUE(q.texts.contains(pending));
  EXPECT_EQ(q.toldValues[kFailedHandOverVariable], u"");

  // The old program starts again; the checker leaves revision 28 once more.
  for (int start = 1; start <= 2; ++start) {
    SCOPED_TRACE(start);
    q.AddFile(kNew);
    q.versions[kNew] = u"1.00.28";
    q.log.clear();
    bool handedOver = false;
    try {
      RunAutoUpdate(q.services(), u"127.0.0.1", -1);
    } catch (const testing::ProcessEnded&) {
      handedOver = true;
    }
    EXPECT_FALSE(handedOver) << ::testing::PrintToString(q.log);
    EXPECT_TRUE(q.texts.contains(pending));
  }
}

// The old program's revision is a floor only when it passes its own check; the build's
// floor holds whatever is in place.
TEST(Replacer, TheFloorComesFromATrustedOldProgramAndTheBuild) {
  struct Row {
    const char* what;
    Signature old;
    std::u16string oldVersion;
    std::u16string newVersion;
    ReplacerExit exit;
  };
  const Signature good{SignatureStatus::kValid, "publisher key"};
  const Signature foreign{SignatureStatus::kValid, "other key"};
  const Row rows[] = {
      {"a trusted old 28, a new 27", good, u"1.00.28", u"1.00.27", kNotReplaced},
      {"a foreign old 99 sets no floor", foreign, u"1.00.99", u"1.00.28", kReplaced},
      {"a foreign old, a new below the build's floor", foreign, u"1.00.20", u"1.00.26",
       kNotReplaced},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeSystem q;
    q.floors.program = 27;
    q.AddFile(kOld);
    q.AddFile(kNew);
    q.signatures[kOld] = row.old;
    q.versions[kOld] = row.oldVersion;
    q.versions[kNew] = row.newVersion;
    EXPECT_EQ(RunReplacer(kLine, q.services(), q, ReplacerWaits{}), row.exit);
  }
}

// A failure of an earlier attempt at the same revision counts on.
TEST(Replacer, RepeatedFailuresOfOneRevisionCountOn) {
  FakeSystem q;
  q.AddFile(kOld);
  q.AddFile(kNew);
  q.versions[kOld] = u"1.00.27";
  q.versions[kNew] = u"1.00.28";
  q.records[u"C:\\Prog\\Tindra_failed.txt"] = FailedInstall{28, q.now - 10, 2};
  q.lockedForRename.push_back(kNew);
  EXPECT_EQ(RunReplacer(kLine, q.services(), q, ReplacerWaits{}), kNotReplaced);
  EXPECT_EQ(q.records[u"C:\\Prog\\Tindra_failed.txt"],
            (FailedInstall{28, q.now, 3, u"the new program is held open by another program"}));
}

TEST(Replacer, OnlyAnAbnormalEndBeforeReadyRollsBack) {
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

}  // namespace
}  // namespace tindra
