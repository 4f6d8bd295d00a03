// What a person would see and do during the update, for the Wine tests:
//   update-probe box TIMEOUT_MS            wait for a dialog box, print its caption and
//                                          texts, press its first button
//   update-probe nobox MS                  exit 0 when no dialog box appears within MS
//   update-probe window TEXT TIMEOUT_MS    wait for a visible window whose caption
//                                          contains TEXT, print the caption, close it
//   update-probe running NAME              exit 0 when a process NAME runs
//   update-probe waitgone NAME TIMEOUT_MS  wait until no process NAME runs
//   update-probe kill NAME                 end every process NAME
//   update-probe version PATH              print the file's FileVersion string
//   update-probe readurl URL               ReadUrlText: the text's UTF-16 units in hex
//   update-probe download URL PATH         DownloadToFile: print its result (-1 or 0)
//   update-probe hold PATH MS              keep PATH open for MS, readers only
//   update-probe lock PATH MS              keep PATH open for MS, shared with nobody
//   update-probe signature PATH            the file's signature: its status and
//                                          whether its signer's key matches this probe's
//   update-probe acp                       print the ANSI code page
//   update-probe log NAME COUNT            write COUNT lines "NAME log file=N" to the
//                                          update log of the probe's own folder
//   update-probe answers TIMEOUT_MS        wait for Tindra's main window, then broadcast
//                                          WM_NULL (SMTO_NORMAL) and send it WM_NULL:
//                                          print how long each took
//   update-probe tell close|endsession     close Tindra's main window (posted), or end
//                                          the session for it (WM_QUERYENDSESSION, then
//                                          WM_ENDSESSION): print its answers
// Output is UTF-8, one item per line.
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "tools/harness/win_support.h"
#include "update/win32/program_trust_win32.h"
#include "update/win32/update_log_win32.h"
#include "update/win32/update_network_win32.h"

namespace {

void Print(const std::wstring& text) {
  std::wstring line = text + L"\n";
  int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), out.data(), n,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written,
            nullptr);
}

using tindra::test::ChildWindows;
using tindra::test::PumpUntil;
using tindra::test::WindowClass;
using tindra::test::WindowText;

std::vector<HWND> TopWindows() {
  return tindra::test::TopLevelWindows([](HWND h) { return IsWindowVisible(h) != FALSE; });
}

HWND FindDialog() {
  for (HWND h : TopWindows()) {
    if (WindowClass(h) == L"#32770") return h;
  }
  return nullptr;
}

int Box(DWORD timeout) {
  HWND dialog = nullptr;
  if (!PumpUntil([&] { return (dialog = FindDialog()) != nullptr; }, timeout, 100)) return 1;
  Sleep(200);  // let the box finish laying out
  Print(L"caption: " + WindowText(dialog));
  HWND button = nullptr;
  for (HWND c : ChildWindows(dialog)) {
    std::wstring cls = WindowClass(c);
    if (cls == L"Static") {
      std::wstring t = WindowText(c);
      if (!t.empty()) Print(L"text: " + t);
      // A bounded send: a box whose thread stops answering must not hang the probe.
      DWORD_PTR icon = 0;
      if (SendMessageTimeoutW(c, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon) && icon)
        Print(L"icon");
    } else if (cls == L"Button" && !button) {
      button = c;
      Print(L"button: " + WindowText(c));
    }
  }
  if (button) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
  } else {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  }
  return 0;
}

int Window(const std::wstring& text, DWORD timeout) {
  HWND found = nullptr;
  auto look = [&] {
    for (HWND h : TopWindows())
      if (WindowText(h).find(text) != std::wstring::npos) return (found = h) != nullptr;
    return false;
  };
  if (!PumpUntil(look, timeout, 100)) return 1;
  Print(L"caption: " + WindowText(found));
  PostMessageW(found, WM_CLOSE, 0, 0);
  return 0;
}

std::vector<DWORD> Processes(const std::wstring& name) {
  std::vector<DWORD> ids;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W e;
  e.dwSize = sizeof(e);
  for (BOOL more = Process32FirstW(snap, &e); more; more = Process32NextW(snap, &e)) {
    if (lstrcmpiW(e.szExeFile, name.c_str()) == 0) ids.push_back(e.th32ProcessID);
  }
  CloseHandle(snap);
  return ids;
}

int Version(const std::wstring& path) {
  DWORD ignored = 0;
  // A failure says which call failed and why, for the test's message.
  auto failed = [](const wchar_t* call) {
    Print(std::wstring(call) + L" failed with error " + std::to_wstring(GetLastError()));
    return 1;
  };
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (!size) return failed(L"GetFileVersionInfoSizeW");
  std::vector<char> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
    return failed(L"GetFileVersionInfoW");
  wchar_t* value = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\041204B0\\FileVersion",
                      reinterpret_cast<void**>(&value), &len) ||
      !value) {
    return failed(L"VerQueryValueW");
  }
  Print(std::wstring(value, len && value[len - 1] == 0 ? len - 1 : len));
  return 0;
}

// Tindra's hidden main window, by its class.
HWND MainWindow(DWORD timeoutMs) {
  HWND found = nullptr;
  PumpUntil([&] { return (found = FindWindowW(L"TindraFrmMain", nullptr)) != nullptr; }, timeoutMs,
            50);
  return found;
}

// A send that waits at most 30 s: its time in milliseconds, or "no answer".
template <typename Send>
std::wstring Timed(Send&& send) {
  const ULONGLONG began = GetTickCount64();
  const bool answered = send();
  return answered ? std::to_wstring(GetTickCount64() - began) + L" ms" : L"no answer";
}

