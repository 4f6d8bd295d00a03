// The popup on real windows (under Wine and Xvfb in CI): placement right after
// Start, topmost without activation, texts and colours as they appear on the screen,
// clicks, the whole sequence ending with the popup gone, and handle counts after
// many popups. Screenshots of each kind go to the build folder's screenshots/.
#include <gtest/gtest.h>
#include <oleacc.h>
#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/forms.h"
#include "common/numeric.h"
#include "popup/FrmTindra.h"
#include "popup/win32/FrmTindra_win32.h"
#include "tools/harness/win_support.h"

namespace tindra {
namespace {

using Microsoft::WRL::ComPtr;
using namespace tindra::win32;

// The process sees the real dpi, as Tindra.exe does through its manifest.
const bool kDpiAware = SetProcessDPIAware() != FALSE;

// ---- message loop ----

using test::NowMs;
using test::Pump;
using test::PumpUntil;

// ---- finding the popup ----

std::vector<HWND> PopupWindows() {
  return test::WindowsOfClass(GetCurrentProcessId(), kPopupClassName);
}

using test::WindowText;

RECT Rect(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return r;
}

// ---- the screen ----

struct Geometry {
  float tppX, tppY;
  RECT workArea;  // pixels
  int32_t nSX, nSY;
};

Geometry ScreenGeometry() {
  Geometry g{};
  g.tppX = ScreenScale().x;
  g.tppY = ScreenScale().y;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &g.workArea, 0);
  g.nSX = static_cast<int32_t>(std::lround(g.workArea.right * g.tppX)) - 2785;
  g.nSY = static_cast<int32_t>(std::lround(g.workArea.bottom * g.tppY));
  return g;
}

int Px(double twips, float tpp) { return static_cast<int>(std::nearbyint(twips / tpp)); }

// A part's box in pixels relative to the popup window at the dpi settings the tests run
// at (96, 120, 144), worked out by hand: left, top, width and height each divided by the
// twips per pixel (15, 12, 10) and rounded, halves to even (2715 / 10 = 271.5 -> 272).
RECT PartBox(const TwipsBox& b, const Geometry& g) {
  struct Boxes {
    float tpp;
    RECT picture1, note, name, desc;
  };
  static const Boxes kAt[] = {
      {15.0f, {0, 0, 181, 132}, {19, 81, 51, 113}, {6, 31, 172, 45}, {3, 51, 169, 67}},
      {12.0f, {0, 0, 226, 165}, {24, 101, 64, 141}, {8, 39, 216, 57}, {4, 64, 212, 84}},
      {10.0f, {0, 0, 272, 198}, {28, 122, 76, 170}, {9, 46, 258, 67}, {4, 76, 253, 100}},
  };
  for (const Boxes& at : kAt) {
    if (at.tpp != g.tppX || at.tpp != g.tppY) continue;
    if (&b == &kPicNoteBox) return at.note;
    if (&b == &kLblNameBox) return at.name;
    if (&b == &kLblDescBox) return at.desc;
    return at.picture1;
  }
  ADD_FAILURE() << "no boxes worked out for " << g.tppX << " x " << g.tppY << " twips per pixel";
  return RECT{};
}

// Where the background image's white right margin starts: its 176 design pixels at the
// screen's dpi (176 at 96, 220 at 120, 264 at 144).
int ArtworkWidth(const Geometry& g) {
  if (g.tppX == 12.0f) return 220;
  if (g.tppX == 10.0f) return 264;
  if (g.tppX != 15.0f) ADD_FAILURE() << "no artwork width worked out for " << g.tppX;
  return 176;
}

using test::Capture;
using test::Shot;

int R(uint32_t p) { return (p >> 16) & 0xFF; }
int G(uint32_t p) { return (p >> 8) & 0xFF; }
int B(uint32_t p) { return p & 0xFF; }
bool Near(uint32_t p, int r, int g, int b, int tolerance) {
  return std::abs(R(p) - r) <= tolerance && std::abs(G(p) - g) <= tolerance &&
         std::abs(B(p) - b) <= tolerance;
}

// Pixels of colour (r, g, b) inside `box` (relative to the shot), and their horizontal
// extent.
struct ColourCount {
  int count = 0;
  int minX = INT_MAX, maxX = INT_MIN;
};
ColourCount CountColour(const Shot& shot, RECT box, int r, int g, int b, int tolerance = 24) {
  ColourCount c;
  for (int y = std::max<int>(0, box.top); y < std::min<int>(shot.height, box.bottom); ++y)
    for (int x = std::max<int>(0, box.left); x < std::min<int>(shot.width, box.right); ++x)
      if (Near(shot.At(x, y), r, g, b, tolerance)) {
        c.count++;
        c.minX = std::min(c.minX, x);
        c.maxX = std::max(c.maxX, x);
      }
  return c;
}

void SaveScreenshot(const Shot& shot, const std::wstring& name) {
  std::wstring dir = L"" TINDRA_SCREENSHOT_DIR;
  CreateDirectoryW(dir.c_str(), nullptr);
  EXPECT_TRUE(test::SavePng(shot, dir + L"/" + name)) << "could not save " << shot.width;
}

// ---- handle counts ----
// This process's own, read as another process's are.

long GdiObjects() { return test::GdiObjectsOf(GetCurrentProcess()); }

std::string GdiTypes() {
  std::map<DWORD, int> types;
  for (ULONG i = 1; i < 0x10000; ++i)
    if (DWORD t = GetObjectType(reinterpret_cast<HGDIOBJ>(static_cast<ULONG_PTR>(i)))) types[t]++;
  std::string out;
  for (auto [t, n] : types) out += std::to_string(t) + ":" + std::to_string(n) + " ";
  return out;
}

long UserObjects() { return test::UserObjectsOf(GetCurrentProcess(), GetCurrentProcessId()); }

// ---- fixture ----

class PopupWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kDpiAware);
    geo_ = ScreenGeometry();
    // A foreground window of our own, which the popups must leave in front.
    foreground_ =
        CreateWindowExW(0, L"STATIC", L"foreground", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300,
                        200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(foreground_);
    SetForegroundWindow(foreground_);
    PumpUntil([&] { return GetForegroundWindow() == foreground_; }, 2000);
    ASSERT_EQ(GetForegroundWindow(), foreground_);
  }
  void TearDown() override {
    Forms().UnloadAllExcept(u"FrmMain");
    Pump(20);
    EXPECT_TRUE(PopupWindows().empty());
    EXPECT_EQ(popupCount_, 0);
    DestroyWindow(foreground_);
  }

  // Starts a popup as the shell does and returns its window.
  HWND StartPopup(const std::u16string& name, int16_t mode, int32_t sy) {
    const std::vector<HWND> before = PopupWindows();
    OpenPopup(popupCount_, name, mode, geo_.nSX, sy);
    for (HWND h : PopupWindows())
      if (std::find(before.begin(), before.end(), h) == before.end()) return h;
    return nullptr;
  }
  HWND StartPopup(const std::u16string& name, int16_t mode) {
    return StartPopup(name, mode, geo_.nSY);
  }

  // Waits until an opening popup holds (its height stays at full size).
  void WaitOpen(HWND popup) {
    const int full = Px(1950, geo_.tppY);
    ASSERT_TRUE(PumpUntil(
        [&] {
          RECT r = Rect(popup);
          return r.bottom - r.top >= full;
        },
        5000));
    Pump(100);
  }

  bool Gone(HWND popup) { return !IsWindow(popup); }

  // A click at (x, y) of the popup window, posted as the window system delivers it.
  void Click(HWND popup, int x, int y) {
    PostMessageW(popup, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageW(popup, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Pump(50);
  }
  void Click(HWND popup, const TwipsBox& part, int dx, int dy) {
    const RECT b = PartBox(part, geo_);
    Click(popup, b.left + dx, b.top + dy);
  }

  Geometry geo_{};
  HWND foreground_ = nullptr;
  // The count of loaded popups that the popups under test keep.
  int32_t popupCount_ = 0;
};

// ---- placement right after Start ----

TEST_F(PopupWinTest, LoginIsVisibleTopmostAtHeightZeroWithoutTakingTheFocus) {
  EXPECT_EQ(popupCount_, 0);
  HWND popup = StartPopup(u"test", 0);
  ASSERT_TRUE(popup);
  EXPECT_EQ(popupCount_, 1);
  RECT r = Rect(popup);
  EXPECT_EQ(r.left, Px(geo_.nSX, geo_.tppX));
  EXPECT_EQ(r.top, geo_.workArea.bottom);
  EXPECT_EQ(r.bottom - r.top, 0);
  EXPECT_EQ(r.right - r.left, Px(2685, geo_.tppX));
  EXPECT_TRUE(IsWindowVisible(popup));
  EXPECT_TRUE(GetWindowLongW(popup, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_TRUE(GetWindowLongW(popup, GWL_EXSTYLE) & WS_EX_NOACTIVATE);
  EXPECT_EQ(GetWindowLongW(popup, GWL_STYLE) & (WS_CAPTION | WS_BORDER | WS_THICKFRAME), 0);
  // What it shows, for tools; its controls are drawn by the window itself.
  EXPECT_EQ(WindowText(popup), L"test님이\r\n로그인 하였습니다.");
  EXPECT_EQ(GetWindow(popup, GW_CHILD), nullptr);
  EXPECT_EQ(GetForegroundWindow(), foreground_);
  EXPECT_NE(GetFocus(), popup);
  EXPECT_EQ(Forms().size(), 1u);
  EXPECT_EQ(Forms().Snapshot()[0]->FormName(), u"FrmTindra");
}

TEST_F(PopupWinTest, LogoutStandsAtFullHeightOnItsBottomEdge) {
  const int32_t sy = geo_.nSY - 1985;
  HWND popup = StartPopup(u"사용자", 1, sy);
  ASSERT_TRUE(popup);
  RECT r = Rect(popup);
  EXPECT_EQ(r.bottom - r.top, Px(1965, geo_.tppY));
  EXPECT_EQ(r.bottom, Px(sy, geo_.tppY));
  EXPECT_TRUE(IsWindowVisible(popup));
  EXPECT_TRUE(GetWindowLongW(popup, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(GetForegroundWindow(), foreground_);
  EXPECT_EQ(WindowText(popup), L"사용자님이\r\n로그아웃 하였습니다.");
}

// ---- the whole sequence ----

TEST_F(PopupWinTest, LoginGrowsHoldsCollapsesAndUnloads) {
  const ULONGLONG started = NowMs();
  HWND popup = StartPopup(u"test", 0);
  ASSERT_TRUE(popup);
  int maxHeight = 0;
  bool bottomKept = true;
  ASSERT_TRUE(PumpUntil(
      [&] {
        if (Gone(popup)) return true;
        RECT r = Rect(popup);
        maxHeight = std::max<int>(maxHeight, r.bottom - r.top);
        bottomKept = bottomKept && r.bottom == geo_.workArea.bottom;
        return false;
      },
      15000));
  EXPECT_GE(maxHeight, Px(1950, geo_.tppY));
  EXPECT_LE(maxHeight, Px(1950 + 50, geo_.tppY));
  EXPECT_TRUE(bottomKept);
  EXPECT_GE(NowMs() - started, 2000u);  // the hold alone is 2 s
  EXPECT_EQ(popupCount_, 0);
  EXPECT_EQ(Forms().size(), 0u);
  EXPECT_EQ(GetForegroundWindow(), foreground_);
}

// Every size change of a popup window on this thread, as the window reports it.
std::map<HWND, std::vector<RECT>>* g_moves = nullptr;
LRESULT CALLBACK RecordPopupMoves(int code, WPARAM wParam, LPARAM lParam) {
  const auto* m = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  wchar_t name[64] = {};
  if (code == HC_ACTION && m->message == WM_WINDOWPOSCHANGED && g_moves &&
      GetClassNameW(m->hwnd, name, 64) && std::wstring(name) == kPopupClassName &&
      !(reinterpret_cast<const WINDOWPOS*>(m->lParam)->flags & SWP_NOSIZE))
    (*g_moves)[m->hwnd].push_back(Rect(m->hwnd));
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Several popups at once share one platform timer; each keeps its own sequence:
// every move changes the height by exactly one step (3 pixels at 96 dpi), the bottom
// edge stays, and each runs its full count of moves (44 up and 43 down for a login).
TEST_F(PopupWinTest, PopupsRunningTogetherEachMakeEveryOneOfTheirOwnSteps) {
  if (geo_.tppY != 15.0f) GTEST_SKIP() << "step sizes are worked out for 96 dpi";
  std::map<HWND, std::vector<RECT>> seen;
  g_moves = &seen;
  HHOOK hook =
      SetWindowsHookExW(WH_CALLWNDPROCRET, &RecordPopupMoves, nullptr, GetCurrentThreadId());
  ASSERT_TRUE(hook);
  std::vector<HWND> logins;
  for (int i = 0; i < 6; ++i) {
    logins.push_back(StartPopup(u"p", static_cast<int16_t>(i % 2 ? 2 : 0), geo_.nSY - i * 1985));
    Pump(i * 7);  // starts that fall between the shared ticks
  }
  HWND logout = StartPopup(u"q", 1, geo_.nSY - 6 * 1985);
  ASSERT_TRUE(PumpUntil([&] { return PopupWindows().empty(); }, 20000));
  UnhookWindowsHookEx(hook);
  g_moves = nullptr;

  for (HWND popup : logins) {
    const std::vector<RECT>& r = seen[popup];
    ASSERT_EQ(r.size(), 1u + 44u + 43u);  // Start's move, the opening, the collapse
    for (size_t i = 1; i < r.size(); ++i) {
      const int step = (r[i].bottom - r[i].top) - (r[i - 1].bottom - r[i - 1].top);
      EXPECT_EQ(step, i <= 44 ? 3 : -3) << "move " << i;
      EXPECT_EQ(r[i].bottom, r[0].bottom);
    }
  }
  // The logout (placed at its full size, so Start changes no size) shrinks 3 pixels
  // in from its left edge a tick, in 24 moves.
  const std::vector<RECT>& r = seen[logout];
  ASSERT_EQ(r.size(), 24u);
  for (size_t i = 1; i < r.size(); ++i) EXPECT_EQ(r[i].left - r[i - 1].left, 3) << "move " << i;
  EXPECT_EQ(popupCount_, 0);
}

// ---- what a screen reader reads ----

// In this process the object comes back as itself, so this is its own behaviour: an
// alert named by the popup, the rest the standard object's, and a clean failure once
// the popup has gone, whoever still holds it.
TEST_F(PopupWinTest, TheClientObjectIsAnAlertNamedByThePopupUntilItUnloads) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ASSERT_TRUE(SUCCEEDED(com));
  {
    HWND popup = StartPopup(u"김민준", 1);
    ASSERT_TRUE(popup);
    ComPtr<IAccessible> object;
    ASSERT_EQ(AccessibleObjectFromWindow(popup, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                         reinterpret_cast<void**>(object.GetAddressOf())),
              S_OK);
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT role;
    VariantInit(&role);
    ASSERT_EQ(object->get_accRole(self, &role), S_OK);
    EXPECT_EQ(role.vt, VT_I4);
    EXPECT_EQ(role.lVal, ROLE_SYSTEM_ALERT);
    BSTR name = nullptr;
    ASSERT_EQ(object->get_accName(self, &name), S_OK);
    EXPECT_EQ(std::wstring(name, SysStringLen(name)), L"김민준님이 로그아웃 하였습니다.");
    SysFreeString(name);
    // The standard object's answers: where the client area is, and which window.
    LONG x = 0, y = 0, width = 0, height = 0;
    ASSERT_EQ(object->accLocation(&x, &y, &width, &height, self), S_OK);
    const RECT r = Rect(popup), location{x, y, x + width, y + height};
    EXPECT_TRUE(EqualRect(&location, &r));
    HWND window = nullptr;
    EXPECT_EQ(WindowFromAccessibleObject(object.Get(), &window), S_OK);
    EXPECT_EQ(window, popup);

    Click(popup, 150, 120);
    ASSERT_TRUE(Gone(popup));
    name = nullptr;
    EXPECT_EQ(object->get_accName(self, &name), RPC_E_DISCONNECTED);
    EXPECT_EQ(name, nullptr);
    VariantInit(&role);
    EXPECT_EQ(object->get_accRole(self, &role), RPC_E_DISCONNECTED);
    EXPECT_EQ(object->accLocation(&x, &y, &width, &height, self), RPC_E_DISCONNECTED);
    EXPECT_TRUE(FAILED(WindowFromAccessibleObject(object.Get(), &window)));
  }
  CoUninitialize();
}

// ---- clicks ----

TEST_F(PopupWinTest, ClickOnPicture1OrNameClosesClickOnDescOrNoteDoesNot) {
  HWND popup = StartPopup(u"test", 7);
  ASSERT_TRUE(popup);
  WaitOpen(popup);
  Click(popup, kLblDescBox, 5, 5);
  Click(popup, kPicNoteBox, 5, 5);
  EXPECT_TRUE(IsWindow(popup));
  EXPECT_EQ(popupCount_, 1);
  Click(popup, 150, 120);
  EXPECT_TRUE(Gone(popup));
  EXPECT_EQ(popupCount_, 0);

  HWND second = StartPopup(u"test", 0);
  ASSERT_TRUE(second);
  Pump(100);  // in the middle of the opening
  Click(second, kLblNameBox, 20, 5);
  EXPECT_TRUE(Gone(second));
  EXPECT_EQ(popupCount_, 0);
  EXPECT_EQ(GetForegroundWindow(), foreground_);
}

// ---- what is on the screen ----

TEST_F(PopupWinTest, ScreenShowsTextsColoursAndArtworkPerMode) {
  HWND login = StartPopup(u"홍길동", 0, geo_.nSY);
  HWND logout = StartPopup(u"홍길동", 1, geo_.nSY - 1985);
  HWND notice = StartPopup(u"공지: 서버 점검", 2, geo_.nSY - 2 * 1985);
  ASSERT_TRUE(login && logout && notice);
  WaitOpen(login);
  WaitOpen(notice);

  struct Kind {
    HWND popup;
    const wchar_t* file;
  };
  for (Kind k : {Kind{login, L"popup-login.png"}, Kind{logout, L"popup-logout.png"},
                 Kind{notice, L"popup-notice.png"}}) {
    const RECT r = Rect(k.popup);
    const Shot shot = Capture(r);
    SaveScreenshot(shot, k.file);
    SCOPED_TRACE(std::string(k.file, k.file + wcslen(k.file)));
    const RECT name = PartBox(kLblNameBox, geo_);
    const RECT desc = PartBox(kLblDescBox, geo_);
    const RECT note = PartBox(kPicNoteBox, geo_);

    // The artwork: frame on the left edge, pale cyan inside, white beyond the
    // image's right edge and in its transparent corner.
    const int gifWidth = ArtworkWidth(geo_);
    EXPECT_TRUE(Near(shot.At(0, shot.height / 2), 70, 150, 186, 30));
    const uint32_t inside = shot.At(shot.width / 2, 8);
    EXPECT_TRUE(B(inside) > 230 && G(inside) > 230 && R(inside) < B(inside)) << std::hex << inside;
    if (shot.width > gifWidth) {
      EXPECT_EQ(shot.At(gifWidth, shot.height / 2), 0xFFFFFFu);
    }
    EXPECT_EQ(shot.At(0, 0), 0xFFFFFFu);

    const ColourCount blueName = CountColour(shot, name, 32, 135, 249);
    const ColourCount blueDesc = CountColour(shot, desc, 32, 135, 249);
    const ColourCount greenName = CountColour(shot, name, 0, 192, 0);
    const ColourCount redDesc = CountColour(shot, desc, 255, 0, 0);
    const ColourCount noteBack = CountColour(shot, note, 240, 255, 255, 4);
    const ColourCount envelopeLine = CountColour(shot, note, 128, 128, 128, 4);
    if (k.popup == login || k.popup == logout) {
      EXPECT_GE(blueName.count, 15);
      EXPECT_EQ(greenName.count, 0);
      // The name line is centred in its label.
      const int middle = (name.left + name.right) / 2;
      EXPECT_NEAR((blueName.minX + blueName.maxX) / 2, middle, 3);
      EXPECT_EQ(noteBack.count, 0) << "no envelope";
    }
    if (k.popup == login) {
      EXPECT_GE(blueDesc.count, 15);
      EXPECT_EQ(redDesc.count, 0);
    }
    if (k.popup == logout) {
      EXPECT_GE(redDesc.count, 15);
      EXPECT_EQ(blueDesc.count, 0);
    }
    if (k.popup == notice) {
      EXPECT_EQ(WindowText(notice), L"공지: 서버 점검") << "a notice's text alone";
      EXPECT_GE(greenName.count, 15);
      EXPECT_EQ(blueName.count, 0);
      EXPECT_EQ(blueDesc.count + redDesc.count, 0) << "empty description";
      EXPECT_GE(noteBack.count, 20);
      EXPECT_GE(envelopeLine.count, 20);
    }
  }
}

// What the screen shows of a popup that is not ticking now: its window surface is sent
// to the X server (a peek for a message that never comes does that without running a
// tick), then read back.
Shot CaptureStill(HWND popup) {
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_APP + 0x3FFF, WM_APP + 0x3FFF, PM_NOREMOVE);
  Sleep(50);
  return Capture(Rect(popup));
}

// The top-left `part.width` x `part.height` pixels of `whole` equal `part`.
::testing::AssertionResult ShowsTopLeftOf(const Shot& part, const Shot& whole) {
  if (part.width > whole.width || part.height > whole.height)
    return ::testing::AssertionFailure() << "larger than the whole picture";
  int differing = 0, rows = 0;
  for (int y = 0; y < part.height; ++y) {
    int inRow = 0;
    for (int x = 0; x < part.width; ++x)
      if (part.At(x, y) != whole.At(x, y)) ++inRow;
    differing += inRow;
    rows += inRow != 0;
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << differing << " of " << part.width * part.height << " pixels differ at " << part.width
         << " x " << part.height << ", in " << rows << " rows";
}

// A step draws only the rows its window gains and relies on the window keeping the
// rest: half-way through every effect the screen shows the top-left part of the
// picture the popup shows at full size.
// Under Wine the kept rows live only in the X server's copy of the window (the window's
// own surface holds the last step's rows alone), and a busy machine can lose a step's
// rows there although the popup drew them: the screen shows black or the rows above
// until the hold's full redraw. Such a loss comes and goes; a popup that draws a step
// wrong does so every time. So a run that differs is kept as evidence and run again,
// and the test fails when five runs in a row differ.
TEST_F(PopupWinTest, EveryStepShowsTheTopLeftOfThePicture) {
  const int full = Px(1950, geo_.tppY);
  auto height = [](HWND h) {
    const RECT r = Rect(h);
    return static_cast<int>(r.bottom - r.top);
  };
  auto width = [](HWND h) {
    const RECT r = Rect(h);
    return static_cast<int>(r.right - r.left);
  };
  for (int16_t mode : {int16_t{0}, int16_t{3}}) {
    SCOPED_TRACE(mode);
    for (int run = 1;; ++run) {
      HWND popup = StartPopup(u"홍길동", mode);
      ASSERT_TRUE(popup);
      ASSERT_TRUE(PumpUntil([&] { return height(popup) >= full / 2; }, 5000));
      const Shot opening = CaptureStill(popup);
      WaitOpen(popup);
      const Shot whole = CaptureStill(popup);
      const int fullWidth = width(popup);
      // Collapsing (mode 0) loses height, shrinking (mode 3) width and height.
      ASSERT_TRUE(PumpUntil(
          [&] { return height(popup) < full / 2 || width(popup) < fullWidth / 2; }, 5000));
      ASSERT_TRUE(IsWindow(popup));
      // A shrinking window's corner moves right and down; what it shows stays anchored
      // to that corner.
      const Shot closing = CaptureStill(popup);
      ASSERT_TRUE(PumpUntil([&] { return Gone(popup); }, 5000));
      const ::testing::AssertionResult opened = ShowsTopLeftOf(opening, whole);
      const ::testing::AssertionResult closed = ShowsTopLeftOf(closing, whole);
      if (opened && closed) break;
      const std::wstring suffix = std::to_wstring(mode) + L"-" + std::to_wstring(run) + L".png";
      KeepEvidence(opening, L"opening-" + suffix);
      KeepEvidence(whole, L"whole-" + suffix);
      KeepEvidence(closing, L"closing-" + suffix);
      std::printf("mode %d, run %d: opening: %s; closing: %s\n", mode, run, opened.message(),
                  closed.message());
      ASSERT_LT(run, 5) << "five runs in a row showed other pixels";
    }
  }
}

// ---- where the popup takes clicks ----

// A point given by a box and where in it: fx, fy from its first (0) to its last (1)
// pixel, then dx, dy pixels further.
struct Where {
  const TwipsBox* box;  // nullptr: the popup window itself
  double fx, fy;
  int dx = 0, dy = 0;
};

// Presses the left button at one point of the popup and releases it at another, as a
// user's mouse does (the system finds the window and part under the cursor).
void PressAndRelease(HWND popup, const Geometry& g, Where press, Where release) {
  const RECT r = Rect(popup);
  auto screen = [&](Where w) {
    const RECT b = w.box ? PartBox(*w.box, g) : RECT{0, 0, r.right - r.left, r.bottom - r.top};
    return POINT{
        r.left + b.left + static_cast<int>(std::lround(w.fx * (b.right - b.left - 1))) + w.dx,
        r.top + b.top + static_cast<int>(std::lround(w.fy * (b.bottom - b.top - 1))) + w.dy};
  };
  auto button = [](DWORD flag) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flag;
    SendInput(1, &in, sizeof(INPUT));
    Pump(60);
  };
  POINT p = screen(press);
  SetCursorPos(p.x, p.y);
  Pump(30);
  button(MOUSEEVENTF_LEFTDOWN);
  p = screen(release);
  SetCursorPos(p.x, p.y);
  Pump(30);
  button(MOUSEEVENTF_LEFTUP);
  Pump(100);
  // Off the popups' column: a pointer resting there would hold the next popups.
  SetCursorPos(0, 0);
  Pump(30);
}

// Picture1 and lblName close the popup; lblDesc and the shown envelope take the
// click and do nothing; a hidden envelope is not there. A click is a press and a
// release on the same part: Picture1 (which holds the others and reaches past the
// window's right and bottom edges) counts a release anywhere inside its own box.
TEST_F(PopupWinTest, ClickZonesOfPicture1AndItsParts) {
  const TwipsBox* name = &kLblNameBox;
  const TwipsBox* desc = &kLblDescBox;
  const TwipsBox* note = &kPicNoteBox;
  const TwipsBox* pic = &kPicture1Box;
  const Where background{nullptr, 1, 1, -3, -3};  // bottom-right corner of the window
  struct Case {
    const char* what;
    int16_t mode;
    Where press, release;
    bool closes;
  };
  const Case cases[] = {
      {"name, centre", 1, {name, .5, .5}, {name, .5, .5}, true},
      {"name, first pixel", 1, {name, 0, 0}, {name, 0, 0}, true},
      {"name, last pixel", 1, {name, 1, 1}, {name, 1, 1}, true},
      {"left of the name", 1, {name, 0, .5, -1}, {name, 0, .5, -1}, true},
      {"between name and description", 1, {name, .5, 1, 0, 1}, {name, .5, 1, 0, 1}, true},
      {"description, centre", 1, {desc, .5, .5}, {desc, .5, .5}, false},
      {"description, first pixel", 1, {desc, 0, 0}, {desc, 0, 0}, false},
      {"description, last pixel", 1, {desc, 1, 1}, {desc, 1, 1}, false},
      {"left of the description", 1, {desc, 0, .5, -1}, {desc, 0, .5, -1}, true},
      {"below the description", 1, {desc, .5, 1, 0, 1}, {desc, .5, 1, 0, 1}, true},
      {"hidden envelope's box", 1, {note, .5, .5}, {note, .5, .5}, true},
      {"background, bottom right", 1, background, background, true},
      {"background, top left", 1, {nullptr, 0, 0}, {nullptr, 0, 0}, true},
      {"envelope, centre", 7, {note, .5, .5}, {note, .5, .5}, false},
      {"envelope, first pixel", 7, {note, 0, 0}, {note, 0, 0}, false},
      {"envelope, last pixel", 7, {note, 1, 1}, {note, 1, 1}, false},
      {"right of the envelope", 7, {note, 1, .5, 1}, {note, 1, .5, 1}, true},
      {"empty description of a notice", 7, {desc, .5, .5}, {desc, .5, .5}, false},
      {"name of a notice", 7, {name, .5, .5}, {name, .5, .5}, true},
      {"background, released on the description", 1, background, {desc, .5, .5}, true},
      {"background, released on the name", 1, background, {name, .5, .5}, true},
      {"background, released on the envelope", 7, background, {note, .5, .5}, true},
      {"background, released right of the window in Picture1",
       1,
       background,
       {nullptr, 1, .5, 1},
       true},
      {"background, released right of Picture1", 1, background, {pic, 1, .5, 3}, false},
      {"name, released on another pixel of it", 1, {name, .2, .5}, {name, .8, .5}, true},
      {"name, released on the background", 1, {name, .5, .5}, background, false},
      {"name, released on the description", 1, {name, .5, .5}, {desc, .5, .5}, false},
      {"description, released on the name", 1, {desc, .5, .5}, {name, .5, .5}, false},
      {"envelope, released on the background", 7, {note, .5, .5}, background, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HWND popup = StartPopup(u"홍길동", c.mode);
    ASSERT_TRUE(popup);
    WaitOpen(popup);
    PressAndRelease(popup, geo_, c.press, c.release);
    EXPECT_EQ(Gone(popup), c.closes);
    EXPECT_EQ(popupCount_, c.closes ? 0 : 1);
    EXPECT_EQ(GetForegroundWindow(), foreground_);
    Forms().UnloadAllExcept(u"FrmMain");
    Pump(20);
  }
}

// ---- the pictures of the README ----

// A PNG file's pixels (0x00RRGGBB), read with the platform's imaging component.
Shot LoadPng(const std::wstring& path) {
  using Microsoft::WRL::ComPtr;
  Shot shot;
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICBitmapSource> bgr;
    UINT width = 0, height = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&factory))) &&
        SUCCEEDED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) &&
        SUCCEEDED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame.Get(), &bgr)) &&
        SUCCEEDED(bgr->GetSize(&width, &height))) {
      std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
      if (SUCCEEDED(bgr->CopyPixels(nullptr, width * 4, width * height * 4,
                                    reinterpret_cast<BYTE*>(pixels.data())))) {
        shot.width = static_cast<int>(width);
        shot.height = static_cast<int>(height);
        for (uint32_t& p : pixels) p &= 0xFFFFFF;
        shot.pixels = std::move(pixels);
      }
    }
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return shot;
}

