#include "app/FrmMain.h"

#include "app/intake.h"
#include "app/modMain.h"
#include "common/numeric.h"
#include "common/text.h"

namespace tindra {

void FrmMain::Form_Load() {
  gServerHost = host_.BuiltInUpdateHost();

  if (host_.AnotherInstanceRunning()) {
    host_.EndProcessNow();
    return;
  }

  const int16_t skipSelfUpdate = 0;
  updating_ = true;
  host_.RunAutoUpdate(gServerHost, skipSelfUpdate);
  updating_ = false;

  nSlot_ = 0;
  gPopupCount = 0;

  host_.GetWorkArea(rcWorkArea_);
  const float tppX = host_.TwipsPerPixelX();
  const float tppY = host_.TwipsPerPixelY();
  rcWorkArea_.left = PixelsToTwips(rcWorkArea_.left, tppX);
  rcWorkArea_.right = PixelsToTwips(rcWorkArea_.right, tppX);
  rcWorkArea_.top = PixelsToTwips(rcWorkArea_.top, tppY);
  rcWorkArea_.bottom = PixelsToTwips(rcWorkArea_.bottom, tppY);

  nPopupX_ = CheckedSub(rcWorkArea_.right, kPopupWidth + kPopupColumnGap);
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

void FrmMain::Form_Unload(int16_t& /*cancel*/) {
  // The popups; a form named like this one, in any letter case, stays.
  Forms().UnloadAllExcept(kFormName);
}

void FrmMain::Command1_Click() { SetLblDDE(kTestMessage); }

void FrmMain::SetLblDDE(const std::u16string& text) {
  host_.SetLabelWindowText(text);
  lblDDE_ = text;
  lblDDE_Change();
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

  const int32_t y = NextPopupY(rcWorkArea_.bottom, nSlot_, gPopupCount);
  const int32_t nSX = nPopupX_;
  host_.ShowPopup(m.sName, m.iMode, nSX, y);
}

}  // namespace tindra
