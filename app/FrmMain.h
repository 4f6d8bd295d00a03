#pragma once
// The hidden main form: start-up, the DDE intake into lblDDE, the test button and
// shutdown. The logic is portable; everything it needs from the window system goes
// through FrmMainHost (the Win32 window in the program, a fake in the tests).
#include <cstdint>
#include <string>

#include "common/forms.h"

namespace tindra {

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
  // The start-up self-update from the update server at `serverHost`; may end the
  // process.
  virtual void RunAutoUpdate(const std::u16string& serverHost, const int16_t& skipSelfUpdate) = 0;
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

  // Creates a new popup and starts it (the popup form's Start).
  virtual void ShowPopup(const std::u16string& sName, const int16_t& iMode, const int32_t& nSX,
                         const int32_t& nSY) = 0;
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

  explicit FrmMain(FrmMainHost& host) : host_(host) {}

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

 private:
  FrmMainHost& host_;
  WorkArea rcWorkArea_;
  int32_t nPopupX_ = 0;
  int32_t nSlot_ = 0;
  bool loaded_ = false;
  bool updating_ = false;
  bool closeRequested_ = false;
  std::u16string lblDDE_ = kLabelDesignText;
};

}  // namespace tindra
