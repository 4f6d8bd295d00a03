// Tindra.exe under Wine on a 1280 x 1024 screen with a 994-pixel work area at 96 dpi
// (15 twips per pixel) and the Korean ANSI code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>
#include <numeric>
#include <set>
#include <string>

#include "common/text.h"
#include "common/win32/ansi.h"
#include "tools/harness/tindra_harness.h"

using namespace tindra;
using namespace tindra::test;
using poke::PokeOutcome;

namespace {

std::wstring TindraExe() { return WindowsPath(TINDRA_EXE_PATH); }
std::wstring PokeExe() { return WindowsPath(TINDRA_POKE_PATH); }
std::wstring NotifyExe() { return WindowsPath(TINDRA_NOTIFY_PATH); }
std::wstring AwayExe() { return WindowsPath(TINDRA_AWAY_EXE_PATH); }

// Popup column: work-area right 1280 px = 19200 twips, less 2785 -> 16415 twips.
constexpr int kColumnLeftPx = 1094;  // 16415 / 15 = 1094.3
constexpr int kPopupWidthPx = 179;   // 2685 / 15
constexpr int kPopupHeightPx = 131;  // 1965 / 15
// Lower edges of slots 0, 1, 2: 14910, 12925, 10940 twips.
constexpr int kSlotBottomPx[] = {994, 862, 729};

int Bottom(const PopupInfo& p) { return p.rect.bottom; }

std::vector<PopupInfo> ByBottomDescending(std::vector<PopupInfo> v) {
  std::sort(v.begin(), v.end(), [](auto& a, auto& b) { return Bottom(a) > Bottom(b); });
  return v;
}

auto CountIs(size_t n) {
  return [n](const std::vector<PopupInfo>& v) { return v.size() == n; };
}

// A left click at a screen point, through the system's input.
void ClickAt(int x, int y) {
  SetCursorPos(x, y);
  INPUT click[2] = {};
  click[0].type = click[1].type = INPUT_MOUSE;
  click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, click, sizeof(INPUT));
}

const PopupInfo* FindByName(const std::vector<PopupInfo>& v, const std::u16string& name) {
  for (auto& p : v)
    if (p.name == name) return &p;
  return nullptr;
}

class TindraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app.Launch());
    ASSERT_TRUE(app.WaitUntilAnswering()) << "Tindra did not take DDE conversations";
  }
  void TearDown() override {
    if (app.Running()) {
      PokeText(u"end");
      app.WaitForExit(5000);
    }
    app.Kill();
  }
  TindraProcess app{TindraExe()};
};

}  // namespace

TEST_F(TindraTest, PopupsStackUpTheColumnAtTheRightOfTheWorkArea) {
  HWND foreground = GetForegroundWindow();
  ASSERT_EQ(PokeText(u"1;a"), PokeOutcome::kAcknowledged);
  ASSERT_EQ(PokeText(u"1;b"), PokeOutcome::kAcknowledged);
  ASSERT_EQ(PokeText(u"1;c"), PokeOutcome::kAcknowledged);
  auto popups = ByBottomDescending(app.Popups());
  ASSERT_EQ(popups.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const RECT& r = popups[i].rect;
    EXPECT_NEAR(r.left, kColumnLeftPx, 1) << i;
    EXPECT_EQ(r.right - r.left, kPopupWidthPx) << i;
    EXPECT_EQ(r.bottom - r.top, kPopupHeightPx) << i;
    EXPECT_NEAR(r.bottom, kSlotBottomPx[i], 1) << i;
    EXPECT_TRUE(popups[i].exStyle & WS_EX_TOPMOST) << i;
  }
  EXPECT_EQ(popups[0].name, u"a님이");
  EXPECT_EQ(popups[2].name, u"c님이");
  // Never activated: the foreground window is the one from before.
  EXPECT_EQ(GetForegroundWindow(), foreground);
  for (auto& p : popups) EXPECT_NE(GetForegroundWindow(), p.hwnd);
}

TEST_F(TindraTest, EachModeHasItsTexts) {
  ASSERT_EQ(PokeText(u"0;kim"), PokeOutcome::kAcknowledged);
  ASSERT_EQ(PokeText(u"1;lee"), PokeOutcome::kAcknowledged);
  ASSERT_EQ(PokeText(u"7;hello, world"), PokeOutcome::kAcknowledged);
  ASSERT_EQ(PokeText(u"12;abc"), PokeOutcome::kAcknowledged);
  auto popups = app.Popups();
  ASSERT_EQ(popups.size(), 4u);
  const PopupInfo* login = FindByName(popups, u"kim님이");
  const PopupInfo* logout = FindByName(popups, u"lee님이");
  const PopupInfo* notice = FindByName(popups, u"hello, world");
  const PopupInfo* logout2 = FindByName(popups, u";abc님이");
  ASSERT_TRUE(login && logout && notice && logout2);
  EXPECT_EQ(login->desc, u"로그인 하였습니다.");
  EXPECT_FALSE(login->noteVisible);
  EXPECT_EQ(logout->desc, u"로그아웃 하였습니다.");
  EXPECT_EQ(notice->desc, u"");
  EXPECT_TRUE(notice->noteVisible);
  EXPECT_EQ(logout2->desc, u"로그아웃 하였습니다.");
}

TEST_F(TindraTest, KoreanNamesArriveThroughCp949AndUnicode) {
  ASSERT_EQ(PokeText(u"0;사용자"), PokeOutcome::kAcknowledged);
  ASSERT_EQ(PokeText(u"1;홍길동", false, /*unicode=*/true), PokeOutcome::kAcknowledged);
  ASSERT_EQ(PokeText(u"5;공지: 서버 점검", /*raw=*/true), PokeOutcome::kAcknowledged);
  auto popups = app.Popups();
  EXPECT_TRUE(FindByName(popups, u"사용자님이"));
  EXPECT_TRUE(FindByName(popups, u"홍길동님이"));
  EXPECT_TRUE(FindByName(popups, u"공지: 서버 점검"));
}

