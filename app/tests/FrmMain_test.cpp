#include "app/FrmMain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "build_config.h"
#include "common/errors.h"
#include "common/text.h"

using namespace tindra;

namespace {

struct PopupCall {
  std::u16string sName;
  int16_t iMode;
  int32_t nSX;
  int32_t nSY;
};

// A loaded popup as the registry sees it: unloading lowers gPopupCount.
class FakePopup : public Form {
 public:
  explicit FakePopup(std::u16string name = u"FrmTindra") : name_(std::move(name)) {
    gPopupCount += 1;
    Forms().Add(this);
  }
  ~FakePopup() override { Unload(); }
  std::u16string FormName() const override { return name_; }
  void Unload() override {
    if (!Forms().Contains(this)) return;
    Forms().Remove(this);
    gPopupCount -= 1;
    unloaded = true;
  }
  bool unloaded = false;

 private:
  std::u16string name_;
};

class FakeHost : public FrmMainHost {
 public:
  bool anotherInstance = false;
  bool workAreaFails = false;
  WorkArea workArea{0, 0, 1280, 994};
  float tppX = 15.0f;
  float tppY = 15.0f;
  FrmMain* form = nullptr;

  std::vector<std::string> calls;
  std::u16string hostAtInstanceCheck;
  std::u16string hostAtUpdate;
  std::u16string label = u"Label1";
  std::vector<std::u16string> labelSets;
  std::vector<PopupCall> popups;
  std::vector<std::unique_ptr<FakePopup>> open;
  int unloads = 0;

  std::u16string BuiltInUpdateHost() override { return Ascii(TINDRA_UPDATE_HOST); }
  bool AnotherInstanceRunning() override {
    calls.push_back("instance");
    hostAtInstanceCheck = gServerHost;
    return anotherInstance;
  }
  void EndProcessNow() override { calls.push_back("end-process"); }
  void UpdateAtStartup(const std::u16string& serverHost, const int16_t& skip) override {
    calls.push_back(skip == 0 ? "update(false)" : "update(true)");
    hostAtUpdate = serverHost;
    if (duringUpdate) {
      duringUpdate(*form);
      calls.push_back(form->loaded() || !form->updating() ? "update-end(loaded)" : "update-end");
    }
  }
  // What reaches the form while the update runs (the window's messages).
  std::function<void(FrmMain&)> duringUpdate;
  void GetWorkArea(WorkArea& rc) override {
    calls.push_back("work-area");
    if (!workAreaFails) rc = workArea;
  }
  float TwipsPerPixelX() override { return tppX; }
  float TwipsPerPixelY() override { return tppY; }
  void SetLabelWindowText(const std::u16string& text) override {
    label = text;
    labelSets.push_back(text);
  }
  void UnloadMainForm() override {
    calls.push_back("unload");
    ++unloads;
    int16_t cancel = 0;
    form->Form_Unload(cancel);
  }
  void ShowPopup(const std::u16string& sName, const int16_t& iMode, const int32_t& nSX,
                 const int32_t& nSY) override {
    if (sName == failingName) Raise(kErrInvalidPropertyValue);
    popups.push_back({sName, iMode, nSX, nSY});
    open.push_back(std::make_unique<FakePopup>());
  }
  void LogSkippedPopup(const AppError& error) override { skipped.push_back(error.number()); }
  bool ShouldNotDisturb() override {
    ++stateQueries;
    return doNotDisturb;
  }
  void SetWaitCheck(bool on) override { waitChecks.push_back(on); }
  std::optional<InputTimes> ReadInputTimes() override {
    ++inputReads;
    return input;
  }
  void SetPresenceCheck(bool on) override { presenceChecks.push_back(on); }
  void SetUserAway(bool away) override { awayTold.push_back(away); }