// Each kind, alone at full size, shows exactly the picture in docs/: at 96 dpi the
// README's screenshots (taken of the real program, with two pixels of the desktop
// around the popup), at 120 and 144 dpi the popup alone.
TEST_F(PopupWinTest, EachKindShowsThePictureInDocs) {
  const int dpi = TheScreenDpi().y;
  struct Kind {
    const char16_t* text;
    int16_t mode;
    const wchar_t* file;
  };
  for (Kind k : {Kind{u"사용자", 0, L"login"}, Kind{u"홍길동", 1, L"logout"},
                 Kind{u"새 공지가 도착했습니다", 2, L"notice"}}) {
    SCOPED_TRACE(std::string(k.file, k.file + wcslen(k.file)));
    HWND popup = StartPopup(k.text, k.mode);
    ASSERT_TRUE(popup);
    WaitOpen(popup);
    const Shot shot = CaptureStill(popup);
    const std::wstring suffix = dpi == 96 ? L"" : L"-" + std::to_wstring(dpi) + L"dpi";
    SaveScreenshot(shot, std::wstring(k.file) + suffix + L"-alone.png");
    const Shot docs = LoadPng(L"" TINDRA_DOCS_DIR L"/" + std::wstring(k.file) + suffix + L".png");
    const int ox = (docs.width - shot.width) / 2, oy = (docs.height - shot.height) / 2;
    EXPECT_TRUE(ox >= 0 && oy >= 0) << "no picture of this size in docs/";
    int differing = 0;
    for (int y = 0; y < shot.height && ox >= 0 && oy >= 0; ++y)
      for (int x = 0; x < shot.width; ++x)
        if (shot.At(x, y) != docs.At(x + ox, y + oy)) ++differing;
    EXPECT_EQ(differing, 0) << "of " << shot.width * shot.height << " pixels";
    Forms().UnloadAllExcept(u"FrmMain");
    Pump(20);
  }
}

