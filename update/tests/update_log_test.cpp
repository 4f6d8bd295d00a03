// The update log's writer over an in-memory folder: the line's form, the cap and the
// rotation, and a folder that cannot be written; the failure record's reason.
#include "update/update_log.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/text.h"
#include "update/install_records.h"

namespace tindra {
namespace {

const std::u16string kLog = u"C:\\Prog\\Tindra_update.log";
const std::u16string kOld = u"C:\\Prog\\Tindra_update.log.1";

// A folder of files in memory; each fault can be switched on.
class MemoryMedium : public LogMedium {
 public:
  std::map<std::u16string, std::string> files;
  std::vector<std::u16string> debugged;
  bool lockFails = false;
  bool appendFails = false;
  bool replaceFails = false;
  bool locked = false;
  bool outsideLock = false;  // a file was touched without the lock

  LocalTime LocalTimeNow() override { return LocalTime{2026, 12, 9, 16, 2, 11, 42}; }
  bool Locked(const std::function<void()>& work) override {
    if (lockFails) return false;
    locked = true;
    work();
    locked = false;
    return true;
  }
  uint64_t SizeOf(const std::u16string& path) override {
    Touch();
    return files.contains(path) ? files[path].size() : 0;
  }
  bool Append(const std::u16string& path, std::string_view bytes) override {
    Touch();
    if (appendFails) return false;
    files[path] += bytes;
    return true;
  }
  bool Replace(const std::u16string& from, const std::u16string& to) override {
    Touch();
    if (replaceFails || !files.contains(from)) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
  }
  void Debug(const std::u16string& line) override { debugged.push_back(line); }