  std::u16string failingName = u"<none>";
  std::vector<int32_t> skipped;
  bool doNotDisturb = false;
  int stateQueries = 0;
  std::vector<bool> waitChecks;
  // The platform's input times (nothing: it cannot tell), how often they were read,
  // the presence check as switched, and what the popups were told of the user.
  std::optional<InputTimes> input = InputTimes{1000, 1000};
  int inputReads = 0;
  std::vector<bool> presenceChecks;
  std::vector<bool> awayTold;
  // The oldest popups close on their own; the form hears of each, as from the popup.
  void CloseOldest(size_t n) {
    for (size_t i = 0; i < n; ++i) {
      open.erase(open.begin());
      if (form) form->PopupClosed();
    }
  }
};

class FrmMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gServerHost.clear();
    gPopupCount = 0;
    host.form = &form;
  }
  void TearDown() override {
    host.open.clear();
    gPopupCount = 0;
  }
  FakeHost host;
  FrmMain form{host};
};

}  // namespace

TEST_F(FrmMainTest, LoadSetsTheHostThenChecksTheInstanceThenUpdatesThenMeasures) {
  gPopupCount = 4;
  form.Form_Load();
  EXPECT_EQ(host.calls, (std::vector<std::string>{"instance", "update(false)", "work-area"}));
  EXPECT_EQ(host.hostAtInstanceCheck, Ascii(TINDRA_UPDATE_HOST));
  EXPECT_EQ(host.hostAtUpdate, Ascii(TINDRA_UPDATE_HOST));
  EXPECT_EQ(gServerHost, Ascii(TINDRA_UPDATE_HOST));
  EXPECT_EQ(gPopupCount, 0);
  EXPECT_EQ(form.nSlot(), 0);
  EXPECT_TRUE(form.loaded());
}

TEST_F(FrmMainTest, WhileTheUpdateRunsACloseWaitsForItsEndAndTheSessionsEndEndsTheProcess) {
  struct Row {
    const char* what;
    std::function<void(FrmMain&)> during;
    std::vector<std::string> calls;
  };
  const Row rows[] = {
      {"a close",
       [](FrmMain& f) { f.CloseRequested(); },
       {"instance", "update(false)", "update-end", "work-area", "unload"}},
      {"two closes",
       [](FrmMain& f) { f.CloseRequested(), f.CloseRequested(); },
       {"instance", "update(false)", "update-end", "work-area", "unload"}},
      {"the session's end",
       [](FrmMain& f) { f.SessionEnding(); },
       {"instance", "update(false)", "end-process", "update-end", "work-area"}},
      {"nothing", [](FrmMain&) {}, {"instance", "update(false)", "update-end", "work-area"}},
  };
  for (const Row& row : rows) {
    FakeHost fake;
    FrmMain f{fake};
    fake.form = &f;
    fake.duringUpdate = row.during;
    f.Form_Load();
    EXPECT_EQ(fake.calls, row.calls) << row.what;
    EXPECT_TRUE(fake.popups.empty()) << row.what;
    EXPECT_FALSE(f.updating()) << row.what;
  }
}

TEST_F(FrmMainTest, OnceLoadedACloseOrTheSessionsEndUnloadsAtOnce) {
  form.Form_Load();
  form.CloseRequested();
  form.SessionEnding();
  EXPECT_EQ(host.calls, (std::vector<std::string>{"instance", "update(false)", "work-area",
                                                  "unload", "unload"}));
}

TEST_F(FrmMainTest, A1280x994WorkAreaAt96DpiGivesTheColumnAt16415) {
  form.Form_Load();
  EXPECT_EQ(form.rcWorkArea().right, 19200);
  EXPECT_EQ(form.rcWorkArea().bottom, 14910);
  EXPECT_EQ(form.nPopupX(), 16415);
}

TEST_F(FrmMainTest, EachEdgeUsesItsOwnAxisFactor) {
  host.workArea = {10, 20, 1001, 703};
  host.tppX = 12.5f;
  host.tppY = 1440.0f / 130.0f;
  form.Form_Load();
  EXPECT_EQ(form.rcWorkArea().left, 125);
  EXPECT_EQ(form.rcWorkArea().right, 12512);  // 12512.5 -> even
  EXPECT_EQ(form.rcWorkArea().top, 222);      // 221.54
  EXPECT_EQ(form.rcWorkArea().bottom, 7787);  // 7787.08
  EXPECT_EQ(form.nPopupX(), 12512 - 2785);
}