// ---- the pointer resting on a popup ----

// Moves the real pointer, as a user's mouse does; the system tells the window under it.
void MovePointer(POINT to) {
  SetCursorPos(to.x, to.y);
  Pump(50);
}

// Puts the pointer back in the screen's top-left corner, away from the popups' column,
// also when the test fails: a pointer left on the column would hold later popups.
struct PointerParked {
  ~PointerParked() { MovePointer(POINT{0, 0}); }
};

// The user moves the pointer onto a login as it grows: it stays there well past its
// hold; the logout beside it closes on time; once the pointer leaves, the login holds
// again in full and closes by itself.
TEST_F(PopupWinTest, APopupThatTheUserMovesOntoStaysUntilThePointerLeaves) {
  PointerParked parked;
  MovePointer(POINT{0, 0});
  const int bottom = Px(geo_.nSY, geo_.tppY), left = Px(geo_.nSX, geo_.tppX);
  const ULONGLONG started = NowMs();
  HWND rested = StartPopup(u"홍길동", 0, geo_.nSY);
  HWND beside = StartPopup(u"김민준", 1, geo_.nSY - 1985);
  ASSERT_TRUE(rested && beside);
  // Onto the login as soon as it is tall enough to stand under the pointer.
  ASSERT_TRUE(PumpUntil([&] { return Rect(rested).top <= bottom - 30; }, 2000));
  MovePointer(POINT{left + 90, bottom - 20});
  ASSERT_TRUE(PumpUntil([&] { return Gone(beside); }, 6000));
  const ULONGLONG besideGone = NowMs() - started;
  EXPECT_GE(besideGone, 2000u);
  EXPECT_LT(besideGone, 4500u) << "the popup beside it closes on time";

  // Its hold would have ended at about 2.5 s; 5 s later it still stands at full size.
  const ULONGLONG heldUntil = 2450 + 5000;
  Pump(static_cast<DWORD>(heldUntil - std::min(heldUntil, NowMs() - started)));
  ASSERT_TRUE(IsWindow(rested));
  RECT r = Rect(rested);
  EXPECT_GE(r.bottom - r.top, Px(1950, geo_.tppY));
  EXPECT_EQ(r.bottom, bottom);
  EXPECT_EQ(popupCount_, 1);

  MovePointer(POINT{0, 0});
  const ULONGLONG left_at = NowMs();
  ASSERT_TRUE(PumpUntil([&] { return Gone(rested); }, 6000)) << "closes by itself";
  EXPECT_GE(NowMs() - left_at, 2000u) << "after a full hold";
  EXPECT_EQ(popupCount_, 0);
  EXPECT_EQ(GetForegroundWindow(), foreground_);
}

