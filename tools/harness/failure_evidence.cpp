// Linked into every Windows test program: at a test's first failed assertion it keeps
// what the desktop showed then, in the folder the test slot keeps for the test
// (TINDRA_TEST_EVIDENCE, see scripts/test-evidence.sh): a screenshot of the whole
// screen (at-failure.png) and the top-level windows with their process, class, title,
// rectangle and state (windows-at-failure.txt). The slot's own screenshot comes only
// once the test has ended, when its tear-down has closed what was on the screen.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/harness/win_support.h"

namespace tindra::test {
namespace {

// A Linux path as this process sees it (drive Z: is the root).
std::wstring WindowsPath(const char* linuxPath) {
  std::wstring path = L"Z:";
  for (const char* c = linuxPath; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return path;
}

void ListWindows(const std::wstring& path) {
  FILE* out = _wfopen(path.c_str(), L"w");
  if (!out) return;
  for (HWND h : TopLevelWindows([](HWND) { return true; })) {
    RECT r{};
    GetWindowRect(h, &r);
    fprintf(out, "%p pid %lu %-24ls %s%s rect %ld,%ld,%ld,%ld \"%ls\"\n", static_cast<void*>(h),
            static_cast<unsigned long>(ProcessOf(h)), WindowClass(h).c_str(),
            IsWindowVisible(h) ? "visible" : "hidden ",
            (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST) ? " topmost" : "", r.left, r.top,
            r.right, r.bottom, WindowText(h).c_str());
  }
  POINT pointer{};
  GetCursorPos(&pointer);
  fprintf(out, "pointer at %ld,%ld; foreground window %p\n", pointer.x, pointer.y,
          static_cast<void*>(GetForegroundWindow()));
  fclose(out);
}

}  // namespace

bool KeepEvidence(const Shot& shot, const std::wstring& name) {
  const char* folder = std::getenv("TINDRA_TEST_EVIDENCE");
  return folder && *folder && SavePng(shot, WindowsPath(folder) + L"\\" + name);
}

namespace {

class FailureEvidence : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { kept_ = false; }
  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    const char* folder = std::getenv("TINDRA_TEST_EVIDENCE");
    if (kept_ || !result.failed() || !folder || !*folder) return;
    kept_ = true;
    const std::wstring dir = WindowsPath(folder);
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SavePng(Capture(screen), dir + L"\\at-failure.png");
    ListWindows(dir + L"\\windows-at-failure.txt");
  }
  bool kept_ = false;
};

const bool kRegistered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new FailureEvidence);
  return true;
}();

}  // namespace
}  // namespace tindra::test
