#pragma once
// The hidden main form: start-up, the DDE intake into lblDDE, the test button and
// shutdown. The logic is portable; everything it needs from the window system goes
// through FrmMainHost (the Win32 window in the program, a fake in the tests).
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "app/intake.h"
#include "app/quiet_times.h"
#include "common/errors.h"
#include "common/forms.h"

namespace tindra {

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