int Answers(DWORD timeoutMs) {
  HWND main = MainWindow(timeoutMs);
  if (!main) return 1;
  DWORD_PTR result = 0;
  Print(L"broadcast: " + Timed([&] {
          return SendMessageTimeoutW(HWND_BROADCAST, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result) !=
                 0;
        }));
  Print(L"null: " + Timed([&] {
          return SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result) != 0;
        }));
  return 0;
}

int Tell(const std::wstring& what) {
  HWND main = MainWindow(5000);
  if (!main) return 1;
  if (what == L"close") return PostMessageW(main, WM_CLOSE, 0, 0) ? 0 : 1;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000,
                           &result)) {
    Print(L"query: no answer");
    return 1;
  }
  Print(L"query: " + std::to_wstring(result));
  // The program ends while it handles this; the send then returns without an answer.
  SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &result);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::wstring cmd = argv[1];
  auto ms = [&](int i) { return argc > i ? static_cast<DWORD>(_wtoi(argv[i])) : 10000u; };
  if (cmd == L"box") return Box(ms(2));
  if (cmd == L"nobox") {
    Sleep(ms(2));
    return FindDialog() ? 1 : 0;
  }
  if (cmd == L"window" && argc >= 3) return Window(argv[2], ms(3));
  if (cmd == L"running" && argc >= 3) return Processes(argv[2]).empty() ? 1 : 0;
  if (cmd == L"waitgone" && argc >= 3) {
    return PumpUntil([&] { return Processes(argv[2]).empty(); }, ms(3), 100) ? 0 : 1;
  }
  if (cmd == L"kill" && argc >= 3) {
    for (DWORD id : Processes(argv[2])) {
      HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
      if (p) {
        TerminateProcess(p, 1);
        WaitForSingleObject(p, 5000);
        CloseHandle(p);
      }
    }
    return 0;
  }
  if (cmd == L"version" && argc >= 3) return Version(argv[2]);
  if (cmd == L"answers") return Answers(ms(2));
  if (cmd == L"tell" && argc >= 3) return Tell(argv[2]);
  if (cmd == L"acp") {
    Print(std::to_wstring(GetACP()));
    return 0;
  }
  if (cmd == L"readurl" && argc >= 3) {
    std::u16string text =
        tindra::win32::Win32UpdateNetwork().ReadUrlText(reinterpret_cast<const char16_t*>(argv[2]));
    std::wstring hex;
    for (char16_t c : text) {
      wchar_t unit[8];
      swprintf(unit, 8, L"%04x ", static_cast<unsigned>(c));
      hex += unit;
    }
    Print(L"units: " + hex);
    return 0;
  }
  if ((cmd == L"hold" || cmd == L"lock") && argc >= 4) {
    HANDLE file = CreateFileW(argv[2], GENERIC_READ, cmd == L"hold" ? FILE_SHARE_READ : 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    Print(L"held");
    Sleep(ms(3));
    CloseHandle(file);
    return 0;
  }
  if (cmd == L"squat" && argc >= 3) {
    // Takes first the names another program could take: the fatal-error events of every
    // process identifier a replacer of an earlier revision would name, already set, the
    // update log's mutex, held, and Tindra's one-instance mutex.
    std::vector<HANDLE> taken;
    for (DWORD id = 4; id < 0x10000; id += 4) {
      const std::wstring name = L"Local\\Tindra.FatalError." + std::to_wstring(id);
      HANDLE event = CreateEventW(nullptr, TRUE, TRUE, name.c_str());
      if (event) taken.push_back(event);
    }
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Local\\TindraUpdateLog");
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return 1;
    // And Tindra's one-instance name.
    if (!CreateMutexW(nullptr, TRUE, L"Local\\Tindra.Instance.TINDRA")) return 1;
    Print(L"taken: " + std::to_wstring(taken.size()));
    Sleep(ms(2));
    return 0;
  }
  if (cmd == L"signature" && argc >= 3) {
    using tindra::SignatureStatus;
    tindra::win32::Win32ProgramInspector inspector;
    tindra::Signature s =
        tindra::win32::VerifySignature(reinterpret_cast<const char16_t*>(argv[2]));
    const wchar_t* names[] = {L"valid", L"untrusted-root", L"expired",
                              L"none",  L"bad-digest",     L"bad-signature"};
    Print(L"status: " + std::wstring(names[static_cast<int>(s.status)]));
    Print(std::wstring(L"same signer: ") +
          (tindra::SameSigner(inspector.OwnSignature(), s) ? L"yes" : L"no"));
    return 0;
  }
  if (cmd == L"log" && argc >= 4) {
    // Each line long enough that a few thousand of them fill the log past its cap.
    tindra::win32::Win32UpdateLog log(reinterpret_cast<const char16_t*>(argv[2]));
    tindra::UpdateEvent e;
    e.step = u"log";
    e.reason = std::u16string(100, u'x');
    for (DWORD i = 0; i < ms(3); ++i) {
      e.file = tindra::Ascii(std::to_string(i));
      log.Write(e);
    }
    return 0;
  }
  if (cmd == L"download" && argc >= 4) {
    // -1 for a stored file, 0 otherwise, as the program's download reports it.
    const bool ok = tindra::win32::Win32UpdateNetwork().DownloadToFile(
        reinterpret_cast<const char16_t*>(argv[2]), reinterpret_cast<const char16_t*>(argv[3]));
    Print(L"result: " + std::to_wstring(ok ? -1 : 0));
    return 0;
  }
  return 2;
}