TEST_F(TindraTest, LogoutStandsAtFullHeightAtOnceLoginGrows) {
  ASSERT_EQ(PokeText(u"1;out"), PokeOutcome::kAcknowledged);
  auto popups = app.Popups();
  ASSERT_EQ(popups.size(), 1u);
  EXPECT_EQ(popups[0].rect.bottom - popups[0].rect.top, kPopupHeightPx);

  ASSERT_EQ(PokeText(u"0;in"), PokeOutcome::kAcknowledged);
  const PopupInfo* login = nullptr;
  popups = app.Popups();
  login = FindByName(popups, u"in님이");
  ASSERT_TRUE(login);
  EXPECT_LT(login->rect.bottom - login->rect.top, kPopupHeightPx / 2);
  EXPECT_NEAR(login->rect.bottom, kSlotBottomPx[1], 1);
  EXPECT_TRUE(app.WaitForPopups(
      [](const std::vector<PopupInfo>& v) {
        const PopupInfo* p = FindByName(v, u"in님이");
        return p && p->rect.bottom - p->rect.top >= 130;
      },
      3000));
}

// Animations turned off by another program, as the system's settings do: a login stands
// at full size as soon as the poke is taken, never changes size, and is gone at the end
// of its hold. Wine 8 gives a program the setting it had when the program started, so
// Tindra is started again after the switch.
TEST_F(TindraTest, WithAnimationsOffALoginAppearsAndGoesAtOnce) {
  AnimationsSwitch animations;
  ASSERT_EQ(PokeText(u"end"), PokeOutcome::kAcknowledged);
  ASSERT_EQ(app.WaitForExit(5000), 0);
  ASSERT_TRUE(animations.Set(false));
  ASSERT_TRUE(app.Launch());
  ASSERT_TRUE(app.WaitUntilAnswering());

  // Read before the poke: the hold begins before Tindra acknowledges it.
  const ULONGLONG poked = NowMs();
  ASSERT_EQ(PokeText(u"0;in"), PokeOutcome::kAcknowledged);
  const auto popups = app.Popups();
  ASSERT_EQ(popups.size(), 1u);
  EXPECT_EQ(popups[0].rect.bottom - popups[0].rect.top, kPopupHeightPx);
  EXPECT_EQ(popups[0].rect.bottom, kSlotBottomPx[0]);
  bool sizeKept = true;
  ASSERT_TRUE(app.WaitForPopups(
      [&](const std::vector<PopupInfo>& v) {
        for (const PopupInfo& p : v) sizeKept = sizeKept && EqualRect(&p.rect, &popups[0].rect);
        return v.empty();
      },
      5000));
  EXPECT_TRUE(sizeKept);
  // The hold, less the half tick by which a timer may fire early.
  EXPECT_GE(NowMs() - poked, 1995u);
}

TEST_F(TindraTest, PopupsGoAwayOnTheirOwnAndTheNextStartsAtSlotZero) {
  ASSERT_EQ(PokeText(u"0;a"), PokeOutcome::kAcknowledged);
  ASSERT_EQ(PokeText(u"1;b"), PokeOutcome::kAcknowledged);
  ASSERT_EQ(app.Popups().size(), 2u);
  ASSERT_TRUE(app.WaitForPopups(CountIs(0), 15000)) << "popups still open after 15 s";
  ASSERT_EQ(PokeText(u"1;c"), PokeOutcome::kAcknowledged);
  auto popups = app.Popups();
  ASSERT_EQ(popups.size(), 1u);
  EXPECT_NEAR(popups[0].rect.bottom, kSlotBottomPx[0], 1);
}

TEST_F(TindraTest, ClosingTheMainFormFromOutsideClosesEverything) {
  ASSERT_EQ(PokeText(u"0;a"), PokeOutcome::kAcknowledged);
  ASSERT_EQ(PokeText(u"2;b"), PokeOutcome::kAcknowledged);
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(app.WaitForExit(5000), 0);
  EXPECT_EQ(CountWindowsOf(app.pid()), 0);
}

TEST_F(TindraTest, EndWithThreePopupsOpenClosesThemAndEndsTheProcess) {
  for (auto t : {u"0;a", u"1;b", u"3;c"}) ASSERT_EQ(PokeText(t), PokeOutcome::kAcknowledged);
  ASSERT_EQ(app.Popups().size(), 3u);
  EXPECT_EQ(PokeText(u"end"), PokeOutcome::kAcknowledged);
  EXPECT_EQ(app.WaitForExit(5000), 0);
  EXPECT_EQ(CountWindowsOf(app.pid()), 0);
}

TEST_F(TindraTest, RawDdeMessagesAreTakenLikeDdeml) {
  ASSERT_EQ(PokeText(u"2;raw notice", /*raw=*/true), PokeOutcome::kAcknowledged);
  ASSERT_EQ(PokeText(u"0;raw", /*raw=*/true, /*unicode=*/true), PokeOutcome::kAcknowledged);
  auto popups = app.Popups();
  EXPECT_TRUE(FindByName(popups, u"raw notice"));
  EXPECT_TRUE(FindByName(popups, u"raw님이"));
  EXPECT_EQ(PokeBytes("x", CF_BITMAP, /*raw=*/true), PokeOutcome::kRefused);
  EXPECT_EQ(PokeText(u"end", /*raw=*/true), PokeOutcome::kAcknowledged);
  EXPECT_EQ(app.WaitForExit(5000), 0);
}