TEST_F(FrmMainTest, AFailedWorkAreaQueryLeavesBottomZeroAndTheColumnAtMinus2785) {
  host.workAreaFails = true;
  form.Form_Load();
  EXPECT_EQ(form.rcWorkArea().bottom, 0);
  EXPECT_EQ(form.nPopupX(), -2785);
  form.SetLblDDE(u"0;a");
  ASSERT_EQ(host.popups.size(), 1u);
  EXPECT_EQ(host.popups[0].nSX, -2785);
  EXPECT_EQ(host.popups[0].nSY, -20);
}

TEST_F(FrmMainTest, ASecondInstanceEndsBeforeUpdatingOrMeasuring) {
  host.anotherInstance = true;
  form.Form_Load();
  EXPECT_EQ(host.calls, (std::vector<std::string>{"instance", "end-process"}));
  EXPECT_FALSE(form.loaded());
}

TEST_F(FrmMainTest, ANotificationEmptiesTheLabelAndStartsOnePopup) {
  form.Form_Load();
  form.SetLblDDE(u"1;사용자");
  ASSERT_EQ(host.popups.size(), 1u);
  EXPECT_EQ(host.popups[0].sName, u"사용자");
  EXPECT_EQ(host.popups[0].iMode, 1);
  EXPECT_EQ(host.popups[0].nSX, 16415);
  EXPECT_EQ(host.popups[0].nSY, 14910);
  EXPECT_EQ(host.labelSets, (std::vector<std::u16string>{u"1;사용자", u""}));
  EXPECT_EQ(host.label, u"");
  EXPECT_EQ(gPopupCount, 1);
}

TEST_F(FrmMainTest, IdenticalMessagesGiveOnePopupEach) {
  form.Form_Load();
  form.SetLblDDE(u"0;kim");
  form.SetLblDDE(u"0;kim");
  ASSERT_EQ(host.popups.size(), 2u);
  EXPECT_EQ(host.popups[1].nSY, 12925);
}

TEST_F(FrmMainTest, EmptyTextDoesNothing) {
  form.Form_Load();
  form.SetLblDDE(u"");
  EXPECT_TRUE(host.popups.empty());
  EXPECT_EQ(host.unloads, 0);
}

TEST_F(FrmMainTest, EndUnloadsEveryPopupAndKeepsTheLabelText) {
  form.Form_Load();
  form.SetLblDDE(u"0;a");
  form.SetLblDDE(u"1;b");
  form.SetLblDDE(u"5;c");
  FakePopup sameName(u"frmMAIN");  // named like the main form: stays
  EXPECT_EQ(gPopupCount, 4);
  form.SetLblDDE(u"end");
  EXPECT_EQ(host.unloads, 1);
  EXPECT_EQ(form.lblDDE(), u"end");
  EXPECT_EQ(host.label, u"end");  // mirrored for outside readers
  EXPECT_EQ(host.popups.size(), 3u);
  for (auto& p : host.open) EXPECT_TRUE(p->unloaded);
  EXPECT_FALSE(sameName.unloaded);
  EXPECT_EQ(gPopupCount, 1);
}

TEST_F(FrmMainTest, TheTestButtonActsLikeAPokeOf0Test) {
  form.Form_Load();
  form.Command1_Click();
  ASSERT_EQ(host.popups.size(), 1u);
  EXPECT_EQ(host.popups[0].sName, u"test");
  EXPECT_EQ(host.popups[0].iMode, 0);
  EXPECT_EQ(host.labelSets.front(), u"0;test");
}

TEST_F(FrmMainTest, FreedSlotsAreReusedOnlyAfterEveryPopupClosed) {
  form.Form_Load();
  form.SetLblDDE(u"0;a");  // slot 0
  form.SetLblDDE(u"0;b");  // slot 1
  host.CloseOldest(1);     // slot 0 closes, slot 1 stays
  form.SetLblDDE(u"0;c");
  EXPECT_EQ(host.popups.back().nSY, 10940);  // slot 2
  host.CloseOldest(2);
  EXPECT_EQ(gPopupCount, 0);
  form.SetLblDDE(u"0;d");
  EXPECT_EQ(host.popups.back().nSY, 14910);
}