// The pointer left resting where the next popups appear (where the user clicked one
// away, say) holds none of them: a login grows under it, a logout and a notice appear
// under it, one after the other in the same slot, and each closes on time. Once one
// stands under it, a move of the pointer by a single pixel is the user's, and holds it.
TEST_F(PopupWinTest, APointerRestingWhereThePopupsAppearHoldsNone) {
  PointerParked parked;
  const int bottom = Px(geo_.nSY, geo_.tppY), left = Px(geo_.nSX, geo_.tppX);
  const POINT resting{left + 90, bottom - 20};
  MovePointer(resting);
  Pump(500);  // rests
  struct Kind {
    const char16_t* text;
    int16_t mode;
  };
  for (Kind k : {Kind{u"홍길동", 0}, Kind{u"김민준", 1}, Kind{u"새 공지가 도착했습니다", 3}}) {
    SCOPED_TRACE(k.mode);
    const ULONGLONG started = NowMs();
    HWND popup = StartPopup(k.text, k.mode, geo_.nSY);
    ASSERT_TRUE(popup);
    bool under = false;
    ASSERT_TRUE(PumpUntil(
        [&] {
          if (Gone(popup)) return true;
          under = under || WindowFromPoint(resting) == popup;
          return false;
        },
        15000))
        << "held: a popup held by the resting pointer would never close";
    const ULONGLONG gone = NowMs() - started;
    EXPECT_TRUE(under) << "the popup never stood under the pointer";
    EXPECT_GE(gone, 2000u);
    EXPECT_EQ(popupCount_, 0);
  }

  HWND popup = StartPopup(u"김민준", 1, geo_.nSY);
  ASSERT_TRUE(popup);
  Pump(500);
  MovePointer(POINT{resting.x + 1, resting.y});
  Pump(4000);
  EXPECT_TRUE(IsWindow(popup)) << "held for the user who moved the pointer";
  MovePointer(POINT{0, 0});
  EXPECT_TRUE(PumpUntil([&] { return Gone(popup); }, 6000));
  EXPECT_EQ(GetForegroundWindow(), foreground_);
}

