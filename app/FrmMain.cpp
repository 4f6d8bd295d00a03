#include "app/FrmMain.h"

#include "common/numeric.h"
#include "common/scope_exit.h"

namespace tindra {

std::u16string gServerHost;
int32_t gPopupCount = 0;

void FrmMain::Form_Load() {
  gServerHost = host_.BuiltInUpdateHost();

  if (host_.AnotherInstanceRunning()) {
    host_.EndProcessNow();
    return;
  }

  // Input before the start is not the user's (AwayWatch).
  away_.Started(host_.ReadInputTimes());

  const int16_t skipSelfUpdate = 0;
  updating_ = true;
  host_.UpdateAtStartup(gServerHost, skipSelfUpdate);
  updating_ = false;

  nSlot_ = 0;
  gPopupCount = 0;

  MeasureWorkArea();
  loaded_ = true;

  // Closed from outside while the update ran: the close is carried out now.
  if (closeRequested_) host_.UnloadMainForm();
}

void FrmMain::CloseRequested() {
  if (updating_) {
    closeRequested_ = true;
    return;
  }
  host_.UnloadMainForm();
}

void FrmMain::SessionEnding() {
  if (updating_) {
    host_.EndProcessNow();
    return;
  }
  host_.UnloadMainForm();
}

void FrmMain::MeasureWorkArea() {
  // A failed query keeps the area last read (none at load: zeros).
  WorkArea px = lastWorkAreaPx_;
  host_.GetWorkArea(px);
  lastWorkAreaPx_ = px;
  const float tppX = host_.TwipsPerPixelX();
  const float tppY = host_.TwipsPerPixelY();
  rcWorkArea_.left = PixelsToTwips(px.left, tppX);
  rcWorkArea_.right = PixelsToTwips(px.right, tppX);
  rcWorkArea_.top = PixelsToTwips(px.top, tppY);
  rcWorkArea_.bottom = PixelsToTwips(px.bottom, tppY);

  nPopupX_ = CheckedSub(rcWorkArea_.right, kPopupWidth + kPopupColumnGap);
  workAreaStale_ = false;
}

void FrmMain::Form_Unload(int16_t& /*cancel*/) {
  // What waits is never shown: "end" closes at once.
  unloaded_ = true;
  waiting_.clear();
  // The popups; a form named like this one, in any letter case, stays.
  Forms().UnloadAllExcept(kFormName);
  UpdateChecks();
}

void FrmMain::Command1_Click() { SetLblDDE(kTestMessage); }

void FrmMain::SetLblDDE(const std::u16string& text) {
  host_.SetLabelWindowText(text);
  lblDDE_ = text;
  lblDDE_Change();
}

bool FrmMain::Poke(const std::u16string& text) {
  const std::u16string cut(CutText(text, kMaxMessageUnits));
  if (ParseDdeMessage(cut).kind == DdeMessage::Kind::kNotification &&
      waiting_.size() >= kMaxWaiting) {
    // The line may have room once what the last check held back is shown.
    ShowWaiting();
    if (waiting_.size() >= kMaxWaiting) return false;
  }
  // The notification this poke brings, if it is one, is the next to be taken (a poke
  // let in while a popup starts has its own, and restores this one's as it returns).
  const std::optional<uint64_t> outerTicket = pokeTicket_;
  const bool outerFailed = pokeFailed_;
  pokeTicket_ = lastTicket_ + 1;
  pokeFailed_ = false;
  SetLblDDE(cut);
  const bool failed = pokeFailed_;
  pokeTicket_ = outerTicket;
  pokeFailed_ = outerFailed;
  return !failed;
}

void FrmMain::lblDDE_Change() {
  const DdeMessage m = ParseDdeMessage(lblDDE_);
  switch (m.kind) {
    case DdeMessage::Kind::kNothing:
      return;
    case DdeMessage::Kind::kEnd:
      // The label keeps "end"; the unload closes every popup and ends the loop.
      host_.UnloadMainForm();
      return;
    case DdeMessage::Kind::kNotification:
      break;
  }
  // Emptied so that the same message poked again is a change again. The nested
  // run for the empty text stops at once.
  SetLblDDE(u"");

  // In line behind any that wait, so that nothing is shown out of order. A full line
  // drops it: only the test button gets here then, since Poke refuses first.
  if (waiting_.size() >= kMaxWaiting) return;
  lastTicket_ += 1;
  waiting_.push_back({m, lastTicket_});
  ShowWaiting();
}

void FrmMain::ShowWaiting() {
  if (!loaded_ || unloaded_ || showing_) return;
  showing_ = true;
  const ScopeExit done([this] { showing_ = false; });
  // The user's state is asked only when a notification could be shown now.
  if (!waiting_.empty() && gPopupCount < kMaxOpenPopups && !host_.ShouldNotDisturb()) {
    // The first popup of a stack starts as the user is now: away or not.
    if (!presenceCheckOn_) LookAtInput();
    while (!waiting_.empty() && gPopupCount < kMaxOpenPopups && !unloaded_) {
      Waiting next = std::move(waiting_.front());
      waiting_.pop_front();
      if (!ShowNotification(next.message) && pokeTicket_ == next.ticket) pokeFailed_ = true;
    }
  }
  UpdateChecks();
}

void FrmMain::UpdateChecks() {
  const bool check = !waiting_.empty() && !unloaded_;
  if (check != waitCheckOn_) {
    waitCheckOn_ = check;
    host_.SetWaitCheck(check);
  }
  const bool presence = gPopupCount > 0 && !unloaded_;
  if (presence != presenceCheckOn_) {
    presenceCheckOn_ = presence;
    host_.SetPresenceCheck(presence);
  }
}

void FrmMain::LookForTheUser() {
  if (!loaded_ || unloaded_) return;
  // Nothing is read while no popup is open.
  if (gPopupCount > 0) LookAtInput();
  UpdateChecks();
}

void FrmMain::LookAtInput() {
  const std::optional<InputTimes> times = host_.ReadInputTimes();
  if (!times) return;
  away_.Look(*times);
  if (away_.away() == userAway_) return;
  userAway_ = away_.away();
  host_.SetUserAway(userAway_);
}

void FrmMain::PopupClosed() {
  if (gPopupCount == 0 && presenceCheckOn_) {
    presenceCheckOn_ = false;
    host_.SetPresenceCheck(false);
  }
}

bool FrmMain::ShowNotification(const DdeMessage& m) {
  if (workAreaStale_) MeasureWorkArea();
  const int32_t y = NextPopupY(rcWorkArea_.bottom, nSlot_, gPopupCount);
  const int32_t nSX = nPopupX_;
  try {
    host_.ShowPopup(m.sName, m.iMode, nSX, y);
  } catch (...) {
    // A popup the system cannot make now (out of windows or memory) is skipped and
    // written down; the program and the popups after it go on.
    host_.LogSkippedPopup(CurrentError());
    return false;
  }
  return true;
}

std::u16string_view CutText(std::u16string_view text, size_t maxUnits) {
  if (text.size() <= maxUnits) return text;
  size_t n = maxUnits;
  // A high surrogate as the last unit kept would lose its low half.
  if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  return text.substr(0, n);
}

DdeMessage ParseDdeMessage(std::u16string_view text) {
  DdeMessage m;
  if (text.empty()) return m;
  // Case-sensitive and whole: "End", "END" and "end " are ordinary notifications.
  if (text == u"end") {
    m.kind = DdeMessage::Kind::kEnd;
    return m;
  }
  m.kind = DdeMessage::Kind::kNotification;
  const char16_t first = text[0];
  m.iMode = (first >= u'0' && first <= u'9') ? static_cast<int16_t>(first - u'0') : 0;
  if (text.size() > 2) m.sName = std::u16string(CutText(text.substr(2), kMaxNameUnits));
  return m;
}

int32_t NextPopupY(int32_t bottom, int32_t& nSlot, int32_t popupCount) {
  // Freed slots are reused only once every popup has closed.
  if (popupCount == 0) nSlot = 0;
  int32_t y = CheckedSub(bottom, CheckedMul(nSlot, kSlotPitch));
  // Measured from the top of the screen: a popup standing on y must not reach above 0.
  if (y < kPopupMaxHeight) {
    y = CheckedSub(bottom, kWrapLift);
    nSlot = 1;
  } else {
    nSlot = CheckedAdd(nSlot, int32_t{1});
  }
  return y;
}

bool StateHoldsNotifications(UserNotificationState state) {
  switch (state) {
    case UserNotificationState::kNotPresent:
    case UserNotificationState::kBusy:
    case UserNotificationState::kRunningD3DFullScreen:
    case UserNotificationState::kPresentationMode:
      return true;
    default:
      return false;
  }
}

bool ForegroundIsFullScreen(const ForegroundInfo& f) {
  if (!f.exists || f.isDesktopOrShell) return false;
  // The desktop's icons stand in windows of these classes, which cover the screen.
  if (f.windowClass == u"Progman" || f.windowClass == u"WorkerW") return false;
  // A maximized window covers its monitor wherever no taskbar takes part of it (an
  // auto-hidden taskbar, a second monitor), its frame just outside the monitor's edges;
  // it is an ordinary window all the same, and so is any with a title bar.
  if (f.zoomed || f.hasCaption) return false;
  const ScreenRect& w = f.window;
  const ScreenRect& m = f.monitor;
  if (m.right <= m.left || m.bottom <= m.top) return false;
  return w.left <= m.left && w.top <= m.top && w.right >= m.right && w.bottom >= m.bottom;
}

void AwayWatch::Started(const std::optional<InputTimes>& times) {
  if (times) inputAtStart_ = times->lastInput;
}

AwayWatch::Change AwayWatch::Look(const InputTimes& times) {
  if (!inputSeen_) {
    if (!inputAtStart_) {
      inputAtStart_ = times.lastInput;
      return Change::kNone;
    }
    // Only input since the start counts: until then the user has not been here.
    if (times.lastInput == *inputAtStart_) return Change::kNone;
    inputSeen_ = true;
  }
  if (away_) {
    if (times.lastInput == inputWhenAway_) return Change::kNone;
    away_ = false;
    return Change::kBack;
  }
  // Right across the clock's wrap; an input stamped a moment after `now` was read
  // (the two come from separate calls) is input just now.
  const int64_t since = static_cast<int32_t>(times.now - times.lastInput);
  if (since < static_cast<int64_t>(awayAfterMs_)) return Change::kNone;
  away_ = true;
  inputWhenAway_ = times.lastInput;
  return Change::kAway;
}

}  // namespace tindra