TEST_F(TindraTest, TheHiddenMainFormCarriesTheTestButton) {
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  EXPECT_FALSE(IsWindowVisible(main));
  wchar_t caption[32] = {};
  GetWindowTextW(main, caption, 32);
  EXPECT_STREQ(caption, L"Tindra");
  RECT client{};
  GetClientRect(main, &client);
  EXPECT_EQ(client.right, 228);   // 3420 twips
  EXPECT_EQ(client.bottom, 141);  // 2115 twips
  HWND button = GetDlgItem(main, 1);
  HWND label = GetDlgItem(main, 2);
  ASSERT_TRUE(button && label);
  wchar_t text[32] = {};
  GetWindowTextW(button, text, 32);
  EXPECT_STREQ(text, L"Test");

  SendMessageW(main, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  auto popups = app.Popups();
  ASSERT_EQ(popups.size(), 1u);
  EXPECT_EQ(popups[0].name, u"test님이");
  EXPECT_EQ(popups[0].desc, u"로그인 하였습니다.");
  SendMessageW(button, BM_CLICK, 0, 0);
  EXPECT_EQ(app.Popups().size(), 2u);
  // The label is empty again after each message.
  EXPECT_EQ(GetWindowTextLengthW(label), 0);
}

TEST_F(TindraTest, BadInputIsAnsweredAndTindraKeepsRunning) {
  // 64 KiB of text.
  EXPECT_EQ(PokeText(u"2;" + std::u16string(65536, u'x')), PokeOutcome::kAcknowledged);
  // Bytes that are not CP949.
  EXPECT_EQ(PokeBytes(std::string("2;bad\xFF\x80\xFE", 8) + '\0', CF_TEXT),
            PokeOutcome::kAcknowledged);
  // The text ends at its first NUL.
  EXPECT_EQ(PokeBytes(std::string("2;nul\0after", 11) + '\0', CF_TEXT), PokeOutcome::kAcknowledged);
  // No NUL at all, and an odd-length Unicode text.
  EXPECT_EQ(PokeBytes("2;unterminated", CF_TEXT), PokeOutcome::kAcknowledged);
  EXPECT_EQ(PokeBytes(std::string("2\0;\0o\0d\0d", 9), CF_UNICODETEXT), PokeOutcome::kAcknowledged);
  auto popups = app.Popups();
  EXPECT_EQ(popups.size(), 5u);
  EXPECT_TRUE(FindByName(popups, u"nul"));
  EXPECT_TRUE(FindByName(popups, u"unterminated"));
  EXPECT_TRUE(FindByName(popups, u"od"));  // the odd last byte is no code unit

  // Empty text: taken, nothing shown.
  EXPECT_EQ(PokeText(u""), PokeOutcome::kAcknowledged);
  EXPECT_EQ(PokeBytes("", CF_TEXT), PokeOutcome::kAcknowledged);
  EXPECT_EQ(app.Popups().size(), 5u);

  // More than a notification could ever need: refused unread. (Wine itself cannot
  // carry DDE data of 2 MiB or more between processes: the receiver faults.)
  EXPECT_EQ(PokeBytes(std::string((1 << 20) + 4096, 'a') + '\0', CF_TEXT), PokeOutcome::kRefused);
  // Not text, or not our item or topic: refused.
  EXPECT_EQ(PokeBytes(std::string("2;bitmap") + '\0', CF_BITMAP), PokeOutcome::kRefused);
  EXPECT_EQ(PokeBytes(std::string("2;custom") + '\0', 0xC123), PokeOutcome::kRefused);
  {
    poke::PokeRequest r;
    r.item = u"lblOther";
    r.data = poke::TextData(u"2;other", false);
    EXPECT_EQ(poke::Poke(r), PokeOutcome::kRefused);
    r.item = u"lblDDE";
    r.topic = u"OtherFrm";
    r.connectWaitMs = 300;
    EXPECT_EQ(poke::Poke(r), PokeOutcome::kNoServer);
  }
  EXPECT_EQ(app.Popups().size(), 5u);
  EXPECT_TRUE(app.Running());
  EXPECT_EQ(PokeText(u"2;alive"), PokeOutcome::kAcknowledged);
  EXPECT_TRUE(FindByName(app.Popups(), u"alive"));
}

TEST_F(TindraTest, ASecondCopyEndsAtOnceAndTheFirstKeepsAnswering) {
  TindraProcess second{TindraExe()};
  ASSERT_TRUE(second.Launch());
  EXPECT_EQ(second.WaitForExit(10000), 0);
  EXPECT_EQ(CountWindowsOf(second.pid()), 0);
  EXPECT_TRUE(app.Running());
  ASSERT_EQ(PokeText(u"0;still here"), PokeOutcome::kAcknowledged);
  EXPECT_EQ(app.Popups().size(), 1u);
}

TEST(TindraStart, TwoCopiesStartedTogetherLeaveOne) {
  TindraProcess a{TindraExe()}, b{TindraExe()};
  ASSERT_TRUE(a.Launch());
  ASSERT_TRUE(b.Launch());
  const DWORD start = GetTickCount();
  while (a.Running() && b.Running() && GetTickCount() - start < 10000) Pump(50);
  ASSERT_TRUE(a.Running() != b.Running()) << "both copies still running after 10 s";
  TindraProcess& survivor = a.Running() ? a : b;
  EXPECT_TRUE(survivor.WaitUntilAnswering());
  Pump(500);
  EXPECT_TRUE(survivor.Running());
  EXPECT_EQ(PokeText(u"end"), PokeOutcome::kAcknowledged);
  EXPECT_EQ(survivor.WaitForExit(5000), 0);
}

TEST_F(TindraTest, TheMessengerToolPokesAndEndsTindra) {
  EXPECT_EQ(RunAndWait(L"\"" + PokeExe() + L"\" \"0;도구\"", 20000), 0);
  EXPECT_EQ(RunAndWait(L"\"" + PokeExe() + L"\" --unicode --raw -- \"1;유니코드\"", 20000), 0);
  auto popups = app.Popups();
  EXPECT_TRUE(FindByName(popups, u"도구님이"));
  EXPECT_TRUE(FindByName(popups, u"유니코드님이"));
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunAndWait(L"\"" + PokeExe() + L"\" --service Nowhere --wait 1 x", 20000), 2);
  EXPECT_LT(GetTickCount() - start, 6000u);
  EXPECT_EQ(RunAndWait(L"\"" + PokeExe() + L"\" --format 2 x", 20000), 1);
  EXPECT_EQ(RunAndWait(L"\"" + PokeExe() + L"\" --bogus x", 20000), 64);
  EXPECT_EQ(RunAndWait(L"\"" + PokeExe() + L"\" one two", 20000), 64);
  EXPECT_EQ(RunAndWait(L"\"" + PokeExe() + L"\" --wait", 20000), 64);
  EXPECT_EQ(RunAndWait(L"\"" + PokeExe() + L"\" -- --dashes", 20000), 0);
  EXPECT_TRUE(FindByName(app.Popups(), u"dashes님이"));  // mode 0, from the third character
  EXPECT_EQ(RunAndWait(L"\"" + PokeExe() + L"\" end", 20000), 0);
  EXPECT_EQ(app.WaitForExit(5000), 0);
}