// ---- animations off ----

// Without animations every kind stands at full size as Start returns, shows the
// picture it shows at the end of its opening, and is gone at once at the end of its
// hold: the window never changes size. A popup open when animations are turned off
// goes the same way at the end of its hold.
TEST_F(PopupWinTest, WithoutAnimationsPopupsAppearAndGoAtOnce) {
  test::AnimationsSwitch animations;
  HWND open = StartPopup(u"사용자", 0, geo_.nSY - 3 * 1985);
  ASSERT_TRUE(open);
  WaitOpen(open);
  ASSERT_TRUE(animations.Set(false));
  const int dpi = TheScreenDpi().y;
  std::map<HWND, RECT> first;
  std::map<HWND, ULONGLONG> started;
  const int full = Px(1965, geo_.tppY);
  struct Kind {
    const char16_t* text;
    int16_t mode;
    const wchar_t* docs;
  };
  const Kind kinds[] = {{u"사용자", 0, L"login"},
                        {u"홍길동", 1, L"logout"},
                        {u"새 공지가 도착했습니다", 2, L"notice"}};
  for (int i = 0; i < 3; ++i) {
    const Kind& k = kinds[i];
    SCOPED_TRACE(std::string(k.docs, k.docs + wcslen(k.docs)));
    const int32_t sy = geo_.nSY - i * 1985;
    // Read before the start: the hold begins inside it, before the popup is shown and
    // announced, and a time read after those would make the hold look short.
    const ULONGLONG before = NowMs();
    HWND popup = StartPopup(k.text, k.mode, sy);
    ASSERT_TRUE(popup);
    started[popup] = before;
    first[popup] = Rect(popup);
    EXPECT_EQ(first[popup].bottom - first[popup].top, full);
    EXPECT_EQ(first[popup].bottom, Px(sy, geo_.tppY));
    EXPECT_TRUE(IsWindowVisible(popup));
    EXPECT_TRUE(GetWindowLongW(popup, GWL_EXSTYLE) & WS_EX_TOPMOST);
    if (dpi == 96) {
      // The top of the picture in docs/: the popup there has two pixels of the desktop
      // on its left and below, and one (132 px tall after its opening) or two (a
      // logout, 131 px) above.
      Pump(100);  // its first paint
      const Shot shot = CaptureStill(popup);
      SaveScreenshot(shot, std::wstring(k.docs) + L"-without-animations.png");
      const Shot docs = LoadPng(L"" TINDRA_DOCS_DIR L"/" + std::wstring(k.docs) + L".png");
      ASSERT_EQ(docs.width, shot.width + 4);
      const int top = k.mode == 1 ? 2 : 1;
      int differing = 0;
      for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
          if (shot.At(x, y) != docs.At(x + 2, y + top)) ++differing;
      EXPECT_EQ(differing, 0);
    }
  }
  first[open] = Rect(open);
  std::map<HWND, ULONGLONG> gone;
  ASSERT_TRUE(PumpUntil(
      [&] {
        for (auto& [popup, rect] : first) {
          if (gone.count(popup)) continue;
          if (Gone(popup)) {
            gone[popup] = NowMs();
            continue;
          }
          const RECT now = Rect(popup);
          EXPECT_TRUE(EqualRect(&now, &rect)) << "a popup changed size";
        }
        return gone.size() == first.size();
      },
      8000, 1));
  for (auto& [popup, at] : started) {
    // The hold, less the half tick by which the ticker may fire a timer early; the
    // unchanged sizes above show that no closing effect ran.
    EXPECT_GE(gone[popup] - at, 1995u);
    EXPECT_LT(gone[popup] - at, 3500u);
  }
  EXPECT_EQ(popupCount_, 0);
  EXPECT_EQ(GetForegroundWindow(), foreground_);
}