 private:
  void Touch() { outsideLock = outsideLock || !locked; }
};

UpdateEvent Event(std::u16string reason) {
  UpdateEvent e;
  e.step = u"check";
  e.file = u"New_Tindra.exe.part";
  e.verdict = u"refused";
  e.reason = std::move(reason);
  return e;
}

TEST(UpdateLog, LinesHoldTheFieldsThatApplyInTheirOrder) {
  const LocalTime t{2026, 12, 9, 16, 2, 11, 42};
  struct Row {
    const char* what;
    UpdateEvent event;
    std::u16string line;
  };
  UpdateEvent all{u"download",
                  u"Vantorel.exe.part",
                  u"http://h/d/자동업데이트_v1/Vantorel.exe",
                  404,
                  162,
                  u"failed",
                  u"HTTP status 404",
                  4};
  const Row rows[] = {
      {"every field", all,
       u"2026-12-09 16:02:11.042 Vantorel download file=Vantorel.exe.part "
       u"url=http://h/d/자동업데이트_v1/Vantorel.exe status=404 bytes=162 verdict=failed "
       u"reason=\"HTTP status 404\" exit=4"},
      {"only some", UpdateEvent{u"end", u"", u"", {}, {}, u"ok", u"", 0},
       u"2026-12-09 16:02:11.042 Vantorel end verdict=ok exit=0"},
      {"quotes doubled, line breaks and tabs made blanks",
       UpdateEvent{u"install", u"New Tindra.exe", u"", {}, {}, u"failed", u"a \"b\"\r\nc\td"},
       u"2026-12-09 16:02:11.042 Vantorel install file=\"New Tindra.exe\" verdict=failed "
       u"reason=\"a \"\"b\"\"  c d\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(Utf16ToUtf8(FormatLogLine(t, u"Vantorel", row.event)), Utf16ToUtf8(row.line));
  }
  // A value is cut to its bound, so that one line stays one short line.
  const std::u16string line = FormatLogLine(t, u"Tindra", Event(std::u16string(5000, u'x')));
  EXPECT_LT(line.size(), kUpdateLogValueMax + 100);
}

// 100 bytes: the time, program and step (36), " file=" and 45 units, " verdict=ok", the
// break.
UpdateEvent HundredByteLine() {
  UpdateEvent e;
  e.step = u"check";
  e.file = std::u16string(45, u'n');
  e.verdict = u"ok";
  return e;
}

TEST(UpdateLog, CapAndRotation) {
  // A line of this test is 100 bytes with its line break.
  const uint64_t line = 100;
  struct Row {
    const char* what;
    uint64_t cap;
    std::string log;  // the log before (empty: none)
    std::string old;  // its older generation before
    bool replaceFails = false;
    LogAction action;
    uint64_t logAfter;
    std::string oldAfter;  // "log": the log as it was before
  };
  const std::string full(250, 'a');
  const Row rows[] = {
      {"no log yet", 256, "", "", false, LogAction::kAppend, line, ""},
      {"room left", 256, std::string(156, 'a'), "", false, LogAction::kAppend, 256, ""},
      {"one byte short: the log moves to the older generation", 256, std::string(157, 'a'), "",
       false, LogAction::kRotateThenAppend, line, "log"},
      {"the older generation is replaced", 256, full, "older", false, LogAction::kRotateThenAppend,
       line, "log"},
      {"a log already past the cap (another cap) moves too", 256, std::string(900, 'a'), "", false,
       LogAction::kRotateThenAppend, line, "log"},
      {"an older generation that cannot be replaced: the line goes, the log stays capped", 256,
       full, "older", true, LogAction::kRotateThenAppend, 250, "older"},
      {"a line longer than the cap is dropped", 99, "", "", false, LogAction::kDrop, 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(DecideLogAction(row.log.size(), line, row.cap), row.action);
    MemoryMedium m;
    if (!row.log.empty()) m.files[kLog] = row.log;
    if (!row.old.empty()) m.files[kOld] = row.old;
    m.replaceFails = row.replaceFails;
    UpdateLogWriter writer(m, u"C:\\Prog", u"Tindra", row.cap);
    writer.Write(HundredByteLine());
    EXPECT_EQ(m.files[kLog].size(), row.logAfter);
    EXPECT_EQ(m.files[kOld], row.oldAfter == "log" ? row.log : row.oldAfter);
    EXPECT_FALSE(m.outsideLock);
    ASSERT_EQ(m.debugged.size(), 1u);
  }
}

// A lock that another program holds delays no line and loses none that fits: the
// line is appended without it, but never rotated, which could meet another writer.
TEST(UpdateLog, ALockHeldElsewhereAppendsWhatFitsAndNeverRotates) {
  struct Row {
    const char* what;
    size_t before;
    size_t after;
  };
  const Row rows[] = {
      {"no log yet", 0, 100},
      {"room left", 156, 256},
      {"it would have to rotate: the line goes, the log stays", 157, 157},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    MemoryMedium m;
    m.lockFails = true;
    if (row.before) m.files[kLog] = std::string(row.before, 'a');
    UpdateLogWriter writer(m, u"C:\\Prog", u"Tindra", 256);
    writer.Write(HundredByteLine());
    EXPECT_EQ(m.files[kLog].size(), row.after);
    EXPECT_FALSE(m.files.contains(kOld));
  }
}

TEST(UpdateLog, AFolderThatCannotBeWrittenChangesNothing) {
  for (const char* fault : {"append", "no folder"}) {
    SCOPED_TRACE(fault);
    MemoryMedium m;
    m.appendFails = std::string(fault) == "append";
    UpdateLogWriter writer(m, std::string(fault) == "no folder" ? u"" : u"C:\\Prog", u"Pellmora");
    writer.Write(Event(u"tampered"));
    EXPECT_TRUE(m.files.empty() || m.files[kLog].empty());
    // The debugger still gets the line.
    ASSERT_EQ(m.debugged.size(), 1u);
    EXPECT_EQ(Utf16ToUtf8(m.debugged[0]),
              "2026-12-09 16:02:11.042 Pellmora check file=New_Tindra.exe.part verdict=refused "
              "reason=tampered\r\n");
  }
}

// Earlier revisions read the record's first kFailedRecordHead bytes and refuse any line
// but the three they know: the reason stays beyond them, and reads back here.
TEST(UpdateLog, TheFailureRecordKeepsItsReasonOutOfSightOfEarlierReaders) {
  for (const std::u16string& reason : {std::u16string(), std::u16string(u"refused: foreign signer"),
                                       std::u16string(2000, u'가')}) {
    FailedInstall record{28, 1700000000, 2, reason};
    const std::string text = FormatFailedInstall(record);
    const std::string head = text.substr(0, kFailedRecordHead);
    EXPECT_EQ(head.find("reason"), std::string::npos);
    for (char c : head.substr(head.find("failures=2\r\n") + 12))
      EXPECT_TRUE(c == '\r' || c == '\n');
    std::optional<FailedInstall> read = ParseFailedInstall(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->failures, 2);
    // A long reason is cut at a character's start, within its bound.
    EXPECT_EQ(reason.substr(0, read->reason.size()), read->reason);
    EXPECT_LE(Utf16ToUtf8(read->reason).size(), kFailedReasonMax);
    EXPECT_EQ(read->reason.empty(), reason.empty());
  }
  // A refused file's record names it in the head, so that earlier readers take the
  // whole record for none: they hold back no revision for a refused file either.
  const std::string digest(64, 'c');
  const std::string refusal = FormatFailedInstall({28, 1700000000, 1, u"unsigned", digest});
  EXPECT_NE(refusal.substr(0, kFailedRecordHead).find("\r\nsha256=" + digest + "\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tindra