// The integrators' example client (examples/notify.c, in the release zip), built as they
// would build it: started before Tindra answers, it keeps trying until it does; each
// mode gives its popup, and "end" closes Tindra.
TEST(TindraExampleClient, WaitsForTindraPokesEachModeAndEndsIt) {
  std::wstring early = L"\"" + NotifyExe() + L"\" \"0;먼저\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, early.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &si, &pi));
  win32::UniqueHandle client(pi.hProcess);
  CloseHandle(pi.hThread);
  Pump(1500);
  EXPECT_EQ(WaitForSingleObject(client.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "it gave up before Tindra started";
  TindraProcess app{TindraExe()};
  ASSERT_TRUE(app.Launch());
  // Each popup as it was first seen: a popup lasts a few seconds, so one of the first
  // pokes may be gone by the time a later client has run on a loaded machine.
  std::map<std::u16string, PopupInfo> seen;
  auto look = [&] {
    for (const PopupInfo& p : app.Popups()) seen.emplace(p.name, p);
  };
  ASSERT_TRUE(PumpUntil(
      [&] {
        look();
        return WaitForSingleObject(client.get(), 0) == WAIT_OBJECT_0;
      },
      30000));
  look();
  DWORD code = 99;
  GetExitCodeProcess(client.get(), &code);
  EXPECT_EQ(code, 0u);

  struct {
    const wchar_t* text;
    std::u16string name, desc;
    bool note;
  } const kinds[] = {
      {L"1;예제", u"예제님이", u"로그아웃 하였습니다.", false},
      {L"2;예제 알림입니다", u"예제 알림입니다", u"", true},
  };
  for (auto& kind : kinds) {
    EXPECT_EQ(RunAndWait(L"\"" + NotifyExe() + L"\" \"" + kind.text + L"\"", 20000, look), 0)
        << kind.text;
    look();  // acknowledged, so its popup is open now
  }
  ASSERT_TRUE(seen.count(u"먼저님이"));
  EXPECT_EQ(seen[u"먼저님이"].desc, u"로그인 하였습니다.");
  for (auto& kind : kinds) {
    ASSERT_TRUE(seen.count(kind.name)) << Utf16ToUtf8(kind.name);
    EXPECT_EQ(seen[kind.name].desc, kind.desc);
    EXPECT_EQ(seen[kind.name].noteVisible, kind.note);
  }
  EXPECT_EQ(RunAndWait(L"\"" + NotifyExe() + L"\"", 20000), 64);
  EXPECT_EQ(RunAndWait(L"\"" + NotifyExe() + L"\" end", 20000), 0);
  EXPECT_EQ(app.WaitForExit(5000), 0);
}

namespace {

// Records the order in which popups first appear, from names that end in their poke's
// number. Popups found in the same look count in the order of their numbers; a popup
// lives for seconds, so looking every 20 ms misses none.
class AppearanceOrder {
 public:
  explicit AppearanceOrder(const TindraProcess& app) : app_(app) {}
  // Looks, unless the last look was less than 20 ms ago; the popups open now.
  size_t Look() {
    if (GetTickCount() - last_ < 20) return open_;
    last_ = GetTickCount();
    const auto popups = app_.Popups();
    open_ = popups.size();
    std::vector<int> fresh;
    for (const PopupInfo& p : popups) {
      if (!seenWindows_.insert(p.hwnd).second) continue;
      fresh.push_back(NumberOf(p.name));
      longest_ = std::max(longest_, p.name.size());
    }
    std::sort(fresh.begin(), fresh.end());
    order_.insert(order_.end(), fresh.begin(), fresh.end());
    return open_;
  }
  // Looks, handling messages, until no popup is open; false after `timeoutMs`.
  bool UntilNoneOpen(DWORD timeoutMs) {
    return PumpUntil([&] { return Look() == 0; }, timeoutMs, 20);
  }
  const std::vector<int>& order() const { return order_; }
  size_t longestName() const { return longest_; }

 private:
  static int NumberOf(const std::u16string& name) {
    size_t i = name.find_first_of(u"0123456789");
    int n = 0;
    for (; i < name.size() && name[i] >= u'0' && name[i] <= u'9'; ++i)
      n = n * 10 + (name[i] - u'0');
    return n;
  }
  const TindraProcess& app_;
  DWORD last_ = 0;
  size_t open_ = 0;
  size_t longest_ = 0;
  std::set<HWND> seenWindows_;
  std::vector<int> order_;
};

std::vector<int> Upto(int n) {
  std::vector<int> v(static_cast<size_t>(n));
  std::iota(v.begin(), v.end(), 0);
  return v;
}

// Pokes `pokes` notices "2;<prefix><number><tail>" over one conversation, as a
// messenger holding its link does, until the first refusal; how many were
// acknowledged. Looks at the popups between pokes.
int PokeBurst(AppearanceOrder& order, const std::u16string& prefix, int pokes,
              const std::u16string& tail = u"") {
  poke::DdeConversation link;
  EXPECT_EQ(link.Connect(poke::PokeRequest{}), PokeOutcome::kAcknowledged);
  int acked = 0;
  for (; acked < pokes; ++acked) {
    std::u16string text = u"2;" + prefix + win32::FromWide(std::to_wstring(acked)) + tail;
    const PokeOutcome outcome = link.Poke(CF_TEXT, poke::TextData(text, false));
    if (outcome != PokeOutcome::kAcknowledged) {
      EXPECT_EQ(outcome, PokeOutcome::kRefused) << "poke " << acked;
      break;
    }
    order.Look();
  }
  return acked;  // the conversation ends here: its window goes too
}

struct ObjectCounts {
  long gdi, user, windows, handles;
  bool operator==(const ObjectCounts&) const = default;
};

ObjectCounts CountsOf(const TindraProcess& app) {
  return {GdiObjectsOf(app.handle()), UserObjectsOf(app.handle(), app.pid()),
          CountWindowsOf(app.pid()), KernelHandlesOf(app.handle(), app.pid())};
}

// The counts once two readings 500 ms apart agree (at most 15 s of waiting).
ObjectCounts SteadyCounts(const TindraProcess& app) {
  ObjectCounts last = CountsOf(app);
  for (int i = 0; i < 30; ++i) {
    Pump(500);
    const ObjectCounts now = CountsOf(app);
    if (now == last) break;
    last = now;
  }
  return last;
}

}  // namespace

// A leak of anything per popup shows 200 times over, and a burst clears well inside the
// two-minute waits below even on a loaded machine. A first burst fills what the platform
// caches for many windows at once (Wine keeps its cached device contexts, each with a
// region and a bitmap, at the largest number used together), so the counts are taken
// in the steady state that a second burst must come back to.
TEST_F(TindraTest, ABurstOf200PokesShowsEveryOneAndLeavesNoObjectsBehind) {
  constexpr int kPokes = 200;
  {
    AppearanceOrder order(app);
    ASSERT_EQ(PokeBurst(order, u"burst ", kPokes), kPokes);
    ASSERT_TRUE(order.UntilNoneOpen(120000)) << "popups still open after 2 min";
    EXPECT_EQ(order.order(), Upto(kPokes)) << "every popup once, in order";
  }
  // A conversation's window goes a moment after it ends, later on a loaded machine:
  // the counts are taken once two readings half a second apart agree.
  const ObjectCounts before = SteadyCounts(app);
  // Every count must be a reading: a platform that answers 0 would make the
  // comparisons below pass whatever leaks.
  ASSERT_GT(before.gdi, 0);
  ASSERT_GT(before.user, 0);
  ASSERT_GT(before.windows, 0);
  ASSERT_GT(before.handles, 0);
  std::printf("before the burst: %ld GDI objects, %ld USER objects, %ld windows, %ld handles\n",
              before.gdi, before.user, before.windows, before.handles);

  const DWORD burstStart = GetTickCount();
  AppearanceOrder order(app);
  EXPECT_EQ(PokeBurst(order, u"again ", kPokes), kPokes);
  std::printf("%d pokes taken in %lu ms\n", kPokes,
              static_cast<unsigned long>(GetTickCount() - burstStart));
  EXPECT_TRUE(order.UntilNoneOpen(120000)) << "popups still open after 2 min";
  EXPECT_EQ(order.order(), Upto(kPokes));
  const ObjectCounts after = SteadyCounts(app);
  EXPECT_TRUE(app.Running());
  EXPECT_EQ(after.gdi, before.gdi);
  EXPECT_EQ(after.user, before.user);
  EXPECT_EQ(after.windows, before.windows);
  EXPECT_EQ(after.handles, before.handles);
  EXPECT_EQ(PokeText(u"1;after"), PokeOutcome::kAcknowledged);
}

// A flood of long pokes over one conversation: 64 popups open at once, 256 more wait,
// the poke after that is refused; every one taken appears, in order, cut to 128 units,
// while a poke is still answered at once and a click still closes a popup.
TEST_F(TindraTest, AFloodWaitsInOrderIsRefusedPastTheLineAndKeepsClosing) {
  constexpr int kOpen = 64, kWaiting = 256;
  const std::u16string tail = u" " + std::u16string(20000, u'x');
  AppearanceOrder order(app);
  const int acked = PokeBurst(order, u"flood ", 2 * (kOpen + kWaiting), tail);
  // Popups that closed while the flood went on let a few more in.
  EXPECT_GE(acked, kOpen + kWaiting);
  EXPECT_LT(acked, 2 * (kOpen + kWaiting)) << "nothing refused";

  // Answered at once, taken or refused, while the line is full.
  const DWORD asked = GetTickCount();
  const PokeOutcome probe = PokeText(u"2;probe " + win32::FromWide(std::to_wstring(acked)));
  EXPECT_LT(GetTickCount() - asked, 1000u);
  EXPECT_TRUE(probe == PokeOutcome::kAcknowledged || probe == PokeOutcome::kRefused);

  // A click closes the popup under it. With 64 growing at once on a loaded machine, the
  // first may take a while to reach its full height.
  RECT r{};
  ASSERT_TRUE(PumpUntil(
      [&] {
        order.Look();
        for (const PopupInfo& p : app.Popups())
          if (p.rect.bottom - p.rect.top >= kPopupHeightPx - 1) r = p.rect;
        return r.bottom > 0;
      },
      30000, 20));
  const POINT at{r.left + 170, r.bottom - 10};
  const HWND clicked = WindowFromPoint(at);
  ASSERT_EQ(ProcessOf(clicked), app.pid());
  ClickAt(at.x, at.y);
  // The pointer moved onto the popup, so it holds the popup: nothing but the click can
  // close it, however long the click takes to come through behind 64 moving popups on a
  // loaded machine. The wait only guards against a hang.
  EXPECT_TRUE(PumpUntil(
      [&] {
        order.Look();
        return !IsWindow(clicked);
      },
      30000, 20))
      << "the click did not close a popup";
  // A popup under a resting pointer would wait for it to leave.
  SetCursorPos(0, 0);

  ASSERT_TRUE(order.UntilNoneOpen(180000)) << "popups still open after 3 min";
  std::vector<int> expected = Upto(acked);
  if (probe == PokeOutcome::kAcknowledged) expected.push_back(acked);
  EXPECT_EQ(order.order(), expected);
  EXPECT_EQ(order.longestName(), 128u);
  EXPECT_TRUE(app.Running());
  EXPECT_EQ(PokeText(u"1;after"), PokeOutcome::kAcknowledged);
}

// ---- quiet times ----

// A window of this test's own in front of everything, of the size given.
win32::UniqueWindow ForegroundWindowOf(int width, int height) {
  win32::UniqueWindow w(CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"in front",
                                        WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                                        nullptr, GetModuleHandleW(nullptr), nullptr));
  if (w) SetForegroundWindow(w.get());
  Pump(200);
  return w;
}

TEST_F(TindraTest, AFullScreenWindowHoldsPopupsBackUntilItCloses) {
  // A screen reader hears each popup as it appears.
  AccessibilityListener reader(app.pid());
  ASSERT_TRUE(reader.Listening());
  // As large as the work area, not the screen: popups come at once.
  {
    win32::UniqueWindow large = ForegroundWindowOf(1280, 994);
    ASSERT_EQ(GetForegroundWindow(), large.get());
    ASSERT_EQ(PokeText(u"2;large"), PokeOutcome::kAcknowledged);
    EXPECT_TRUE(FindByName(app.Popups(), u"large"));
    EXPECT_TRUE(reader.WaitForAlerts(1, 3000));
  }
  win32::UniqueWindow full =
      ForegroundWindowOf(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  ASSERT_EQ(GetForegroundWindow(), full.get());
  const std::u16string names[] = {u"q1님이", u"q2님이", u"q3"};
  for (auto t : {u"0;q1", u"1;q2", u"2;q3"}) ASSERT_EQ(PokeText(t), PokeOutcome::kAcknowledged);
  Pump(1500);
  for (auto& name : names) EXPECT_FALSE(FindByName(app.Popups(), name)) << Utf16ToUtf8(name);
  EXPECT_EQ(reader.Alerts().size(), 1u) << "announced before it appeared";

  full.reset();
  ASSERT_TRUE(app.WaitForPopups(
      [&](const std::vector<PopupInfo>& v) {
        return std::all_of(std::begin(names), std::end(names),
                           [&](auto& n) { return FindByName(v, n) != nullptr; });
      },
      3000))
      << "held popups did not come once the window closed";
  EXPECT_TRUE(reader.WaitForAlerts(4, 3000));
  // Shown in order: each one slot above the one before.
  const auto popups = app.Popups();
  EXPECT_GT(Bottom(*FindByName(popups, names[0])), Bottom(*FindByName(popups, names[1])));
  EXPECT_GT(Bottom(*FindByName(popups, names[1])), Bottom(*FindByName(popups, names[2])));
}

// A maximized window with a title bar, laid out as Windows lays one out on a monitor
// without a taskbar (auto-hidden, or a second monitor): it covers the whole screen, its
// frame just outside it, and is no full-screen program: popups come at once. Under
// Wine without a window manager, a window is made zoomed this way.
TEST_F(TindraTest, AMaximizedWindowCoveringTheScreenHoldsNothingBack) {
  const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
  win32::UniqueWindow zoomed(CreateWindowExW(
      0, L"STATIC", L"maximized", WS_OVERLAPPEDWINDOW | WS_MAXIMIZE | WS_VISIBLE, -8, -8, cx + 16,
      cy + 16, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(zoomed);
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(zoomed.get(), &placement);
  placement.showCmd = SW_SHOWMAXIMIZED;
  placement.rcNormalPosition = RECT{100, 100, 740, 580};
  SetWindowPlacement(zoomed.get(), &placement);
  SetWindowPos(zoomed.get(), nullptr, -8, -8, cx + 16, cy + 16, SWP_NOZORDER | SWP_FRAMECHANGED);
  SetForegroundWindow(zoomed.get());
  Pump(200);
  ASSERT_EQ(GetForegroundWindow(), zoomed.get());
  ASSERT_TRUE(IsZoomed(zoomed.get()));
  ASSERT_EQ(GetWindowLongW(zoomed.get(), GWL_STYLE) & WS_CAPTION, static_cast<LONG>(WS_CAPTION));
  RECT r{};
  GetWindowRect(zoomed.get(), &r);
  ASSERT_TRUE(r.left <= 0 && r.top <= 0 && r.right >= cx && r.bottom >= cy)
      << r.left << "," << r.top << "," << r.right << "," << r.bottom << ": covers the screen";

  for (auto t : {u"0;m1", u"1;m2", u"2;m3"}) ASSERT_EQ(PokeText(t), PokeOutcome::kAcknowledged);
  const auto popups = app.Popups();
  EXPECT_TRUE(FindByName(popups, u"m1님이"));
  EXPECT_TRUE(FindByName(popups, u"m2님이"));
  EXPECT_TRUE(FindByName(popups, u"m3"));
  EXPECT_TRUE(app.WaitForPopups(CountIs(0), 15000)) << "they close as usual";
}

// Another program's WM_SETTINGCHANGE is answered at once: the notifications that waited
// for the end of a full-screen window are shown after the answer, from a message Tindra
// posts itself, not inside the broadcast. (Tindra's own check of the waiting line, twice a
// second, may come first and show them itself; a round that finds them shown already
// proves nothing, and another is tried.)
TEST_F(TindraTest, ASettingChangeIsAnsweredBeforeTheWaitingPopupsAreMade) {
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  constexpr int kWaiting = 64;
  bool answeredFirst = false;
  for (int round = 0; round < 3 && !answeredFirst; ++round) {
    SCOPED_TRACE(round);
    win32::UniqueWindow full =
        ForegroundWindowOf(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    ASSERT_EQ(GetForegroundWindow(), full.get());
    {
      poke::DdeConversation link;
      ASSERT_EQ(link.Connect(poke::PokeRequest{}), PokeOutcome::kAcknowledged);
      for (int i = 0; i < kWaiting; ++i)
        ASSERT_EQ(
            link.Poke(CF_TEXT, poke::TextData(u"2;w" + win32::FromWide(std::to_wstring(i)), false)),
            PokeOutcome::kAcknowledged);
    }
    Pump(100);
    ASSERT_TRUE(app.Popups().empty()) << "held back";
    // No longer full screen (a resize is quick, where hiding a window takes Wine's X11
    // driver about 2 s), and the system says its settings changed.
    SetWindowPos(full.get(), nullptr, 0, 0, 300, 200, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    DWORD_PTR result = 0;
    const DWORD sent = GetTickCount();
    const LRESULT answered =
        SendMessageTimeoutW(main, WM_SETTINGCHANGE, 0, 0, SMTO_NORMAL, 10000, &result);
    const DWORD answerMs = GetTickCount() - sent;
    const size_t madeWhenAnswered = WindowsOfClass(app.pid(), L"TindraPopup").size();
    std::printf("answered in %lu ms with %zu of the %d popups made\n",
                static_cast<unsigned long>(answerMs), madeWhenAnswered, kWaiting);
    EXPECT_NE(answered, 0);
    answeredFirst = madeWhenAnswered < static_cast<size_t>(kWaiting);
    full.reset();
    ASSERT_TRUE(PumpUntil([&] { return !WindowsOfClass(app.pid(), L"TindraPopup").empty(); }, 3000))
        << "shown once the window went";
    ASSERT_TRUE(app.WaitForPopups(CountIs(0), 60000));
  }
  EXPECT_TRUE(answeredFirst) << "every round made all the popups before answering";
}

// The pointer left where the user clicked a popup away: the popups that appear under it
// afterwards, a burst that wraps into that slot included, all close on time.
TEST_F(TindraTest, APointerLeftWhereAPopupWasClickedHoldsNoneOfTheNext) {
  struct Parked {
    ~Parked() { SetCursorPos(0, 0); }
  } parked;
  ASSERT_EQ(PokeText(u"2;click me"), PokeOutcome::kAcknowledged);
  RECT r{};
  ASSERT_TRUE(app.WaitForPopups(
      [&](const std::vector<PopupInfo>& v) {
        if (v.size() == 1 && v[0].rect.bottom - v[0].rect.top >= kPopupHeightPx - 1) r = v[0].rect;
        return r.bottom > 0;
      },
      5000));
  // On the name line.
  ClickAt(r.left + 90, r.top + 38);
  ASSERT_TRUE(app.WaitForPopups(CountIs(0), 3000)) << "the click closed it";
  Pump(1000);  // the pointer rests there
  const DWORD started = GetTickCount();
  {
    poke::DdeConversation link;
    ASSERT_EQ(link.Connect(poke::PokeRequest{}), PokeOutcome::kAcknowledged);
    for (int i = 0; i < 20; ++i)
      ASSERT_EQ(link.Poke(CF_TEXT,
                          poke::TextData(u"0;login" + win32::FromWide(std::to_wstring(i)), false)),
                PokeOutcome::kAcknowledged);
  }
  // 20 popups: slots 0 to 6 and two wraps, several of them under the resting pointer.
  EXPECT_TRUE(app.WaitForPopups(CountIs(0), 20000)) << "popups under the pointer stayed";
  std::printf("20 popups gone after %lu ms\n",
              static_cast<unsigned long>(GetTickCount() - started));
}

// ---- the user away from the keyboard ----

// A mouse move of no distance, away from the popups: input, as the user's.
void NudgeTheMouse() {
  INPUT move{};
  move.type = INPUT_MOUSE;
  move.mi.dwFlags = MOUSEEVENTF_MOVE;
  SendInput(1, &move, sizeof move);
  Pump(50);
}

// Tindra built to count the user as away after TINDRA_AWAY_MS (3 s) without input (90 s
// as shipped). With no input since it started it never counts the user away: a popup
// closes on time. After one input and the while without any, a popup stays at full size
// well past its hold; at the next input it holds once more in full and closes.
TEST(TindraAway, APopupWaitsForTheUserWhoIsAwayAndGoesAfterAFullHoldOnTheirReturn) {
  SetCursorPos(0, 0);  // away from the popups, before Tindra starts
  Pump(100);
  TindraProcess app{AwayExe()};
  ASSERT_TRUE(app.Launch());
  ASSERT_TRUE(app.WaitUntilAnswering());
  struct Ended {
    TindraProcess& app;
    ~Ended() {
      if (app.Running()) PokeText(u"end");
      app.WaitForExit(5000);
      app.Kill();
    }
  } ended{app};

  // No input since the start: as today.
  Pump(TINDRA_AWAY_MS + 1000);
  ULONGLONG poked = NowMs();  // before the poke: the hold begins before its answer
  ASSERT_EQ(PokeText(u"1;here"), PokeOutcome::kAcknowledged);
  ASSERT_EQ(app.Popups().size(), 1u);
  ASSERT_TRUE(app.WaitForPopups(CountIs(0), 6000)) << "no input came: the popup closes on time";
  EXPECT_GE(NowMs() - poked, 1995u);

  // One input, then the while without any.
  NudgeTheMouse();
  Pump(TINDRA_AWAY_MS + 1000);
  poked = NowMs();
  ASSERT_EQ(PokeText(u"1;away"), PokeOutcome::kAcknowledged);
  auto popups = app.Popups();
  ASSERT_EQ(popups.size(), 1u);
  const RECT shown = popups[0].rect;
  Pump(2000 + 3000);
  popups = app.Popups();
  ASSERT_EQ(popups.size(), 1u) << "the popup went while the user was away";
  EXPECT_TRUE(EqualRect(&popups[0].rect, &shown)) << "it waits at full size";
  EXPECT_EQ(popups[0].rect.bottom - popups[0].rect.top, kPopupHeightPx);

  // Another arrives meanwhile: it appears, and waits too.
  ASSERT_EQ(PokeText(u"0;also away"), PokeOutcome::kAcknowledged);
  Pump(3000);
  EXPECT_EQ(app.Popups().size(), 2u);

  // Back: each holds once more in full, then closes.
  const ULONGLONG back = NowMs();
  NudgeTheMouse();
  // The wait only guards against a hang: while the user was away nothing closed them.
  ASSERT_TRUE(app.WaitForPopups(CountIs(0), 30000)) << "they close once the user is back";
  const ULONGLONG gone = NowMs() - back;
  EXPECT_GE(gone, 1995u) << "a full hold after the input";
  std::printf("popups gone %llu ms after the user came back (%llu ms after the first poke)\n", gone,
              NowMs() - poked);
  EXPECT_TRUE(app.Running());
}

// ---- what a screen reader gets ----

// A listener in this process hooks Tindra's events out of context, as a screen reader
// does, and reads each alert's object as it arrives.
class TindraAccessibilityTest : public TindraTest {
 protected:
  void SetUp() override {
    TindraTest::SetUp();
    listener.emplace(app.pid());
    ASSERT_TRUE(listener->Listening());
    // A window of this process in front, where the user's work would be.
    window.reset(CreateWindowExW(0, L"STATIC", L"foreground", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50,
                                 50, 300, 200, nullptr, nullptr, GetModuleHandleW(nullptr),
                                 nullptr));
    ASSERT_TRUE(window);
    SetForegroundWindow(window.get());
    Pump(200);
    foreground = GetForegroundWindow();
    ASSERT_EQ(foreground, window.get());
  }
  void TearDown() override {
    TindraTest::TearDown();
    listener.reset();
  }
  // Pokes `text` and waits for its alert; then a little longer, for any second one.
  void PokeAndWaitForAlert(const std::u16string& text) {
    const size_t before = listener->Alerts().size();
    ASSERT_EQ(PokeText(text), PokeOutcome::kAcknowledged);
    ASSERT_TRUE(listener->WaitForAlerts(before + 1, 5000)) << "no alert for " << Utf8(text);
    Pump(300);
    EXPECT_EQ(listener->Alerts().size(), before + 1) << Utf8(text);
  }
  // What the listener read of each alert is what the popup says, on its client object.
  void ExpectAlertOf(const AccessibilityListener::Alert& a, const std::u16string& spoken) {
    EXPECT_EQ(a.idObject, OBJID_CLIENT);
    EXPECT_EQ(a.idChild, CHILDID_SELF);
    EXPECT_EQ(a.objectResult, S_OK);
    EXPECT_EQ(a.role, ROLE_SYSTEM_ALERT);
    EXPECT_EQ(a.nameResult, S_OK);
    EXPECT_EQ(Utf8(a.name), Utf8(spoken));
  }
  // Focus and activation stay where they were.
  void ExpectFocusUnmoved() {
    EXPECT_EQ(listener->FocusEvents(), 0);
    EXPECT_EQ(GetForegroundWindow(), foreground);
  }
  static std::string Utf8(const std::u16string& s) { return Utf16ToUtf8(s); }

  std::optional<AccessibilityListener> listener;
  win32::UniqueWindow window;
  HWND foreground = nullptr;
};

TEST_F(TindraAccessibilityTest, EachPopupIsAnnouncedOnceInItsOwnWordsAndNotAgain) {
  struct Case {
    std::u16string poke, spoken;
  };
  // The logout last: it is clicked below, while it still stands at full size.
  const std::vector<Case> cases = {
      {u"0;김민준", u"김민준님이 로그인 하였습니다."},
      {u"2;새 쪽지가 도착했습니다", u"새 쪽지가 도착했습니다"},
      {u"7;회의가 곧 시작됩니다", u"회의가 곧 시작됩니다"},
      {u"0;", u"님이 로그인 하였습니다."},
      {u"1;김민준", u"김민준님이 로그아웃 하였습니다."},
  };
  for (const Case& c : cases) PokeAndWaitForAlert(c.poke);
  const auto alerts = listener->Alerts();
  ASSERT_EQ(alerts.size(), cases.size());
  const auto popups = app.Popups();
  ASSERT_EQ(popups.size(), cases.size());
  std::set<HWND> announced;
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(Utf8(cases[i].poke));
    ExpectAlertOf(alerts[i], cases[i].spoken);
    EXPECT_TRUE(std::any_of(popups.begin(), popups.end(),
                            [&](const PopupInfo& p) { return p.hwnd == alerts[i].hwnd; }));
    announced.insert(alerts[i].hwnd);
  }
  EXPECT_EQ(announced.size(), cases.size()) << "one popup announced twice";

  // A click closes the logout popup: no alert; its object, still held here, fails;
  // the others still answer.
  const size_t last = cases.size() - 1;
  auto logout = std::find_if(popups.begin(), popups.end(),
                             [&](const PopupInfo& p) { return p.hwnd == alerts[last].hwnd; });
  ASSERT_NE(logout, popups.end());
  ClickAt(logout->rect.left + 170, logout->rect.top + 120);  // Picture1's background
  const HWND clicked = alerts[last].hwnd;
  const bool closed = app.WaitForPopups(
      [&](const std::vector<PopupInfo>& v) {
        return std::none_of(v.begin(), v.end(), [&](auto& p) { return p.hwnd == clicked; });
      },
      3000);
  // Then off the popups' column: a pointer resting on a popup holds it.
  SetCursorPos(0, 0);
  ASSERT_TRUE(closed) << "the click did not close the popup";
  Pump(300);
  std::u16string name;
  EXPECT_TRUE(FAILED(listener->NameAgain(last, &name))) << Utf8(name);
  EXPECT_EQ(listener->NameAgain(last - 1, &name), S_OK);
  EXPECT_EQ(Utf8(name), Utf8(cases[last - 1].spoken));

  // The rest unload on their own: no alert, and every object fails cleanly.
  ASSERT_TRUE(app.WaitForPopups(CountIs(0), 15000));
  Pump(300);
  EXPECT_EQ(listener->Alerts().size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const HRESULT hr = listener->NameAgain(i, &name);
    EXPECT_TRUE(FAILED(hr)) << i << ": " << std::hex << hr;
  }
  EXPECT_TRUE(app.Running());
  ExpectFocusUnmoved();
}

TEST_F(TindraAccessibilityTest, ABurstOf20IsAnnouncedPopupByPopup) {
  constexpr int kPokes = 20;
  // One conversation for the whole burst, as the messenger holds its link.
  std::optional<poke::DdeConversation> link;
  link.emplace();
  ASSERT_EQ(link->Connect(poke::PokeRequest{}), PokeOutcome::kAcknowledged);
  std::vector<std::u16string> names;
  for (int i = 0; i < kPokes; ++i) {
    names.push_back(u"사용자" + win32::FromWide(std::to_wstring(i)));
    ASSERT_EQ(link->Poke(CF_TEXT, poke::TextData(u"0;" + names.back(), false)),
              PokeOutcome::kAcknowledged);
  }
  link.reset();
  ASSERT_TRUE(listener->WaitForAlerts(kPokes, 10000));
  ASSERT_TRUE(app.WaitForPopups(CountIs(0), 60000));
  Pump(300);
  const auto alerts = listener->Alerts();
  ASSERT_EQ(alerts.size(), static_cast<size_t>(kPokes)) << "one alert per popup, no more";
  // Each popup's own alert, read off its own window; under Wine an alert that arrives
  // while the listener reads another is taken first, so the order is not checked.
  std::set<HWND> announced;
  for (int i = 0; i < kPokes; ++i) {
    const std::u16string spoken = names[static_cast<size_t>(i)] + u"님이 로그인 하였습니다.";
    SCOPED_TRACE(Utf8(spoken));
    auto a = std::find_if(alerts.begin(), alerts.end(), [&](auto& a) { return a.name == spoken; });
    ASSERT_NE(a, alerts.end());
    ExpectAlertOf(*a, spoken);
    announced.insert(a->hwnd);
  }
  EXPECT_EQ(announced.size(), static_cast<size_t>(kPokes));
  ExpectFocusUnmoved();
  EXPECT_EQ(PokeText(u"end"), PokeOutcome::kAcknowledged);
  EXPECT_EQ(app.WaitForExit(5000), 0);
  EXPECT_EQ(listener->Alerts().size(), static_cast<size_t>(kPokes)) << "an alert at the end";
}

TEST(TindraProgramFile, VersionBlockIconAndManifest) {
  const std::wstring exe = TindraExe();
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));  // 1.0
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(TINDRA_TEST_REVISION, 0));
  EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(TINDRA_TEST_REVISION, 0));
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &len));
  ASSERT_EQ(len, 4u);  // one language
  EXPECT_EQ(translation[0], 0x412);
  EXPECT_EQ(translation[1], 1200);
  auto value = [&](const wchar_t* name) {
    wchar_t* text = nullptr;
    UINT n = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\041204B0\\") + name;
    if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &n))
      return std::wstring(L"<none>");
    return std::wstring(text);
  };
  wchar_t version[16];
  swprintf(version, 16, L"1.00.%04d", TINDRA_TEST_REVISION);
  EXPECT_EQ(value(L"ProductName"), L"Tindra");
  EXPECT_EQ(value(L"InternalName"), L"Tindra");
  EXPECT_EQ(value(L"OriginalFilename"), L"Tindra.exe");
  EXPECT_EQ(value(L"FileVersion"), version);
  EXPECT_EQ(value(L"ProductVersion"), version);
  EXPECT_EQ(value(L"CompanyName"), L"Tindra");

  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(module);
  // Icon 1: 32 x 32 and 16 x 16 images.
  HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
  ASSERT_TRUE(group);
  const auto* dir = static_cast<const WORD*>(LockResource(LoadResource(module, group)));
  ASSERT_TRUE(dir);
  EXPECT_EQ(dir[2], 2);  // image count
  HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_TRUE(manifest);
  std::string xml(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                  SizeofResource(module, manifest));
  EXPECT_NE(xml.find("<dpiAware"), std::string::npos);
  EXPECT_NE(xml.find(">true</dpiAware>"), std::string::npos);
  EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  FreeLibrary(module);
}
