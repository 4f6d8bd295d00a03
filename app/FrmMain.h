#pragma once
// The hidden main form: start-up, the DDE intake into lblDDE, the test button and
// shutdown, with the rules it follows: what a poked text asks for, where each popup
// stands, and when the user should not be disturbed. The logic is portable; everything
// it needs from the window system goes through FrmMainHost (the Win32 window in the
// program, a fake in the tests).
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "common/errors.h"
#include "common/forms.h"
#include "common/numeric.h"
#include "popup/FrmTindra.h"

namespace tindra {

// --- The intake: what a poked text asks for, and where its popup stands ---

// A wrapped popup stands this far above slot 0.
inline constexpr int32_t kWrapLift = 20;

// The most of a name a popup keeps, shows and announces, in UTF-16 code units. The
// name line is 2490 twips wide (166 pixels at 96 dpi) and shows one line of 9.75-point
// (13-pixel) type: even a line of the narrowest letters (i, l: about 3 pixels) holds
// no more than about 55. 128 keeps everything that can show with room to spare, and a
// flood of long pokes cannot make the popups or the waiting line large.
inline constexpr size_t kMaxNameUnits = 128;
// A whole message: the mode, the separator and the longest name.
inline constexpr size_t kMaxMessageUnits = kMaxNameUnits + 2;

// The popups open at once. Well above what anyone reads at a time (a column holds 7 on a
// 1024-pixel screen, 16 on a 2160-pixel one), so ordinary traffic, bursts of a few dozen
// included, never meets it, and low enough that every popup keeps its own pace (each
// step is a window move) and a flood stays far from the 10,000 window and GDI objects
// a process may hold.
inline constexpr int32_t kMaxOpenPopups = 64;
// The notifications that may wait for a popup: beyond the cap above, or while the
// user should not be disturbed. Four times the open cap: as fast as popups can go
// (each step a window move), a full line is shown in about a minute, and it holds at
// most 256 short names. Past it, a poke is refused, so that a messenger can tell and
// try again.
inline constexpr size_t kMaxWaiting = 256;

// `text` cut to at most `maxUnits` UTF-16 code units, never between the two halves
// of a surrogate pair (the cut is then one unit shorter).
std::u16string_view CutText(std::u16string_view text, size_t maxUnits);

// What one text of lblDDE asks for.
struct DdeMessage {
  enum class Kind { kNothing, kEnd, kNotification };
  Kind kind = Kind::kNothing;
  int16_t iMode = 0;     // digit of the first character, 0 for any other character
  std::u16string sName;  // from the third character on (the second is a separator)
};

// "" is nothing, exactly "end" closes the program, anything else is a notification.
// The name is cut to kMaxNameUnits.
DdeMessage ParseDdeMessage(std::u16string_view text);

// Where the next popup's lower edge goes, in screen twips, and the slot after it.
// `bottom` is the work area's bottom edge; `popupCount` the popups loaded now
// (0 restarts the stack at slot 0). Updates nSlot. 32-bit checked arithmetic:
// Overflow rather than a wrapped value.
int32_t NextPopupY(int32_t bottom, int32_t& nSlot, int32_t popupCount);

// --- Quiet times: when the user should not be disturbed ---

// The platform's answer about the user (QUERY_USER_NOTIFICATION_STATE's values).
enum class UserNotificationState : int32_t {
  kUnknown = 0,  // the question could not be asked
  kNotPresent = 1,
  kBusy = 2,
  kRunningD3DFullScreen = 3,
  kPresentationMode = 4,
  kAcceptsNotifications = 5,
  kQuietTime = 6,
  kApp = 7,
};

// True for the answers that hold notifications back: away (locked, screen saver),
// busy, a full-screen Direct3D program, presentation mode.
bool StateHoldsNotifications(UserNotificationState state);

struct ScreenRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// The foreground window as the full-screen check sees it.
struct ForegroundInfo {
  bool exists = false;
  // The desktop window or the shell's window: they cover the screen without being a
  // program the user is absorbed in.
  bool isDesktopOrShell = false;
  std::u16string_view windowClass;
  ScreenRect window;   // its rectangle, screen pixels
  ScreenRect monitor;  // the whole monitor it is on (not its work area)
  // Maximized (IsZoomed): an ordinary window laid out over its monitor's work area,
  // which covers the whole monitor where no taskbar takes part of it.
  bool zoomed = false;
  // It has a title bar (WS_CAPTION): a window the user moves and sizes, not a
  // full-screen program.
  bool hasCaption = false;
};

// True when the foreground window covers the whole of its monitor, is neither
// maximized nor captioned, and is not the desktop or the shell (the desktop's own
// classes, "Progman" and "WorkerW", included): a full-screen video, game or slide show.
bool ForegroundIsFullScreen(const ForegroundInfo& foreground);

// After how long without input the user counts as away from the keyboard (a test copy
// of the program is built with a shorter one).
inline constexpr uint32_t kAwayAfterMs = 90000;

// The platform's clock and the time of the user's last keyboard or mouse input on that
// clock, in milliseconds (GetTickCount's, which wraps after 49.7 days).
struct InputTimes {
  uint32_t lastInput = 0;
  uint32_t now = 0;
};

// Whether the user is away from the keyboard: no input for `awayAfterMs`, counted only
// once some input has come since the program started, so that a display no one uses (a
// test's, a demo's, a wall screen) never counts as away. Back at the first input after.
class AwayWatch {
 public:
  enum class Change { kNone, kAway, kBack };

