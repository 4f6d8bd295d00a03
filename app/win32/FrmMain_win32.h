#pragma once
// The main form as a Win32 window: hidden, never shown, with the real child controls
// Command1 and lblDDE. It is the platform side (FrmMainHost) of the form's logic.
// Last, lblDDE's DDE link (DdeServer), through DDEML: conversations on one topic of the
// service, and text poked into one item; every other transaction is refused. Clients
// that use plain DDE messages (WM_DDE_INITIATE, WM_DDE_POKE, WM_DDE_TERMINATE) instead
// of DDEML are answered by DDEML as well. The window opens its link once start-up is
// over (StartDdeLink) and closes it as it goes; at most one link runs at a time.
//
// Threads: the thread that creates the window is the program's one user-interface
// thread; every window of the program, the update's message boxes included, belongs to
// it. The start-up update alone runs on a thread of its own, which owns no window of the
// program (the shell and COM may make windows of their own there), while this thread
// waits for it taking messages (see startup_update.h).
#include <windows.h>
// ddeml.h needs windows.h first.
#include <ddeml.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/FrmMain.h"
#include "app/win32/single_instance.h"
#include "app/win32/startup_update.h"
#include "common/win32/handle.h"
#include "common/win32/window.h"

namespace tindra::win32 {

inline constexpr wchar_t kFrmMainClass[] = L"TindraFrmMain";
inline constexpr int kCommand1Id = 1;
inline constexpr int kLblDDEId = 2;
// The program's icon, also the main form's class icon.
inline constexpr int kBellIconId = 1;
// The program's base name (its DDE service name) when the platform cannot name the
// running file: the name it is shipped under.
inline constexpr char16_t kShippedName[] = u"Tindra";

class DdeServer;

class FrmMainWindow final : public FrmMainHost, public WindowBase<FrmMainWindow> {
 public:
  explicit FrmMainWindow(HINSTANCE instance);
  ~FrmMainWindow() override;
  FrmMainWindow(const FrmMainWindow&) = delete;
  FrmMainWindow& operator=(const FrmMainWindow&) = delete;

  // Creates the hidden window and its controls and registers the form. Raises
  // Invalid property value (380) when the window cannot be created.
  void Create();

  FrmMain& form() { return form_; }
  // True while pokes are taken: after Form_Load, before the unload.
  bool TakesPokes() const { return form_.loaded() && !unloading_; }
  // Opens lblDDE's DDE link under the program's base name (DdeServer), once start-up
  // has finished: pokes go to FrmMain::Poke while the form takes them. False when
  // DDEML cannot be set up.
  bool StartDdeLink();

  // FrmMainHost
  std::u16string BuiltInUpdateHost() override;
  bool AnotherInstanceRunning() override;
  [[noreturn]] void EndProcessNow() override;
  void UpdateAtStartup(const std::u16string& serverHost, const int16_t& skipSelfUpdate) override;
  void GetWorkArea(WorkArea& rc) override;
  float TwipsPerPixelX() override;
  float TwipsPerPixelY() override;
  void SetLabelWindowText(const std::u16string& text) override;
  void UnloadMainForm() override;
  void ShowPopup(const std::u16string& sName, const int16_t& iMode, const int32_t& nSX,
                 const int32_t& nSY) override;
  void LogSkippedPopup(const AppError& error) override;
  bool ShouldNotDisturb() override;
  void SetWaitCheck(bool on) override;
  std::optional<InputTimes> ReadInputTimes() override;
  void SetPresenceCheck(bool on) override;
  void SetUserAway(bool away) override;

 private:
  friend class WindowBase<FrmMainWindow>;
  LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // Starts (or restarts) the window's timer `timer`, or stops it.
  void SwitchTimer(UINT_PTR timer, UINT intervalMs, bool on);

  HINSTANCE instance_;
  FrmMain form_;
  HWND hwnd_ = nullptr;
  HWND command1_ = nullptr;
  HWND lblDDE_ = nullptr;
  SingleInstance singleInstance_;
  // The start-up update while it runs: the boxes it sends are shown through it.
  StartupUpdate* startupUpdate_ = nullptr;
  bool unloading_ = false;
  // A settings change is posted to this window and not yet handled.
  bool settingsChangePosted_ = false;
  std::unique_ptr<DdeServer> dde_;
};

// Text of a poke: CF_TEXT in the ANSI code page or CF_UNICODETEXT. The text ends at
// its first NUL or at the end of the data, whichever comes first. Other formats give
// no text.
bool DecodePokedText(UINT format, const BYTE* data, size_t size, std::u16string& text);

class DdeServer {
 public:
  // Returns false to refuse the poke (DDE_FNOTPROCESSED).
  using PokeHandler = std::function<bool(const std::u16string& text)>;

  // Pokes larger than this are refused unread.
  static constexpr DWORD kMaxPokeBytes = 1024 * 1024;

  DdeServer(std::u16string service, std::u16string topic, std::u16string item, PokeHandler onPoke);
  ~DdeServer();
  DdeServer(const DdeServer&) = delete;
  DdeServer& operator=(const DdeServer&) = delete;

  // Registers the service. False when DDEML cannot be set up.
  bool Start();

 private:
  static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                    HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
  HDDEDATA OnPoke(UINT format, HSZ topic, HSZ item, HDDEDATA data);
  bool Is(HSZ a, HSZ b) const;

  std::u16string serviceName_, topicName_, itemName_;
  PokeHandler onPoke_;
  DWORD inst_ = 0;
  DdeString service_;
  DdeString topic_;
  DdeString item_;
  bool registered_ = false;
};

}  // namespace tindra::win32