// ---- failures and resources ----

TEST_F(PopupWinTest, StartThatFailsLeavesNothingBehind) {
  popupCount_ = INT32_MAX;
  try {
    OpenPopup(popupCount_, u"x", 0, geo_.nSX, geo_.nSY);
    ADD_FAILURE() << "no error";
  } catch (const AppError& e) {
    EXPECT_EQ(e.number(), kErrOverflow);
  }
  EXPECT_EQ(popupCount_, INT32_MAX);
  EXPECT_TRUE(PopupWindows().empty());
  EXPECT_EQ(Forms().size(), 0u);
  popupCount_ = 0;
}

// A popup whose picture cannot be composed (the process is out of graphics objects as
// its first step draws) closes itself and says why; the program goes on, and the next
// popup, once objects are free again, is drawn as usual.
TEST_F(PopupWinTest, APopupThatCannotDrawClosesItselfAndTheProgramGoesOn) {
  std::vector<int32_t> failures;
  const auto failed = [&](const AppError& e) { failures.push_back(e.number()); };
  const std::vector<HWND> before = PopupWindows();
  OpenPopup(popupCount_, u"홍길동", 0, geo_.nSX, geo_.nSY, {}, failed);
  const std::vector<HWND> after = PopupWindows();
  ASSERT_EQ(after.size(), before.size() + 1);
  HWND popup = after.back();
  for (HWND h : after)
    if (std::find(before.begin(), before.end(), h) == before.end()) popup = h;
  // Every graphics object the process may still make, before the popup's first paint.
  std::vector<HBRUSH> taken;
  for (int i = 0; i < 200000; ++i) {
    HBRUSH b = CreateSolidBrush(RGB(i & 0xFF, 1, 2));
    if (!b) break;
    taken.push_back(b);
  }
  const bool exhausted = taken.size() < 200000;
  std::printf("out of graphics objects after %zu brushes\n", taken.size());
  if (exhausted) {
    Pump(300);
    EXPECT_TRUE(Gone(popup)) << "a popup that cannot draw closes itself";
  }
  for (HBRUSH b : taken) DeleteObject(b);
  if (!exhausted) {
    Forms().UnloadAllExcept(u"FrmMain");
    GTEST_SKIP() << "the process did not run out of graphics objects";
  }
  EXPECT_EQ(failures, std::vector<int32_t>{kErrInvalidPropertyValue});
  EXPECT_EQ(popupCount_, 0);

  HWND next = StartPopup(u"홍길동", 1, geo_.nSY);
  ASSERT_TRUE(next);
  Pump(300);
  EXPECT_TRUE(IsWindow(next));
  const Shot shot = Capture(Rect(next));
  // Drawn: the red line of a logout.
  EXPECT_GT(CountColour(shot, PartBox(kLblDescBox, geo_), 255, 0, 0).count, 50);
  EXPECT_EQ(failures.size(), 1u);
}

