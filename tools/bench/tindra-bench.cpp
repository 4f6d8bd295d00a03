// tindra-bench: the messenger's side of the benchmark (scripts/bench.py), and its floor.
// Holds one DDE conversation with a running Tindra and answers commands read line by
// line from standard input, one line of reply each. Times are the performance counter in
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
//   floor N [US,...]      -> floor T_FIRST T_GONE CREATED MOST_OPEN MOVES DRAWS | floor failed
//                            (N login popups on the floor's bare windows, popup i let in
//                            no earlier than the i-th US after the start; see FloorBurst)
//   counters              -> counters NAME=COUNT:US ... late=TICKS:US
//                            (Tindra's step counters, see common/win32/window.h)
//   quit
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/FrmMain.h"
#include "app/win32/FrmMain_win32.h"
#include "common/errors.h"
#include "common/text.h"
#include "common/win32/dde_client.h"
#include "common/win32/handle.h"
#include "common/win32/window.h"
#include "popup/FrmTindra.h"
#include "popup/win32/FrmTindra_win32.h"
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

// The floor: what any program pays that shows a burst's notifications as Tindra does,
// each in a window of its own that grows by rows, holds and collapses. Its popups are
// played by the popup's own code (FrmTindra: the steps and their sizes) and ticked by
// the popups' own ticker (PopupTicker, with the timers each popup keeps); they are placed and let
// in by the program's own rules (NextPopupY, at most kMaxOpenPopups open, the rest waiting in
// line). A step that gains rows copies them from one plain memory picture. Nothing else: no
// artwork, text, accessibility or settings. Single-threaded, like the program's user-interface
// thread.
class FloorBurst {
 public:
  struct Result {
    LONGLONG firstUs = 0, goneUs = 0;
    int created = 0, mostOpen = 0, moves = 0, draws = 0;
  };

  // Plays `count` login popups; popup i is let in no earlier than starts[i]
  // microseconds after the start (at once where starts has no entry).
  Result Play(int count, const std::vector<LONGLONG>& starts);

 private:
  class Popup;
  void Prepare();
  void LetIn(int count, const std::vector<LONGLONG>& starts);

  static constexpr wchar_t kClass[] = L"TindraBenchFloorWindow";
  std::vector<std::unique_ptr<Popup>> open_;
  int32_t popupCount_ = 0;  // the popups loaded, as the program counts them
  int32_t slot_ = 0;
  int32_t left_ = 0, bottom_ = 0;  // the column's left edge, the work area's bottom (twips)
  float tppX_ = win32::ScreenScale().x;
  float tpp_ = win32::ScreenScale().y;
  win32::UniqueBitmap canvas_;
  win32::UniqueDc canvasDc_;  // after canvas_: freed first, while the bitmap is selected
  Result result_;
  int next_ = 0;  // the next popup to let in
};

class FloorBurst::Popup final : private PopupWindow, private win32::TickTarget {
 public:
  explicit Popup(FloorBurst& burst)
      : burst_(burst), core_(*this, burst.popupCount_, PixelScale{burst.tppX_, burst.tpp_}) {}
  ~Popup() override { win32::PopupTicker::Instance().DisarmAll(*this); }
  Popup(const Popup&) = delete;
  Popup& operator=(const Popup&) = delete;

  void Start(int32_t nSX, int32_t nSY) { core_.Start(u"floor", 0, nSX, nSY); }
  bool gone() const { return core_.unloaded(); }

 private:
  void Create(const PixelRect& rect) override {
    window_.reset(CreateWindowExW(win32::kPopupFrameExStyle, kClass, L"", win32::kPopupFrameStyle,
                                  rect.left, rect.top, rect.width, rect.height, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr));
    if (!window_) Raise(kErrInvalidPropertyValue);
    ++burst_.result_.created;
  }
  void Move(const PixelRect& rect) override {
    SetWindowPos(window_.get(), nullptr, rect.left, rect.top, rect.width, rect.height,
                 win32::kPopupMoveFlags);
    ++burst_.result_.moves;
    // The rows gained, once the window shows; the rows that stay keep their pixels.
    if (shown_ && rect.height > drawnRows_ && rect.width > 0) {
      win32::WindowDc dc(window_.get(), DCX_CACHE);
      if (dc)
        BitBlt(dc.get(), 0, drawnRows_, rect.width, rect.height - drawnRows_,
               burst_.canvasDc_.get(), 0, drawnRows_, SRCCOPY);
      ++burst_.result_.draws;
    }
    drawnRows_ = shown_ ? rect.height : 0;
  }
  void ShowLook(const PopupLook&) override {}
  void SetTimerInterval(PopupTimer timer, int32_t milliseconds) override {
    SetInterval(timer, milliseconds);
  }
  void SetTimerEnabled(PopupTimer timer, bool enabled) override { SetEnabled(timer, enabled); }
  void ShowTopmost() override {
    SetWindowPos(window_.get(), HWND_TOPMOST, 0, 0, 0, 0, win32::kPopupShowTopmostFlags);
    shown_ = true;
  }
  void Announce(const std::u16string&) override {}
  void Unload() override {
    core_.Form_Unload();
    win32::PopupTicker::Instance().DisarmAll(*this);
    window_.reset();
  }
  // Every setting at its default: the floor always plays the whole sequence.
  DisplayPreferences Preferences() override { return {}; }
  // No pointer: the floor asks nothing of it, and no move ever holds a popup.
  std::optional<ScreenPoint> PointerPosition() override { return std::nullopt; }
  bool TrackPointerLeave() override { return false; }

