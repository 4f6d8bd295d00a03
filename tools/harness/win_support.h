#pragma once
// What every Windows test and the benchmark's client need of the desktop: window texts
// and classes, finding windows, handling messages while waiting, counting another
// process's objects, and copying the screen. The window and waiting helpers are inline
// so that a small tool can use them without linking tindra_win_harness.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/win32/handle.h"
#include "common/win32/window.h"

namespace tindra::test {

// ---- windows ----

inline std::wstring WindowText(HWND h) {
  if (!h) return {};
  const int n = GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(h, s.data(), n + 1);
  s.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return s;
}

inline std::wstring WindowClass(HWND h) {
  wchar_t name[256];
  const int n = GetClassNameW(h, name, 256);
  return std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0);
}

namespace detail {
template <typename Keep>
struct WindowSearch {
  Keep& keep;
  std::vector<HWND> found;
};
template <typename Keep>
BOOL CALLBACK KeepWindow(HWND h, LPARAM p) {
  auto* s = reinterpret_cast<WindowSearch<Keep>*>(p);
  if (s->keep(h)) s->found.push_back(h);
  return TRUE;
}
inline BOOL CALLBACK AddWindow(HWND h, LPARAM p) {
  reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
  return TRUE;
}
}  // namespace detail

// The top-level windows for which `keep(hwnd)` holds, in z-order.
template <typename Keep>
std::vector<HWND> TopLevelWindows(Keep keep) {
  detail::WindowSearch<Keep> search{keep, {}};
  EnumWindows(&detail::KeepWindow<Keep>, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline DWORD ProcessOf(HWND h) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  return pid;
}

// The top-level windows of process `pid` whose class is `windowClass`.
inline std::vector<HWND> WindowsOfClass(DWORD pid, const wchar_t* windowClass) {
  return TopLevelWindows(
      [&](HWND h) { return ProcessOf(h) == pid && WindowClass(h) == windowClass; });
}

// Every descendant of `parent`.
inline std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(parent, &detail::AddWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Windows (top-level and children) of a process.
inline int CountWindowsOf(DWORD pid) {
  int n = 0;
  for (HWND h : TopLevelWindows([&](HWND w) { return ProcessOf(w) == pid; }))
    n += 1 + static_cast<int>(ChildWindows(h).size());
  return n;
}

// ---- waiting ----

// Milliseconds on the performance counter, the clock the popups' timers run on. Tests
// time with it rather than with the tick count, which advances in steps of up to
// 16 ms (more on a loaded machine under Wine) and so reads a time span short.
inline ULONGLONG NowMs() { return static_cast<ULONGLONG>(win32::CounterUs() / 1000); }

// Handles this thread's messages for `ms` milliseconds, looking at its queue at least
// every 5 ms. A thread that waits must keep doing so: a DDE client broadcasts to every
// top-level window, this thread's included, and waits for each to answer.
inline void Pump(DWORD ms) {
  const ULONGLONG end = NowMs() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = NowMs();
    if (now >= end) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              static_cast<DWORD>(std::min<ULONGLONG>(end - now, 5)), QS_ALLINPUT);
  }
}

// Handles messages until `done()` holds, looking every `stepMs`; false on timeout.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs, DWORD stepMs = 5) {
  const ULONGLONG end = NowMs() + timeoutMs;
  while (!done()) {
    if (NowMs() >= end) return false;
    Pump(stepMs);
  }
  return true;
}

// ---- the system's settings ----

// Switches the system's animations ("Show animations in Windows") as its settings do:
// written for the user and announced to every window. Puts back what was there when it
// goes, also when a test fails. Under Wine 8 a program sees the switch only if it starts
// after it (or is the one that made it).
class AnimationsSwitch {
 public:
  AnimationsSwitch() { SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &before_, 0); }
  ~AnimationsSwitch() { Set(before_ != FALSE); }
  AnimationsSwitch(const AnimationsSwitch&) = delete;
  AnimationsSwitch& operator=(const AnimationsSwitch&) = delete;
  static bool Set(bool on) {
    return SystemParametersInfoW(SPI_SETCLIENTAREAANIMATION, 0,
                                 reinterpret_cast<void*>(static_cast<INT_PTR>(on ? TRUE : FALSE)),
                                 SPIF_UPDATEINIFILE | SPIF_SENDCHANGE) != FALSE;
  }

 private:
  BOOL before_ = TRUE;
};

// ---- another process's objects ----

// Live GDI objects of a process (this one too), -1 when they cannot be read.
// GetGuiResources gives them on Windows; Wine only has a stub returning 0, so there the
// process's own GDI handle table is read.
long GdiObjectsOf(HANDLE process);
// Live USER objects of a process (`pid` is its id), -1 when they cannot be read. Under
// Wine, the windows of the process found in the shared user handle table, message-only
// windows included; an icon's images are GDI bitmaps, so a leaked icon shows in the GDI
// count.
long UserObjectsOf(HANDLE process, DWORD pid);
// Open kernel handles of a process, -1 when they cannot be read. Wine's
// GetProcessHandleCount succeeds with 0, so there the system's handle list is read.
long KernelHandlesOf(HANDLE process, DWORD pid);

// Runs a command line, handling messages and calling `meanwhile` (when given) about
// every 20 ms while it runs; its exit code, -1 when it did not end in time (it is ended
// then), -2 when it could not start.
long RunAndWait(const std::wstring& commandLine, DWORD timeoutMs,
                const std::function<void()>& meanwhile = {});

// ---- the screen ----

// A copy of a screen area as 0x00RRGGBB pixels.
struct Shot {
  int x = 0, y = 0, width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int px, int py) const { return pixels[static_cast<size_t>(py) * width + px]; }
};

Shot Capture(RECT area);
// Saves a shot as PNG through the platform's image encoder.
bool SavePng(const Shot& shot, const std::wstring& path);
// Saves a shot as `name` (a PNG) among the evidence the test slot keeps of a failed test
// (tools/harness/failure_evidence.cpp); false outside a test slot.
bool KeepEvidence(const Shot& shot, const std::wstring& name);

// ---- the step counters ----

// The section a program keeps its step counters in (see common/win32/window.h),
// made as the benchmark's client makes it: before the program counts anything.
class StepCountersSection {
 public:
  StepCountersSection();
  ~StepCountersSection();
  StepCountersSection(const StepCountersSection&) = delete;
  StepCountersSection& operator=(const StepCountersSection&) = delete;

  // Null when the section could not be made.
  win32::StepCounters* view() const { return view_; }

 private:
  win32::UniqueHandle mapping_;
  win32::StepCounters* view_ = nullptr;
};

}  // namespace tindra::test