TEST_F(PopupWinTest, ManyPopupsLeaveNoHandlesBehind) {
  // 50 popups at a time, half closed by a click and the rest as the main form's
  // unload closes them.
  auto round = [&] {
    for (int i = 0; i < 50; ++i)
      OpenPopup(popupCount_, u"p" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)),
                static_cast<int16_t>(i % 4), geo_.nSX, geo_.nSY - (i % 7) * 1985);
    Pump(30);  // let them paint and tick
    EXPECT_EQ(popupCount_, static_cast<int32_t>(PopupWindows().size()));
    bool click = false;
    for (HWND h : PopupWindows()) {
      if ((click = !click)) {
        PostMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        PostMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
      }
    }
    Pump(30);
    Forms().UnloadAllExcept(u"FRMMAIN");
    Pump(10);
    ASSERT_EQ(popupCount_, 0);
    ASSERT_TRUE(PopupWindows().empty());
  };
  // A first round puts the one-time costs in the baseline: window classes, the decoded
  // artwork, and the platform's cache of display contexts, which grows with the
  // number of windows painting at once.
  round();
  const long gdi = GdiObjects();
  const long user = UserObjects();
  ASSERT_GT(gdi, 0);
  ASSERT_GT(user, 0);
  {
    // The counters see one object more, and one fewer again when it is gone.
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    EXPECT_EQ(GdiObjects(), gdi + 1);
    EXPECT_EQ(UserObjects(), user + 1);
    DeleteObject(brush);
    DestroyWindow(window);
    ASSERT_EQ(GdiObjects(), gdi);
    ASSERT_EQ(UserObjects(), user);
  }
  for (int i = 0; i < 10; ++i) round();
  EXPECT_EQ(GdiObjects(), gdi) << GdiTypes();
  EXPECT_EQ(UserObjects(), user);
}