TEST_F(FrmMainTest, AnOverflowingWorkAreaIsAnErrorNotAWrappedValue) {
  host.workArea = {0, 0, INT32_MAX / 10, 994};
  EXPECT_THROW(form.Form_Load(), AppError);
}

namespace {

std::u16string Numbered(int i) { return u"n" + ToDecimal(i); }

std::vector<std::u16string> NamesShown(const FakeHost& host) {
  std::vector<std::u16string> names;
  for (const PopupCall& p : host.popups) names.push_back(p.sName);
  return names;
}

std::vector<std::u16string> NumberedNames(int from, int to) {
  std::vector<std::u16string> names;
  for (int i = from; i < to; ++i) names.push_back(Numbered(i));
  return names;
}

}  // namespace

TEST_F(FrmMainTest, AFloodWaitsBeyondTheOpenCapInOrderAndIsRefusedPastTheLine) {
  form.Form_Load();
  const int taken = kMaxOpenPopups + static_cast<int>(kMaxWaiting);
  for (int i = 0; i < taken; ++i) ASSERT_TRUE(form.Poke(u"2;" + Numbered(i))) << i;
  EXPECT_EQ(NamesShown(host), NumberedNames(0, kMaxOpenPopups));
  EXPECT_EQ(form.waiting(), kMaxWaiting);
  EXPECT_EQ(host.waitChecks, std::vector<bool>{true});

  // Past the line: refused, and the label never sees it. "end" and empty texts are
  // still taken.
  const size_t labelSets = host.labelSets.size();
  EXPECT_FALSE(form.Poke(u"2;" + Numbered(taken)));
  EXPECT_EQ(host.labelSets.size(), labelSets);
  EXPECT_TRUE(form.Poke(u""));

  // Each popup that closes lets the next one in, on the next slot up: the stack
  // restarts only when none is open.
  host.CloseOldest(3);
  form.ShowWaiting();
  ASSERT_EQ(host.popups.size(), static_cast<size_t>(kMaxOpenPopups + 3));
  // Slots are 1985 twips apart from the bottom, 14910; slot 7 would reach above the
  // screen, so the 8th popup and every 7th after it stand at 14890 and the stack goes on
  // from slot 1. The 64th is such a wrap: the next three stand on slots 1, 2 and 3.
  const int32_t expectedY[] = {12925, 10940, 8955};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(host.popups[kMaxOpenPopups + i].nSY, expectedY[i]) << i;

  // A poke finds room again at once; the line empties in order, and its check stops.
  EXPECT_TRUE(form.Poke(u"2;" + Numbered(taken)));
  while (form.waiting() > 0) {
    host.CloseOldest(host.open.size());
    form.ShowWaiting();
  }
  EXPECT_EQ(NamesShown(host), NumberedNames(0, taken + 1));
  EXPECT_EQ(host.waitChecks, (std::vector<bool>{true, false}));
}

TEST_F(FrmMainTest, OrdinaryTrafficShowsEveryPopupAtOnceWithoutTheWaitCheck) {
  form.Form_Load();
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(form.Poke(u"0;" + Numbered(i)));
  EXPECT_EQ(host.popups.size(), 10u);
  EXPECT_EQ(host.stateQueries, 10);  // the user's state, once a notification
  EXPECT_TRUE(host.waitChecks.empty());
  EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "work-area"), 1);
}

TEST_F(FrmMainTest, ALongPokeIsCutBeforeItReachesTheLabel) {
  form.Form_Load();
  const std::u16string name(100000, u'x');
  ASSERT_TRUE(form.Poke(u"2;" + name));
  EXPECT_EQ(host.labelSets.front(), u"2;" + name.substr(0, kMaxNameUnits));
  ASSERT_EQ(host.popups.size(), 1u);
  EXPECT_EQ(host.popups[0].sName, name.substr(0, kMaxNameUnits));
}