  // An unloaded popup's ticks were all disarmed: none reaches it.
  void OnTick(int timer) override { core_.Timer(TimerAt(static_cast<size_t>(timer))); }

  FloorBurst& burst_;
  FrmTindra core_;
  win32::UniqueWindow window_;
  int drawnRows_ = 0;
  bool shown_ = false;
};

void FloorBurst::Prepare() {
  if (!win32::RegisterWindowClass({.name = kClass}, &DefWindowProcW))
    Raise(kErrInvalidPropertyValue);
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  bottom_ = PixelsToTwips(area.bottom, tpp_);
  left_ = PixelsToTwips(area.right, tpp_) - (kPopupWidth + kPopupColumnGap);
  // One picture, the popup's size, that every step's new rows come from.
  const int width = ToWindowPixels(kPopupWidth, tpp_);
  const int height = ToWindowPixels(kPopupMaxHeight, tpp_);
  win32::WindowDc screen;
  canvasDc_.reset(CreateCompatibleDC(screen.get()));
  canvas_.reset(CreateCompatibleBitmap(screen.get(), width, height));
  if (!canvasDc_ || !canvas_) Raise(kErrInvalidPropertyValue);
  SelectObject(canvasDc_.get(), canvas_.get());
  PatBlt(canvasDc_.get(), 0, 0, width, height, WHITENESS);
}

void FloorBurst::LetIn(int count, const std::vector<LONGLONG>& starts) {
  while (next_ < count && popupCount_ < kMaxOpenPopups &&
         (static_cast<size_t>(next_) >= starts.size() ||
          NowUs() - result_.firstUs >= starts[static_cast<size_t>(next_)])) {
    const int32_t y = NextPopupY(bottom_, slot_, popupCount_);
    open_.push_back(std::make_unique<Popup>(*this));
    open_.back()->Start(left_, y);
    ++next_;
    result_.mostOpen = std::max(result_.mostOpen, popupCount_);
  }
}

FloorBurst::Result FloorBurst::Play(int count, const std::vector<LONGLONG>& starts) {
  Prepare();
  result_.firstUs = NowUs();
  while (next_ < count || !open_.empty()) {
    LetIn(count, starts);
    DWORD wait = INFINITE;
    if (static_cast<size_t>(next_) < starts.size() && popupCount_ < kMaxOpenPopups) {
      const LONGLONG due = starts[static_cast<size_t>(next_)] - (NowUs() - result_.firstUs);
      wait = static_cast<DWORD>(std::max<LONGLONG>(0, (due + 999) / 1000));
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    std::erase_if(open_, [](const std::unique_ptr<Popup>& p) { return p->gone(); });
  }
  result_.goneUs = NowUs();
  return result_;
}

// floor N [START_US,...]: one burst of the floor, see FloorBurst.
std::string Floor(std::istringstream& in) {
  int count = 0;
  std::string list;
  in >> count >> list;
  FloorBurst::Result r;
  try {
    std::vector<LONGLONG> starts;
    std::istringstream items(list);
    for (std::string item; std::getline(items, item, ',');)
      if (!item.empty()) starts.push_back(std::stoll(item));
    r = FloorBurst().Play(std::max(0, count), starts);
  } catch (...) {
    return "floor failed";
  }
  std::ostringstream out;
  out << "floor " << r.firstUs << ' ' << r.goneUs << ' ' << r.created << ' ' << r.mostOpen << ' '
      << r.moves << ' ' << r.draws;
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
    if (command == "floor") return Floor(in);
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