// ---- other dpi settings (run by popup_dpi_test.sh with the dpi set) ----

TEST_F(PopupWinTest, ScalesWithTheScreenDpi) {
  const char* expected = std::getenv("TINDRA_EXPECT_DPI");
  if (!expected) GTEST_SKIP() << "run by popup_dpi_test.sh";
  const int dpi = std::atoi(expected);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), dpi);
  ReleaseDC(nullptr, screen);
  const float tpp = 1440.0f / static_cast<float>(dpi);
  EXPECT_FLOAT_EQ(geo_.tppX, tpp);

  HWND logout = StartPopup(u"홍길동", 1, geo_.nSY);
  HWND notice = StartPopup(u"공지 사항", 5, geo_.nSY - 1985);
  ASSERT_TRUE(logout && notice);
  const RECT r = Rect(logout);
  // 2685 twips wide, to the nearest whole pixel.
  EXPECT_EQ(r.right - r.left, Px(2685, tpp));
  EXPECT_LE(std::fabs((r.right - r.left) * tpp - 2685.0f), tpp / 2);
  EXPECT_EQ(r.bottom - r.top, Px(1965, tpp));
  WaitOpen(notice);

  const Shot shot = Capture(r);
  const std::wstring suffix = L"-" + std::to_wstring(dpi) + L"dpi.png";
  SaveScreenshot(shot, L"popup-logout" + suffix);
  SaveScreenshot(Capture(Rect(notice)), L"popup-notice" + suffix);
  // The artwork grew too: the frame runs down the left edge and the image's white
  // right margin starts at 176 * dpi / 96.
  EXPECT_TRUE(Near(shot.At(0, shot.height / 2), 70, 150, 186, 30));
  const int gifWidth = ArtworkWidth(geo_);
  if (shot.width > gifWidth) {
    EXPECT_EQ(shot.At(gifWidth, shot.height / 2), 0xFFFFFFu);
  }
  EXPECT_NE(shot.At(gifWidth - 8, shot.height / 2), 0xFFFFFFu);
  // The text grew with the font: the red line is taller than at 96 dpi (about 10 px).
  const RECT desc = PartBox(kLblDescBox, geo_);
  int top = INT_MAX, bottom = INT_MIN;
  for (int y = desc.top; y < desc.bottom && y < shot.height; ++y)
    for (int x = desc.left; x < desc.right; ++x)
      if (Near(shot.At(x, y), 255, 0, 0, 24)) top = std::min(top, y), bottom = std::max(bottom, y);
  ASSERT_LE(top, bottom);
  EXPECT_GE(bottom - top + 1, MulDiv(10, dpi, 96) - 2);
}

}  // namespace
}  // namespace tindra