TEST_F(FrmMainTest, WhileTheUserShouldNotBeDisturbedNotificationsWaitAndThenComeInOrder) {
  form.Form_Load();
  ASSERT_TRUE(form.Poke(u"0;before"));
  host.doNotDisturb = true;
  for (auto t : {u"0;a", u"1;b", u"2;c"}) ASSERT_TRUE(form.Poke(t));
  // Taken and waiting; the popup already open goes on.
  EXPECT_EQ(NamesShown(host), std::vector<std::u16string>{u"before"});
  EXPECT_EQ(form.waiting(), 3u);
  EXPECT_EQ(host.waitChecks, std::vector<bool>{true});
  form.ShowWaiting();  // the check, still held
  EXPECT_EQ(host.popups.size(), 1u);

  host.doNotDisturb = false;
  ASSERT_TRUE(form.Poke(u"0;d"));  // behind those that wait, not before them
  EXPECT_EQ(NamesShown(host), (std::vector<std::u16string>{u"before", u"a", u"b", u"c", u"d"}));
  EXPECT_EQ(host.popups[1].iMode, 0);
  EXPECT_EQ(host.popups[2].iMode, 1);
  EXPECT_EQ(host.popups[4].nSY, 14910 - 4 * 1985);
  EXPECT_EQ(host.waitChecks, (std::vector<bool>{true, false}));
}

TEST_F(FrmMainTest, EndClosesAtOnceAndWhatWaitsIsNeverShown) {
  form.Form_Load();
  host.doNotDisturb = true;
  for (auto t : {u"0;a", u"1;b"}) ASSERT_TRUE(form.Poke(t));
  EXPECT_TRUE(form.Poke(u"end"));
  EXPECT_EQ(host.unloads, 1);
  EXPECT_EQ(form.waiting(), 0u);
  host.doNotDisturb = false;
  form.ShowWaiting();
  EXPECT_TRUE(host.popups.empty());
}

// A poke whose popup is to be shown at once and cannot be made is refused (and logged,
// and not kept), so that the messenger can send it again; the program goes on.
TEST_F(FrmMainTest, APopupThatCannotBeShownAtOnceIsLoggedAndItsPokeRefused) {
  form.Form_Load();
  host.failingName = u"bad";
  EXPECT_TRUE(form.Poke(u"0;a"));
  EXPECT_FALSE(form.Poke(u"0;bad"));
  EXPECT_TRUE(form.Poke(u"0;c"));
  EXPECT_EQ(NamesShown(host), (std::vector<std::u16string>{u"a", u"c"}));
  EXPECT_EQ(host.skipped, std::vector<int32_t>{kErrInvalidPropertyValue});
  EXPECT_EQ(form.waiting(), 0u);
  // The test button has no one to refuse to: logged, and the program goes on.
  host.failingName = u"test";
  form.Command1_Click();
  EXPECT_EQ(host.skipped.size(), 2u);
  EXPECT_TRUE(form.Poke(u"0;d"));
  EXPECT_EQ(host.popups.back().sName, u"d");
}

// One that waits in the line is acknowledged as it arrives; when its turn comes and its
// popup cannot be made, it is logged and skipped, and the next one is shown. A poke
// that arrives as the line is shown has its own answer: its own popup, shown at once
// behind the others, decides it.
TEST_F(FrmMainTest, ANotificationThatWaitedIsAcknowledgedAndSkippedWhenItCannotBeShown) {
  form.Form_Load();
  host.failingName = u"bad";
  host.doNotDisturb = true;
  for (auto t : {u"0;a", u"0;bad", u"0;c"}) ASSERT_TRUE(form.Poke(t)) << Utf16ToUtf8(t);
  EXPECT_EQ(form.waiting(), 3u);
  host.doNotDisturb = false;
  EXPECT_TRUE(form.Poke(u"0;d"));
  EXPECT_EQ(NamesShown(host), (std::vector<std::u16string>{u"a", u"c", u"d"}));
  EXPECT_EQ(host.skipped, std::vector<int32_t>{kErrInvalidPropertyValue});

  host.doNotDisturb = true;
  ASSERT_TRUE(form.Poke(u"0;e"));
  host.doNotDisturb = false;
  EXPECT_FALSE(form.Poke(u"0;bad"));  // shown at once, behind "e"
  EXPECT_EQ(NamesShown(host), (std::vector<std::u16string>{u"a", u"c", u"d", u"e"}));
  EXPECT_EQ(host.skipped.size(), 2u);

  // At the cap it waits, and is acknowledged.
  host.CloseOldest(host.open.size());
  for (int i = 0; i < kMaxOpenPopups; ++i) ASSERT_TRUE(form.Poke(u"2;" + Numbered(i)));
  EXPECT_TRUE(form.Poke(u"0;bad"));
  EXPECT_EQ(form.waiting(), 1u);
  host.CloseOldest(1);
  form.ShowWaiting();
  EXPECT_EQ(form.waiting(), 0u);
  EXPECT_EQ(host.skipped.size(), 3u);
}

