// Vantorel.exe, the update checker: its window and its start. The check itself is
// update/update_checker.h, over the Win32 services.
//
// Server host: the one this checker was built for, and nothing else. Closing its
// window cancels the check; transfers are bounded in size and time.
//
// Exit code: 0 nothing to install, 1 "New_" file ready, 2 bad parameters, 3 a stale
// "New_" file could not be removed, 4 the download or its check failed, 5 cancelled.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/msgbox.h"
#include "common/text.h"
#include "common/win32/ansi.h"
#include "common/win32/dll_search.h"
#include "common/win32/handle.h"
#include "common/win32/test_host.h"
#include "common/win32/window.h"
#include "update/update_checker.h"
#include "update/update_events.h"
#include "update/win32/update_log_win32.h"
#include "update/win32/update_network_win32.h"
#include "update/win32/update_services_win32.h"
// This copy's build settings (TINDRA_PROGRAM_*).
#include "tindra_program.h"

namespace {

using namespace tindra;
using namespace tindra::win32;

constexpr UINT kWmDone = WM_APP + 1;
constexpr wchar_t kClassName[] = L"TindraVantorel";
// Closing the window asks the check to stop: a transfer ends at once.
std::atomic<bool> gCancelled{false};

// The small window shown while the check runs. Closing it asks the check to stop;
// it goes when the check has ended.
class ProgressWindow : public WindowBase<ProgressWindow> {
 public:
  LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case kWmDone:
        DestroyWindow(hwnd);
        return 0;
      case WM_CLOSE:
        gCancelled = true;
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
  }
};

HWND CreateProgressWindow(ProgressWindow& window, HINSTANCE instance, HFONT font) {
  const wchar_t* windowClass = ProgressWindow::RegisteredClass(
      {.name = kClassName, .cursor = IDC_WAIT, .background = COLOR_BTNFACE});
  const int w = 300;
  const int h = 110;
  RECT work = {0, 0, 800, 600};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  HWND hwnd =
      CreateWindowExW(0, windowClass, L"Tindra", WS_CAPTION | WS_POPUP | WS_BORDER | WS_SYSMENU,
                      (work.left + work.right - w) / 2, (work.top + work.bottom - h) / 2, w, h,
                      nullptr, nullptr, instance, &window);
  if (!hwnd) return nullptr;
  RECT client;
  GetClientRect(hwnd, &client);
  HWND label = CreateWindowExW(0, L"STATIC", L"업데이트 확인 중...",
                               WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 0, 0,
                               client.right, client.bottom, hwnd, nullptr, instance, nullptr);
  if (label && font) SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return hwnd;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show) {
  LoadDllsFromSystemFolderOnly();
  SetMessageCaption(u"Vantorel");
  Win32UpdateLog log(u"Vantorel");
  std::optional<CheckerArgs> parsed = ReadCheckerCommandLine(FromWide(GetCommandLineW()));
  if (!parsed) {
    LogCheckerEnd(log, kCheckerBadArgs);
    return kCheckerBadArgs;
  }

  UniqueFont font(CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, HANGUL_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                              DEFAULT_PITCH | FF_DONTCARE, L"돋움"));
  ProgressWindow window;
  HWND hwnd = CreateProgressWindow(window, instance, font.get());
  if (hwnd) {
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);
  }

  std::atomic<int> result{kCheckerFailed};
  std::thread worker([&] {
    try {
      TransferLimits limits;
      limits.readMs = TINDRA_PROGRAM_NET_READ_MS;
      limits.deadlineMs = TINDRA_PROGRAM_NET_DEADLINE_MS;
      limits.cancel = &gCancelled;
      const Win32UpdateServices update(log, {.transfers = limits});
#ifdef TINDRA_PROGRAM_TEST_HOST
      const std::u16string host = TestUpdateHost(TINDRA_PROGRAM_UPDATE_HOST);
#else
      const std::u16string host = Ascii(TINDRA_PROGRAM_UPDATE_HOST);
#endif
      result = CheckForUpdate(*parsed, host, update.services(), gCancelled);
    } catch (...) {
      result = kCheckerFailed;
    }
    if (hwnd) PostMessageW(hwnd, kWmDone, 0, 0);
  });
  if (hwnd) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  worker.join();
  LogCheckerEnd(log, result);
  return result;
}
