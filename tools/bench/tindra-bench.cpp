// tindra-bench: the messenger's side of the benchmark (scripts/bench.py). Holds one
// DDE conversation with a running Tindra and answers commands read line by line from
// standard input, one line of reply each. Times are the performance counter in
// microseconds, so that the caller can put them on its own clock (see "clock").
//
//   clock                 -> clock T
//   connect SECONDS       -> connected | failed OUTCOME
//   poke TEXT             -> ack T_SENT T_ACKED OUTCOME
//   burst N PREFIX        -> burst ACKED T_FIRST_SENT T_LAST_ACKED LATENCY_US,...
//                            (pokes "0;" PREFIX NNN, N times, back to back)
//   flood N CHARS         -> flood ACKED REFUSED T_FIRST_SENT T_LAST_ACKED MAX_LATENCY_US
//                            (pokes notices of CHARS characters, N times, back to back)
//   close                 -> closed N   (clicks every open popup)
//   count                 -> count popups=N windows=N gdi=N user=N
//   movecost N            -> movecost OPENING CLOSING US_PER_MOVE CREATE_US SHOW_US
//                            DESTROY_US EXPOSE_US
//                            (one login popup's sequence on a bare window, N times; the
//                            last four are per popup)
//   counters              -> counters NAME=COUNT:US ... late=TICKS:US
//                            (Tindra's step counters, see common/win32/step_counters.h)
//   quit
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "app/win32/FrmMain_win32.h"
#include "common/errors.h"
#include "common/popup_geometry.h"
#include "common/text.h"
#include "common/win32/dde_client.h"
#include "common/win32/handle.h"
#include "common/win32/screen.h"
#include "common/win32/step_counters.h"
#include "popup/FrmTindra.h"
#include "popup/win32/FrmTindra_controls.h"
#include "tools/harness/win_support.h"

using namespace tindra;