// The column follows the work area as it is when each popup is placed; the slot rule
// goes on as before, and the work area is read again only when the system says it
// changed.
TEST_F(FrmMainTest, TheNextPopupIsPlacedFromTheWorkAreaAsItIsThen) {
  struct Step {
    WorkArea area;  // pixels; bottom 0: unchanged
    size_t closeOpen;
    int32_t nSX, nSY;
  };
  const Step steps[] = {
      {{}, 0, 16415, 14910},                                 // the area at load, slot 0
      {{0, 0, 1024, 738}, 0, 15360 - 2785, 11070 - 1985},    // smaller: slot 1 of the new area
      {{}, 2, 15360 - 2785, 11070},                          // all closed: slot 0
      {{0, 40, 1600, 200}, 0, 24000 - 2785, 3000 - 20},      // too low for slot 1: wraps
      {{100, 0, 1380, 994}, 0, 20700 - 2785, 14910 - 1985},  // moved right, slot 1
  };
  form.Form_Load();
  for (const Step& step : steps) {
    if (step.area.bottom) {
      host.workArea = step.area;
      form.WorkAreaChanged();
    }
    host.CloseOldest(std::min(step.closeOpen, host.open.size()));
    const size_t before = host.popups.size();
    ASSERT_TRUE(form.Poke(u"0;x"));
    ASSERT_EQ(host.popups.size(), before + 1);
    EXPECT_EQ(host.popups.back().nSX, step.nSX) << before;
    EXPECT_EQ(host.popups.back().nSY, step.nSY) << before;
  }
  // Read at load and at each change, not per popup.
  EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "work-area"), 4);
}

// ---- the user away from the keyboard ----

// While popups are open the user's input is looked at (the presence check, twice a
// second, and once as the first popup of a stack appears); with none open, never. The
// user counts as away only once input has come since the start, and after
// kAwayAfterMs without any; the first input after that brings the user back. The
// popups are told of each change, once.
TEST_F(FrmMainTest, TheUserIsAwayAfterAWhileWithoutInputOnceInputCameSinceTheStart) {
  host.input = InputTimes{5000, 5000};  // the last input before the start
  form.Form_Load();
  EXPECT_EQ(host.inputReads, 1);
  form.LookForTheUser();  // no popup open: nothing is read
  EXPECT_EQ(host.inputReads, 1);
  EXPECT_TRUE(host.presenceChecks.empty());

  // A display no one touches: never away, however long.
  host.input = InputTimes{5000, 5000 + 10 * kAwayAfterMs};
  ASSERT_TRUE(form.Poke(u"0;a"));
  EXPECT_EQ(host.inputReads, 2) << "as the first popup of the stack appears";
  EXPECT_EQ(host.presenceChecks, std::vector<bool>{true});
  form.LookForTheUser();
  EXPECT_EQ(host.inputReads, 3);
  EXPECT_TRUE(host.awayTold.empty());
  ASSERT_TRUE(form.Poke(u"0;b"));
  EXPECT_EQ(host.inputReads, 3) << "not per popup";

  // Input since the start, then a while without.
  host.input = InputTimes{20000, 20000 + kAwayAfterMs - 1};
  form.LookForTheUser();
  EXPECT_TRUE(host.awayTold.empty());
  host.input->now += 1;
  form.LookForTheUser();
  EXPECT_EQ(host.awayTold, std::vector<bool>{true});
  EXPECT_TRUE(form.userAway());
  form.LookForTheUser();
  EXPECT_EQ(host.awayTold, std::vector<bool>{true}) << "told once";

  // Popups still appear; the cap stays.
  ASSERT_TRUE(form.Poke(u"0;c"));
  EXPECT_EQ(host.popups.size(), 3u);

  // The first input brings the user back.
  host.input = InputTimes{20000 + 2 * kAwayAfterMs, 20000 + 2 * kAwayAfterMs + 3};
  form.LookForTheUser();
  EXPECT_EQ(host.awayTold, (std::vector<bool>{true, false}));
  EXPECT_FALSE(form.userAway());

  // Once none is open the check stops, and nothing is read until the next popup.
  host.CloseOldest(host.open.size());
  EXPECT_EQ(host.presenceChecks, (std::vector<bool>{true, false}));
  const int reads = host.inputReads;
  form.LookForTheUser();
  EXPECT_EQ(host.inputReads, reads);
  EXPECT_TRUE(host.waitChecks.empty()) << "the waiting line's check is its own";
}

