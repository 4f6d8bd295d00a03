#pragma once
// Drives the real Tindra.exe from a test: starts it, pokes it like the messenger,
// finds its windows, and ends it whatever happens.
#include <oleacc.h>
#include <windows.h>
#include <wrl/client.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/win32/dde_client.h"
#include "common/win32/handle.h"
#include "tools/harness/win_support.h"

namespace tindra::test {

// A Windows path of a file named by its Unix path (Wine maps / to drive Z:).
std::wstring WindowsPath(const std::string& unixOrWindowsPath);

struct PopupInfo {
  HWND hwnd;
  RECT rect;  // screen pixels
  LONG exStyle;
  // What the labels show, read from the window text (popup/win32/FrmTindra_win32.h).
  std::u16string name;  // lblName's text
  std::u16string desc;  // lblDesc's text
  bool noteVisible;     // picNote shown: a notice, whose text is one line
};

class TindraProcess {
 public:
  explicit TindraProcess(std::wstring exePath);
  ~TindraProcess();  // ends the process if it still runs
  TindraProcess(const TindraProcess&) = delete;
  TindraProcess& operator=(const TindraProcess&) = delete;

  // Starts the program; true once it has started (not yet that it answers DDE).
  bool Launch();
  // Waits until its DDE service takes conversations.
  bool WaitUntilAnswering(DWORD timeoutMs = 15000);
  bool Running() const;
  // Waits for the process to end; its exit code, or -1 when it did not end in time.
  long WaitForExit(DWORD timeoutMs);
  void Kill();

  DWORD pid() const { return pid_; }
  HANDLE handle() const { return process_.get(); }

  // The hidden main form and its child controls.
  HWND MainWindow() const;
  // Its visible popups, in no particular order.
  std::vector<PopupInfo> Popups() const;
  // Waits until `done(popups)` holds; false on timeout.
  template <typename Pred>
  bool WaitForPopups(Pred done, DWORD timeoutMs) const {
    return PumpUntil([&] { return done(Popups()); }, timeoutMs, 20);
  }

 private:
  std::wstring exe_;
  win32::UniqueHandle process_;
  DWORD pid_ = 0;
};

// Pokes `text` (CF_TEXT in the ANSI code page, or CF_UNICODETEXT).
poke::PokeOutcome PokeText(const std::u16string& text, bool raw = false, bool unicode = false);
// Pokes raw bytes under a clipboard format.
poke::PokeOutcome PokeBytes(const std::string& bytes, UINT format, bool raw = false);

// What a screen reader in another process gets from a program: an out-of-context
// WinEvent hook on the program's events, on a thread of its own, which reads the
// object of every alert through AccessibleObjectFromEvent as the alert arrives and
// keeps it, so that it can be asked again later (after its window has gone, say).
class AccessibilityListener {
 public:
  struct Alert {
    HWND hwnd;
    LONG idObject, idChild;
    HRESULT objectResult;  // of AccessibleObjectFromEvent
    LONG role;             // -1 when it could not be read
    std::u16string name;
    HRESULT nameResult;
  };

  explicit AccessibilityListener(DWORD pid);
  ~AccessibilityListener();
  AccessibilityListener(const AccessibilityListener&) = delete;
  AccessibilityListener& operator=(const AccessibilityListener&) = delete;

  // The hook is in place.
  bool Listening() const { return listening_; }
  std::vector<Alert> Alerts() const;
  // Focus and foreground changes (EVENT_OBJECT_FOCUS, EVENT_SYSTEM_FOREGROUND).
  int FocusEvents() const;
  // Waits, handling this thread's messages, until `count` alerts have arrived.
  bool WaitForAlerts(size_t count, DWORD timeoutMs) const;
  // Asks the object of alert `index` for its name again; the call's result.
  HRESULT NameAgain(size_t index, std::u16string* name);

 private:
  static void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG idObject, LONG idChild,
                               DWORD, DWORD);
  void Run();
  void Record(DWORD event, HWND hwnd, LONG idObject, LONG idChild);

  DWORD pid_;
  DWORD threadId_ = 0;
  std::thread thread_;
  win32::UniqueHandle ready_;
  bool listening_ = false;
  mutable std::mutex mutex_;
  std::vector<Alert> alerts_;
  std::vector<Microsoft::WRL::ComPtr<IAccessible>> objects_;  // the listener thread's
  int focusEvents_ = 0;
};

}  // namespace tindra::test