  explicit AwayWatch(uint32_t awayAfterMs) : awayAfterMs_(awayAfterMs) {}

  // The last input as the program starts (nothing: the platform could not tell; the
  // first Look counts as the start then): it is not yet the user's.
  void Started(const std::optional<InputTimes>& times);
  // A look at the input times now: whether the user has just gone away or come back.
  Change Look(const InputTimes& times);
  bool away() const { return away_; }

 private:
  uint32_t awayAfterMs_;
  std::optional<uint32_t> inputAtStart_;
  bool inputSeen_ = false;
  bool away_ = false;
  uint32_t inputWhenAway_ = 0;
};

// --- The form ---

// The program's process-wide state (module modMain).
// Host of the update server, as text; set once at start-up from the built-in constant.
extern std::u16string gServerHost;
// Number of popup windows currently loaded: raised when a popup loads, lowered when
// it unloads; read by the intake to restart the stack. Changes go through
// CheckedAdd, so leaving the 32-bit range is an Overflow error.
extern int32_t gPopupCount;

// The desktop work area, pixels first and twips after start-up.
struct WorkArea {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

class FrmMainHost {
 public:
  virtual ~FrmMainHost() = default;

  // The update server host this program was built for (its built-in constant).
  virtual std::u16string BuiltInUpdateHost() = 0;
  // True when another copy of this program is already running. Called once, early.
  virtual bool AnotherInstanceRunning() = 0;
  // Ends the process at once without unloading any form. Only fakes return.
  virtual void EndProcessNow() = 0;
  // Runs the start-up self-update (RunAutoUpdate) from the update server at
  // `serverHost`; may end the process.
  virtual void UpdateAtStartup(const std::u16string& serverHost, const int16_t& skipSelfUpdate) = 0;
  // The work area in pixels. A failed query leaves `rc` as it was.
  virtual void GetWorkArea(WorkArea& rc) = 0;
  virtual float TwipsPerPixelX() = 0;
  virtual float TwipsPerPixelY() = 0;

  // Shows lblDDE's new text in its window, where outside readers (tools, tests) find it;
  // runs no handler. Raises when the window does not take it.
  virtual void SetLabelWindowText(const std::u16string& text) = 0;

  // Unloads the main form: runs FrmMain::Form_Unload, then the form goes away and
  // the event loop ends. Re-entry while unloading does nothing.
  virtual void UnloadMainForm() = 0;

  // Creates a new popup and starts it (the popup form's Start). Raises AppError when it
  // cannot; the popup is then gone again.
  virtual void ShowPopup(const std::u16string& sName, const int16_t& iMode, const int32_t& nSX,
                         const int32_t& nSY) = 0;
  // Writes to the program's log that a popup could not be shown, and why. Never raises.
  virtual void LogSkippedPopup(const AppError& error) = 0;

  // True while the user should not be disturbed (presenting, playing or watching full
  // screen, away). Asked before waiting notifications are shown.
  virtual bool ShouldNotDisturb() = 0;
  // Starts or stops the check that runs FrmMain::ShowWaiting at least once a second
  // while notifications wait. Called only when that changes.
  virtual void SetWaitCheck(bool on) = 0;

  // The time of the user's last input and the clock now (InputTimes); nothing when the
  // platform cannot tell. A call into the window system, no waiting.
  virtual std::optional<InputTimes> ReadInputTimes() = 0;
  // Starts or stops the check that runs FrmMain::LookForTheUser twice a second while
  // popups are open. Called only when that changes. Never raises.
  virtual void SetPresenceCheck(bool on) = 0;
  // Tells every open popup, and every popup opened from now on, that the user is away
  // from the keyboard (no hold ends) or back (every hold starts again in full).
  virtual void SetUserAway(bool away) = 0;
};

class FrmMain : public Form {
 public:
  static constexpr char16_t kFormName[] = u"FrmMain";
  static constexpr char16_t kCaption[] = u"Tindra";
  static constexpr char16_t kTopic[] = u"TindraFrm";
  static constexpr char16_t kItem[] = u"lblDDE";
  static constexpr char16_t kLabelDesignText[] = u"Label1";
  static constexpr char16_t kButtonText[] = u"Test";
  static constexpr char16_t kTestMessage[] = u"0;test";