// Away while no popup was open: the first popup of the next stack already starts with
// the user away, and the user who comes back before any popup is open finds the
// popups told so as the next one appears.
TEST_F(FrmMainTest, TheFirstPopupOfAStackStartsAsTheUserIsThen) {
  host.input = InputTimes{100, 100};
  form.Form_Load();
  host.input = InputTimes{200, 300};  // input since the start
  ASSERT_TRUE(form.Poke(u"1;a"));
  host.CloseOldest(1);
  host.input = InputTimes{200, 200 + kAwayAfterMs + 5000};
  ASSERT_TRUE(form.Poke(u"1;b"));
  EXPECT_EQ(host.awayTold, std::vector<bool>{true});
  host.CloseOldest(1);
  host.input = InputTimes{200 + kAwayAfterMs + 6000, 200 + kAwayAfterMs + 7000};
  ASSERT_TRUE(form.Poke(u"1;c"));
  EXPECT_EQ(host.awayTold, (std::vector<bool>{true, false}));
  EXPECT_EQ(host.popups.size(), 3u);
}

// A platform that cannot tell the input times leaves every popup to close as usual.
TEST_F(FrmMainTest, WithoutInputTimesTheUserIsNeverAway) {
  host.input = std::nullopt;
  form.Form_Load();
  ASSERT_TRUE(form.Poke(u"0;a"));
  for (int i = 0; i < 10; ++i) form.LookForTheUser();
  EXPECT_TRUE(host.awayTold.empty());
  EXPECT_EQ(host.presenceChecks, std::vector<bool>{true});
}

// With the 64 open, popups waiting for the absent user, the rest wait in the line and
// past it are refused, as in any flood.
TEST_F(FrmMainTest, PopupsWaitingForTheUserAreCappedLikeAnyOthers) {
  host.input = InputTimes{0, 0};
  form.Form_Load();
  host.input = InputTimes{10, 10 + kAwayAfterMs};
  const int taken = kMaxOpenPopups + static_cast<int>(kMaxWaiting);
  for (int i = 0; i < taken; ++i) ASSERT_TRUE(form.Poke(u"2;" + Numbered(i))) << i;
  EXPECT_EQ(host.awayTold, std::vector<bool>{true});
  EXPECT_EQ(host.popups.size(), static_cast<size_t>(kMaxOpenPopups));
  EXPECT_EQ(form.waiting(), kMaxWaiting);
  EXPECT_FALSE(form.Poke(u"2;more"));
}

// Unloaded: no check runs and nothing is read.
TEST_F(FrmMainTest, AfterEndNothingLooksForTheUser) {
  form.Form_Load();
  ASSERT_TRUE(form.Poke(u"0;a"));
  ASSERT_TRUE(form.Poke(u"end"));
  const int reads = host.inputReads;
  form.LookForTheUser();
  EXPECT_EQ(host.inputReads, reads);
  EXPECT_EQ(host.presenceChecks, (std::vector<bool>{true, false}));
}
