// Vantorel.exe, the update checker. Started by Tindra in its program folder as
//   Vantorel.exe REVISION;FILE.exe          (for example 27;Tindra.exe)
// It reads the latest revision of FILE from FILE's base name + "_lastver.txt" under
// the update folder of the server, and when that is newer than REVISION downloads
// FILE as "New_" + FILE into its own folder. The new file is kept only when it is
// a Windows program signed by the same publisher as this checker whose version
// block names FILE and carries the announced revision; a stale "New_" file from an
// earlier run is removed first (read-only or not), so the file exists after the
// checker ends exactly when a verified newer program is ready.
//
// Server host: the one this checker was built for, and nothing else.
//
// Before it leaves a new program, it makes sure a Pellmora.exe trusted in that role
// is in the folder, fetching it when missing or untrusted; a revision whose install failed
// (the replacer's FILE base name + "_failed.txt") is not fetched again until its
// back-off is over. Closing its window cancels the check; transfers are bounded in
// size and time.
//
// Exit code: 0 nothing to install, 1 "New_" file ready, 2 bad parameters, 3 a stale
// "New_" file could not be removed, 4 the download or its check failed, 5 cancelled.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "common/win32/ansi.h"
#include "common/win32/dll_search.h"
#include "common/win32/handle.h"
#include "common/win32/program_path.h"
#include "common/win32/window.h"
#include "update/AutoUpdater.h"
#include "update/CompanionRules.h"
#include "update/InstallRules.h"
#include "update/ProgramTrust.h"
#include "update/win32/CompanionFiles_win32.h"
#include "update/win32/http_win32.h"
// This copy's build settings (TINDRA_PROGRAM_*).
#include "tindra_program.h"

namespace {

using namespace tindra;
using namespace tindra::win32;

constexpr UINT kWmDone = WM_APP + 1;
constexpr wchar_t kClassName[] = L"TindraVantorel";
constexpr int kExitNothing = 0;
constexpr int kExitReady = 1;
constexpr int kExitBadArgs = 2;
constexpr int kExitStale = 3;
constexpr int kExitFailed = 4;
constexpr int kExitCancelled = 5;

// Closing the window asks the check to stop: transfers end between two reads.
std::atomic<bool> gCancelled{false};

int CheckForUpdate(const CheckerArgs& args, const std::u16string& folder) {
  const std::u16string target = folder + u"\\" + kNewPrefix + args.exeFile;
  const std::u16string replacer = folder + u"\\" + kReplacerName;
  if (!RemoveProgramFile(target)) return kExitStale;
  RemoveLeftoverDownloads(folder, {std::u16string(kNewPrefix) + args.exeFile + kPartSuffix,
                                   std::u16string(kReplacerName) + kPartSuffix});

  TransferLimits limits;
  limits.deadlineMs = TINDRA_PROGRAM_NET_DEADLINE_MS;
  limits.cancel = &gCancelled;
  const std::u16string base = UpdateBaseUrl(Ascii(TINDRA_PROGRAM_UPDATE_HOST));
  std::string body;
  if (!FetchBody(base + VersionFileName(args.exeFile), 64, body, limits)) return kExitNothing;
  std::optional<int32_t> latest = ParseLatestRevision(body);
  if (!latest || *latest <= args.revision) return kExitNothing;
  // A revision whose install failed is left alone for a while.
  if (!MayFetch(ReadFailedInstall(folder + u"\\" + FailedInstallFileName(args.exeFile)), *latest,
                UnixTimeNow())) {
    return kExitNothing;
  }

  // The new program is left only for a replacer that can install it.
  Win32CompanionFiles files(limits);
  if (!EnsureTrustedCompanion(files, base + kReplacerName, replacer, kReplacerName)) {
    return kExitFailed;
  }
  RevisionRule announced;
  announced.exact = *latest;
  if (!FetchCompanion(files, base + args.exeFile, target, args.exeFile, announced)) {
    return kExitFailed;
  }
  if (gCancelled) {
    RemoveProgramFile(target);
    return kExitCancelled;
  }
  return kExitReady;
}

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
  WNDCLASSW wc = {};
  wc.lpfnWndProc = &ProgressWindow::Procedure;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassW(&wc);
  const int w = 300;
  const int h = 110;
  RECT work = {0, 0, 800, 600};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  HWND hwnd =
      CreateWindowExW(0, kClassName, L"Tindra", WS_CAPTION | WS_POPUP | WS_BORDER | WS_SYSMENU,
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
  const std::u16string args = ArgumentsOf(FromWide(GetCommandLineW()));
  std::optional<CheckerArgs> parsed = ParseCheckerArgs(args);
  if (!parsed) {
    std::u16string text = u"잘못된 실행 인수입니다: \"" + args +
                          u"\"\r\n\r\n사용법: Vantorel.exe 리비전;파일이름.exe (예: 27;Tindra.exe)";
    MessageBoxW(nullptr, WidePtr(text), L"Vantorel", MB_OK | MB_ICONERROR);
    return kExitBadArgs;
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

  std::atomic<int> result{kExitFailed};
  std::thread worker([&] {
    try {
      result = CheckForUpdate(*parsed, ProgramFolder());
    } catch (...) {
      result = kExitFailed;
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
  return result;
}