namespace {

LONGLONG NowUs() { return win32::CounterUs(); }

DWORD TindraPid() {
  HWND main = FindWindowW(win32::kFrmMainClass, nullptr);
  return main ? test::ProcessOf(main) : 0;
}

std::vector<HWND> PopupsOf(DWORD pid) { return test::WindowsOfClass(pid, win32::kPopupClassName); }

std::string Counts() {
  const DWORD pid = TindraPid();
  win32::UniqueHandle process(
      pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr);
  long gdi = -1, user = -1;
  if (process) {
    gdi = test::GdiObjectsOf(process.get());
    user = test::UserObjectsOf(process.get(), pid);
  }
  std::ostringstream out;
  out << "count popups=" << (pid ? PopupsOf(pid).size() : 0)
      << " windows=" << (pid ? test::CountWindowsOf(pid) : 0) << " gdi=" << gdi << " user=" << user;
  return out.str();
}

int ClickEveryPopup() {
  const DWORD pid = TindraPid();
  if (!pid) return 0;
  int n = 0;
  for (HWND popup : PopupsOf(pid)) {
    // (2, 2) is on Picture1's background, away from the labels and the envelope.
    PostMessageW(popup, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    PostMessageW(popup, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    ++n;
  }
  return n;
}

// A window with the popup frame's styles and nothing in it, driven by the popup's own
// code: every step reads the geometry back and changes it with the same single call
// as the popup does, but draws nothing and waits for no timer. What a step costs here
// is the least any popup pays for it on this machine.
class BareWindow final : private PopupWindow {
 public:
  BareWindow() : core_(*this, popupCount_) {}
  ~BareWindow() override = default;
  BareWindow(const BareWindow&) = delete;
  BareWindow& operator=(const BareWindow&) = delete;

  struct Run {
    int opening = 0, closing = 0;
    LONGLONG moveUs = 0;
    // What else any popup's window costs: created, shown, destroyed, and the
    // exposures the X server reports while it grows, handled by the message loop.
    LONGLONG createUs = 0, showUs = 0, destroyUs = 0, exposeUs = 0;
  };

  // One login popup from its start to its unload, the hold skipped. Its queue is
  // emptied once the opening is over, as a program's message loop would between ticks.
  Run PlayLogin() {
    core_.Start(u"bench", 0, 15000, 14000);
    while (!core_.unloaded()) {
      PopupTimer next = PopupTimer::tmrEffect1;
      for (size_t i = 0; i < kPopupTimerCount; ++i)
        if (enabled_[i]) next = TimerAt(i);
      if (next != phase_ && phase_ == PopupTimer::tmrEffect1) run_.exposeUs += Pump();
      phase_ = next;
      core_.Timer(next);
    }
    const LONGLONG start = NowUs();
    window_.reset();
    run_.destroyUs = NowUs() - start;
    return run_;
  }

 private:
  static LONGLONG Pump() {
    const LONGLONG start = NowUs();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return NowUs() - start;
  }

  void Load() override {
    const LONGLONG start = NowUs();
    static const bool registered = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = &DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"TindraBenchBareWindow";
      return RegisterClassW(&wc) != 0;
    }();
    if (!registered) Raise(kErrInvalidPropertyValue);
    window_.reset(CreateWindowExW(win32::kPopupFrameExStyle, L"TindraBenchBareWindow", L"",
                                  win32::kPopupFrameStyle, 0, 0, ToWindowPixels(kPopupWidth, tpp_),
                                  ToWindowPixels(kPopupMaxHeight, tpp_), nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr));
    if (!window_) Raise(kErrInvalidPropertyValue);
    run_.createUs = NowUs() - start;
    core_.Form_Load();
  }
  RECT Rect() const {
    RECT r{};
    GetWindowRect(window_.get(), &r);
    return r;
  }
  float Left() override { return FromWindowPixels(Rect().left, tpp_); }
  float Top() override { return FromWindowPixels(Rect().top, tpp_); }
  float Width() override { return FromWindowPixels(Rect().right - Rect().left, tpp_); }
  float Height() override { return FromWindowPixels(Rect().bottom - Rect().top, tpp_); }
  void Move(float left, float top, float width, float height) override {
    const LONGLONG start = NowUs();
    SetWindowPos(window_.get(), nullptr, ToWindowPixels(left, tpp_), ToWindowPixels(top, tpp_),
                 std::max(0, ToWindowPixels(width, tpp_)),
                 std::max(0, ToWindowPixels(height, tpp_)), win32::kPopupMoveFlags);
    run_.moveUs += NowUs() - start;
    if (phase_ == PopupTimer::tmrEffect1) ++run_.opening;
    if (phase_ == PopupTimer::tmrEffect2) ++run_.closing;
  }
  void ShowLook(const PopupLook&) override {}
  void SetTimerInterval(PopupTimer, int32_t) override {}
  void SetTimerEnabled(PopupTimer timer, bool enabled) override {
    enabled_[TimerIndex(timer)] = enabled;
  }
  void ShowTopmost() override {
    const LONGLONG start = NowUs();
    SetWindowPos(window_.get(), HWND_TOPMOST, 0, 0, 0, 0, win32::kPopupShowTopmostFlags);
    run_.showUs = NowUs() - start;
  }
  void Announce(const std::u16string&) override {}  // the floor counts window moves only
  void Unload() override { core_.Form_Unload(); }
  // Every setting at its default: the floor always plays the whole sequence.
  DisplayPreferences Preferences() override { return {}; }

  int32_t popupCount_ = 0;  // the popup's count of loaded popups: it alone
  FrmTindra core_;
  win32::UniqueWindow window_;
  float tpp_ = win32::TwipsPerPixelY();
  bool enabled_[kPopupTimerCount] = {};
  PopupTimer phase_ = PopupTimer::tmrEffect1;
  Run run_;
};

std::string MoveCost(std::istringstream& in) {
  int times = 20;
  in >> times;
  times = std::max(1, times);
  BareWindow::Run run;  // every run makes the same moves
  BareWindow::Run sum;
  for (int i = 0; i < times; ++i) {
    run = BareWindow().PlayLogin();
    sum.moveUs += run.moveUs;
    sum.createUs += run.createUs;
    sum.showUs += run.showUs;
    sum.destroyUs += run.destroyUs;
    sum.exposeUs += run.exposeUs;
  }
  const int moves = std::max(1, (run.opening + run.closing) * times);
  std::ostringstream out;
  out << "movecost " << run.opening << ' ' << run.closing << ' '
      << static_cast<double>(sum.moveUs) / moves;
  for (LONGLONG us : {sum.createUs, sum.showUs, sum.destroyUs, sum.exposeUs})
    out << ' ' << static_cast<double>(us) / times;
  return out.str();
}

// The section Tindra keeps its step counters in; made before Tindra takes a poke.
class SharedCounters {
 public:
  std::string Reply() const {
    const win32::StepCounters* view = section_.view();
    if (!view) return "counters none";
    static const char* const names[] = {"move",  "draw",   "popup", "create", "show",   "unload",
                                        "paint", "ticker", "look",  "poke",   "waiting"};
    static_assert(std::size(names) == static_cast<size_t>(win32::Work::kCount));
    std::ostringstream out;
    out << "counters";
    const auto waiting = static_cast<size_t>(win32::Work::kWaiting);
    for (size_t i = 0; i < std::size(names); ++i) {
      int64_t us = view->work[i].us;
      // The wait going on now, up to this moment (the same counter in both programs).
      const int64_t since = view->waitingSinceUs;
      if (i == waiting && since) us += win32::CounterUs() - since;
      out << ' ' << names[i] << '=' << view->work[i].count << ':' << us;
    }
    out << " late=" << view->lateTicks << ':' << view->lateUs;
    return out.str();
  }

 private:
  test::StepCountersSection section_;
};

class Bench {
 public:
  std::string Handle(const std::string& line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "clock") return "clock " + std::to_string(NowUs());
    if (command == "connect") {
      int seconds = 30;
      in >> seconds;
      poke::PokeRequest request;
      request.connectWaitMs = static_cast<DWORD>(seconds) * 1000;
      const poke::PokeOutcome outcome = conversation_.Connect(request);
      if (outcome == poke::PokeOutcome::kAcknowledged) return "connected";
      return std::string("failed ") + poke::OutcomeText(outcome);
    }
    if (command == "poke") {
      std::string text;
      std::getline(in >> std::ws, text);
      const LONGLONG sent = NowUs();
      const poke::PokeOutcome outcome = Poke(text);
      const LONGLONG acked = NowUs();
      return "ack " + std::to_string(sent) + " " + std::to_string(acked) + " " +
             (outcome == poke::PokeOutcome::kAcknowledged ? "ok" : poke::OutcomeText(outcome));
    }
    if (command == "burst") return Burst(in);
    if (command == "flood") return Flood(in);
    if (command == "close") return "closed " + std::to_string(ClickEveryPopup());
    if (command == "count") return Counts();
    if (command == "movecost") return MoveCost(in);
    if (command == "counters") return counters_.Reply();
    return "error unknown command";
  }

 private:
  // `text` is UTF-8; it goes out as CF_TEXT in the ANSI code page, as the messenger sends.
  poke::PokeOutcome Poke(const std::string& text) {
    return conversation_.Poke(CF_TEXT, poke::TextData(Utf8ToUtf16(text), false));
  }

  // What `count` pokes back to back gave.
  struct Pokes {
    int acked = 0, refused = 0;
    LONGLONG first = 0, last = 0;
    std::vector<LONGLONG> latencies;
  };
  template <typename Text>
  Pokes PokeMany(int count, Text text) {
    Pokes p;
    p.first = p.last = NowUs();
    for (int i = 0; i < count; ++i) {
      const LONGLONG sent = NowUs();
      const poke::PokeOutcome outcome = Poke(text(i));
      if (outcome == poke::PokeOutcome::kAcknowledged) ++p.acked;
      if (outcome == poke::PokeOutcome::kRefused) ++p.refused;
      p.last = NowUs();
      p.latencies.push_back(p.last - sent);
    }
    return p;
  }

  std::string Burst(std::istringstream& in) {
    int count = 0;
    std::string prefix;
    in >> count >> prefix;
    const Pokes p = PokeMany(count, [&](int i) {
      char number[8];
      std::snprintf(number, sizeof number, "%03d", i);
      return "0;" + prefix + number;
    });
    std::string out = "burst " + std::to_string(p.acked) + " " + std::to_string(p.first) + " " +
                      std::to_string(p.last) + " ";
    for (size_t i = 0; i < p.latencies.size(); ++i) {
      if (i) out += ',';
      out += std::to_string(p.latencies[i]);
    }
    return out;
  }

  std::string Flood(std::istringstream& in) {
    int count = 0;
    size_t chars = 0;
    in >> count >> chars;
    const std::string tail(chars, 'x');
    const Pokes p = PokeMany(count, [&](int i) { return "2;flood " + std::to_string(i) + tail; });
    const LONGLONG slowest =
        p.latencies.empty() ? 0 : *std::max_element(p.latencies.begin(), p.latencies.end());
    return "flood " + std::to_string(p.acked) + " " + std::to_string(p.refused) + " " +
           std::to_string(p.first) + " " + std::to_string(p.last) + " " + std::to_string(slowest);
  }

  SharedCounters counters_;
  poke::DdeConversation conversation_;
};

}  // namespace

int main() {
  Bench bench;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, stdin)) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line == "quit") break;
    std::printf("%s\n", bench.Handle(line).c_str());
    std::fflush(stdout);
  }
  return 0;
}