  // `awayAfterMs`: after how long without input the user counts as away (AwayWatch).
  explicit FrmMain(FrmMainHost& host, uint32_t awayAfterMs = kAwayAfterMs)
      : host_(host), away_(awayAfterMs) {}

  // Form events.
  // Runs the start-up update through the host, which keeps the window answering the
  // system meanwhile: only a close from outside and the end of the session may reach
  // the form then (CloseRequested, SessionEnding).
  void Form_Load();
  void Form_Unload(int16_t& cancel);
  void Command1_Click();
  void lblDDE_Change();

  // The window is closed from outside (WM_CLOSE): the form unloads, as on "end". While
  // the start-up update runs the close is kept, so that no step of the update is cut,
  // and Form_Load unloads the form once the update is over.
  void CloseRequested();
  // The user's session ends (WM_ENDSESSION): the form unloads; while the start-up
  // update runs, the process ends at once instead. Every file the update writes stays
  // under a temporary name until it is complete, and what is left is removed at the
  // next start, so the update may end at any point.
  void SessionEnding();

  // What a DDE poke into lblDDE does: replaces the label's text and runs its change
  // handling. Every set runs the handler, also when the text is the same.
  void SetLblDDE(const std::u16string& text);

  // A poke as the DDE source takes it: the text, cut to kMaxMessageUnits, into lblDDE.
  // False, with nothing changed, for a notification that finds the waiting line full;
  // false too for one shown at once whose popup could not be made (it is logged and
  // not kept): the poke is refused, so that nothing is acknowledged that will not be
  // shown, and the messenger can tell and send it again. One that waits in the line is
  // acknowledged.
  bool Poke(const std::u16string& text);

  // Shows the waiting notifications, oldest first, while fewer than kMaxOpenPopups are
  // open and the user may be disturbed. Runs at each notification, when a popup has
  // closed, when the system's settings change and by the wait check.
  void ShowWaiting();

  // The presence check, and the look as the first popup of a stack appears: with popups
  // open, whether the user has gone away from the keyboard or come back (AwayWatch),
  // told to the popups (SetUserAway). Nothing is read while no popup is open.
  void LookForTheUser();
  // A popup has closed (gPopupCount is lowered): once none is open the presence check
  // stops. Never raises.
  void PopupClosed();
  // The user is away from the keyboard, as last told to the popups.
  bool userAway() const { return userAway_; }

  // The desktop's work area has changed (the taskbar moved, the screen or its
  // resolution changed): the next popup is placed from the work area as it is then.
  // Popups already open stay.
  void WorkAreaChanged() { workAreaStale_ = true; }

  // Form registry entry.
  std::u16string FormName() const override { return kFormName; }
  void Unload() override { host_.UnloadMainForm(); }

  const WorkArea& rcWorkArea() const { return rcWorkArea_; }
  int32_t nPopupX() const { return nPopupX_; }
  int32_t nSlot() const { return nSlot_; }
  // True once Form_Load has finished; pokes are taken only from then on.
  bool loaded() const { return loaded_; }
  // True while Form_Load runs the start-up update.
  bool updating() const { return updating_; }
  // lblDDE's text: the last poke, "Label1" before any.
  const std::u16string& lblDDE() const { return lblDDE_; }
  // Notifications taken but not yet shown.
  size_t waiting() const { return waiting_.size(); }

 private:
  // Reads the work area and fixes the column's left edge from it.
  void MeasureWorkArea();
  // False when the popup could not be made (logged).
  bool ShowNotification(const DdeMessage& m);
  // Starts or stops the wait check and the presence check as the line and the open
  // popups now need them.
  void UpdateChecks();
  // Reads the input times and tells the popups when the user has gone or come back.
  void LookAtInput();

  // A notification in the waiting line, with the number it was taken under.
  struct Waiting {
    DdeMessage message;
    uint64_t ticket;
  };

  FrmMainHost& host_;
  WorkArea rcWorkArea_;
  WorkArea lastWorkAreaPx_;  // the work area last read, in pixels
  int32_t nPopupX_ = 0;
  int32_t nSlot_ = 0;
  bool loaded_ = false;
  bool unloaded_ = false;
  bool workAreaStale_ = false;
  bool showing_ = false;      // ShowWaiting is running (a popup's start may let a poke in)
  bool waitCheckOn_ = false;  // as last told to the host
  bool presenceCheckOn_ = false;
  std::deque<Waiting> waiting_;
  uint64_t lastTicket_ = 0;
  // The notification of the poke being taken, and whether its popup, shown at once,
  // could not be made.
  std::optional<uint64_t> pokeTicket_;
  bool pokeFailed_ = false;
  AwayWatch away_;
  bool userAway_ = false;  // as last told to the host
  bool updating_ = false;
  bool closeRequested_ = false;
  std::u16string lblDDE_ = kLabelDesignText;
};

}  // namespace tindra
