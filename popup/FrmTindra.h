#pragma once
// The behaviour of one notification popup, independent of the window system: the
// texts and colours per kind of notification, the placement done by Start, and the
// open / hold / close effect sequence driven by the four timers. The popup keeps its
// own rectangle and tells its window (Windows, or a fake in tests), reached through
// PopupWindow, what to do: one call per effect step. Last, the schedule on which the
// timers of every open popup tick (TickSchedule).
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/numeric.h"

namespace tindra {

// A popup's design width, and its design (and largest) height, in twips; the shell
// places and stacks the popups by them.
inline constexpr int32_t kPopupWidth = 2685;
inline constexpr int32_t kPopupMaxHeight = 1965;

// Popups stand in one column whose left edge is kPopupWidth + kPopupColumnGap left of
// the work area's right edge; stacking slots are kSlotPitch apart.
inline constexpr int32_t kPopupColumnGap = 100;
inline constexpr int32_t kSlotPitch = 1985;

// Colours in the platform's 0x00BBGGRR order.
constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint32_t>(r) | (static_cast<uint32_t>(g) << 8) |
         (static_cast<uint32_t>(b) << 16);
}

inline constexpr uint32_t kLabelBlue = Rgb(32, 135, 249);  // design colour of both labels
inline constexpr uint32_t kLogoutRed = Rgb(255, 0, 0);
inline constexpr uint32_t kNoticeGreen = Rgb(0, 192, 0);
inline constexpr uint32_t kNoteBackground = Rgb(240, 255, 255);

// Design geometry of the popup's controls, in twips (the window's own size is
// kPopupWidth x kPopupMaxHeight).
struct TwipsBox {
  int32_t left, top, width, height;
};
inline constexpr TwipsBox kPicture1Box{0, 0, 2715, 1980};
inline constexpr TwipsBox kPicNoteBox{285, 1215, 480, 480};
inline constexpr TwipsBox kLblNameBox{90, 465, 2490, 210};
inline constexpr TwipsBox kLblDescBox{45, 765, 2490, 240};
inline constexpr double kLabelFontPoints = 9.75;

// Effect constants.
inline constexpr int32_t kEffectIntervalMs = 10;
inline constexpr int32_t kHoldIntervalMs = 2000;
inline constexpr float kOpenStep = 50.0f;
inline constexpr float kOpenEndHeight = 1950.0f;
inline constexpr float kCollapseStep = 50.0f;
inline constexpr float kCollapseEndHeight = 50.0f;
inline constexpr float kShrinkEdgeStep = 50.0f;
inline constexpr float kShrinkEndSize = 100.0f;

// What a popup shows for one notification.
struct PopupLook {
  std::u16string nameText;
  std::u16string descText;
  uint32_t nameColor = kLabelBlue;
  uint32_t descColor = kLabelBlue;
  bool noteVisible = false;
  // Picture1's background: the artwork on white, or one plain colour.
  std::optional<uint32_t> background;
  uint32_t noteBackground = kNoteBackground;
  // A one-pixel border round the window, in this colour; none when empty.
  std::optional<uint32_t> frame;
  bool operator==(const PopupLook&) const = default;
};

// The look for iMode: 0 login, 1 logout, anything else a plain notice (sName alone,
// green, with the envelope icon).
PopupLook LookForMode(const std::u16string& sName, int16_t iMode);

// The system's colours that a popup is drawn in while high contrast is on.
struct SystemColors {
  uint32_t window;       // COLOR_WINDOW
  uint32_t windowText;   // COLOR_WINDOWTEXT
  uint32_t highlight;    // COLOR_HIGHLIGHT
  uint32_t windowFrame;  // COLOR_WINDOWFRAME
  bool operator==(const SystemColors&) const = default;
};

// `look` in the system's colours: the background and the envelope's box in the window
// colour, the text in the window text colour except what the mode colours (a logout's
// red line, a notice's green one), which takes the highlight colour, and a border in the
// frame colour. Texts, envelope and layout stay as they are.
PopupLook InSystemColors(const PopupLook& look, const SystemColors& colors);

// Windows' own length of a notification ("Show notifications for", 5 s as Windows ships
// it) and the longest it offers (5 minutes).
inline constexpr uint32_t kDefaultMessageDurationS = 5;
inline constexpr uint32_t kLongestMessageDurationS = 300;

// What the user has asked of every window through the system's settings.
struct DisplayPreferences {
  // Windows may animate ("Show animations in Windows"). Off: a popup appears at its
  // full size and disappears at the end of its hold, without an effect.
  bool animations = true;
  // High contrast is on, with these colours.
  std::optional<SystemColors> highContrast;
  // How long notifications show ("Show notifications for"), in seconds.
  uint32_t messageDurationS = kDefaultMessageDurationS;
  bool operator==(const DisplayPreferences&) const = default;
};

// How long a popup holds: its 2000 ms, or the user's message duration when that is
// longer than Windows' default of 5 s (at most 5 minutes).
int32_t HoldMs(const DisplayPreferences& preferences);

// What the popup says, in its own words, for a screen reader: the name line, then
// the description line when there is one ("김민준님이 로그인 하였습니다.").
std::u16string SpokenText(const PopupLook& look);

// The popup window's own text, where tools read what it shows: the name line and the
// description line joined by CR LF ("test님이\r\n로그인 하였습니다."), or the name
// line alone when there is no description (a notice).
std::u16string WindowText(const PopupLook& look);

// The popup's four timers.
enum class PopupTimer { tmrEffect1, tmrDelay, tmrEffect2, tmrEffect3 };
inline constexpr size_t kPopupTimerCount = 4;

// A timer's number among the popup's timers (0 to 3), and back: the one place where
// timers and numbers meet.
inline constexpr size_t TimerIndex(PopupTimer timer) { return static_cast<size_t>(timer); }
inline constexpr PopupTimer TimerAt(size_t index) { return static_cast<PopupTimer>(index); }

// Interval of each timer when the window is created (0: it cannot fire).
int32_t InitialInterval(PopupTimer timer);

// A window's place and size in whole pixels, as the window system keeps them.
struct PixelRect {
  int32_t left, top, width, height;
  int32_t bottom() const { return top + height; }
  bool operator==(const PixelRect&) const = default;
};

// A point of the screen, in pixels.
struct ScreenPoint {
  int32_t x, y;
  bool operator==(const ScreenPoint&) const = default;
};

// A point of the popup's window, in pixels from its top-left corner.
struct WindowPoint {
  int32_t x, y;
};

// A box of the window's pixels: left and top inside it, right and bottom just outside.
struct PixelBox {
  int32_t left, top, right, bottom;
  bool Contains(const WindowPoint& at) const {
    return at.x >= left && at.x < right && at.y >= top && at.y < bottom;
  }
  bool operator==(const PixelBox&) const = default;
};

// The controls' boxes in the window's pixels, laid out as child windows of that size
// would be: left, top, width and height each rounded from twips. Picture1 stands at the
// window's top-left corner and covers it; the others stand on it.
struct PopupBoxes {
  PixelBox picture1, note, name, desc;
  bool operator==(const PopupBoxes&) const = default;
};
PopupBoxes LayOutBoxes(PixelScale scale);

// The parts of the popup that take clicks, each where its control stands.
enum class PopupPart { kNone, kPicture1, kPicNote, kLblName, kLblDesc };

// A popup's place and size in twips, in single precision, as its effects compute them.
struct PopupRect {
  float left, top, width, height;
  bool operator==(const PopupRect&) const = default;
};

// One tick of each effect on a popup that stands at `r`: where the popup moves, or
// nothing when the effect ends on this tick, without a move.
// Opening (tmrEffect1): 50 up and 50 taller while it is under 1950 high; no clamping.
std::optional<PopupRect> OpeningStep(const PopupRect& r);
// Collapsing (tmrEffect2): 50 down and 50 lower while it is over 50 high.
std::optional<PopupRect> CollapseStep(const PopupRect& r);
// Shrinking (tmrEffect3): each edge 50 inwards, width and height at least 0, while the
// new width and height add up to more than 100.
std::optional<PopupRect> ShrinkStep(const PopupRect& r);

// What the popup's code asks of its window. The popup keeps its own rectangle: the
// window is told where it goes and never asked where it is.
class PopupWindow {
 public:
  virtual ~PopupWindow() = default;
  // Creates the window, hidden, at `rect`, with its controls. Raises AppError when it
  // fails. Called once, first.
  virtual void Create(const PixelRect& rect) = 0;
  // Moves the window to `rect`, position and size together in one window operation, and
  // draws the rows it gains.
  virtual void Move(const PixelRect& rect) = 0;
  // Shows `look`: the labels' texts and colours and the envelope, and, as the window's
  // own text where tools read what the popup shows, WindowText(look); a window already
  // shown is painted again. Raises AppError when the window is not created.
  virtual void ShowLook(const PopupLook& look) = 0;
  virtual void SetTimerInterval(PopupTimer timer, int32_t milliseconds) = 0;
  virtual void SetTimerEnabled(PopupTimer timer, bool enabled) = 0;
  // Makes the window topmost and visible without activating it; the result of the
  // platform call is ignored.
  virtual void ShowTopmost() = 0;
  // Tells assistive technology that the shown popup says `text`: from now on the
  // accessible name of its client area, announced once as an alert. Never raises.
  virtual void Announce(const std::u16string& text) = 0;
  // Unloads the window: FrmTindra::Form_Unload runs, the window goes away and
  // the instance may be deleted. The caller must not touch the popup afterwards.
  virtual void Unload() = 0;
  // The system's settings as they are now, read afresh on every call. Never raises.
  virtual DisplayPreferences Preferences() = 0;
  // Where the pointer is now, or nothing when the system cannot tell. Never raises.
  virtual std::optional<ScreenPoint> PointerPosition() = 0;
  // The pointer is on the window now: asks the system to tell when it leaves
  // (FrmTindra::Form_MouseLeave). False when the pointer is not on the window, or its
  // leave cannot be told: nothing will then come. Never raises.
  virtual bool TrackPointerLeave() = 0;
};

// The code of the popup form. One instance per popup; its window calls the event
// handlers below, one at a time, on the user-interface thread. `popupCount` is the
// count of loaded popups that the program keeps (gPopupCount): each popup raises it
// when it loads and lowers it when it unloads.
class FrmTindra {
 public:
  // `scale` is the screen's, on which the window's pixels lie.
  FrmTindra(PopupWindow& window, int32_t& popupCount, PixelScale scale);

  // Loads the window (created at its design size; the count += 1), fills in the texts for
  // iMode (and the window's text), places the window with its left edge at nSX and its
  // bottom edge at nSY (twips), starts the first effect timer, shows the window topmost and
  // announces it (SpokenText). Reads the window's Preferences: with animations off every
  // mode is placed at full size and holds at once, as a logout is; with high contrast on
  // the look is InSystemColors; the hold lasts HoldMs. Reads where the pointer is, as
  // the popup appears.
  void Start(const std::u16string& sName, const int16_t& iMode, const int32_t& nSX,
             const int32_t& nSY);

  // Unload event: stops tmrEffect1, tmrEffect2, tmrEffect3 and tmrDelay, in that
  // order, then the count -= 1. Runs once; later calls do nothing.
  void Form_Unload();

  // Timer events. After the unload they do nothing. A handler that unloads the
  // window returns without touching the instance again.
  void tmrEffect1_Timer();
  void tmrDelay_Timer();
  void tmrEffect2_Timer();
  void tmrEffect3_Timer();
  // The Timer event of `timer`: one of the four above.
  void Timer(PopupTimer timer);

  // Click events: Picture1 and lblName unload the popup; lblDesc and picNote have
  // no action.
  void Picture1_Click();
  void lblName_Click();

  // The mouse's button went down at `at`: the part on top there is pressed, in the
  // order the controls stack: the envelope (only while it is shown), the name line,
  // the description line, then Picture1. Every part takes its own clicks; those
  // without an action absorb them.
  void Form_MouseDown(const WindowPoint& at);
  // The button came up at `at`: the part clicked, when the button went down on that
  // same part, as a control's own window counts a click; none otherwise. The press ends.
  PopupPart Form_MouseUp(const WindowPoint& at);
  // The press is lost (another window took the mouse): no click follows it.
  void Form_PressLost() { pressed_ = PopupPart::kNone; }
  // The click event of `part` (may unload).
  void Form_Click(PopupPart part);
  // The part on top at `at`, none outside the window.
  PopupPart PartAt(const WindowPoint& at) const;
  const PopupBoxes& boxes() const { return boxes_; }

  // The pointer moved over the window, to `at` on the screen; the window system also
  // says so when the window comes to stand under a pointer that rests. Only a pointer
  // that the user moved onto the popup after it appeared holds it: one whose position
  // differs from where the pointer was when the popup appeared, or at the last move
  // told. While such a pointer is on the window (its leave tracked) the popup does not
  // start to close: a hold that ends meanwhile waits, and when the pointer leaves
  // (Form_MouseLeave) during the hold, the hold starts again in full. An opening or a
  // closing already under way goes on. A pointer resting where a popup appears holds
  // nothing.
  void Form_MouseMove(const ScreenPoint& at);
  void Form_MouseLeave();

  // The user is away from the keyboard (no input for a while), or has come back. While
  // away, no hold ends: a hold that ends meanwhile waits, at full size. On the user's
  // return the hold starts again in full, unless the pointer holds it. A click still
  // closes the popup at once. May be told before Start.
  void Form_UserAway();
  void Form_UserBack();

  // The system's settings may have changed: the window's Preferences are read again. A
  // hold that ends from now on ends as they say (an effect already under way, which
  // lasts under half a second, finishes), a hold that begins from now on lasts as long
  // as they say; a change of high contrast shows the look again in the new colours.
  void Form_SettingChange();

  bool loaded() const { return loaded_; }
  bool unloaded() const { return unloaded_; }

 private:
  enum class Phase { kCreated, kOpening, kHolding, kClosing };
  // Load event: the count += 1 (Overflow past the 32-bit range).
  void Form_Load();
  void BeginHold();
  // Gives tmrDelay the hold that the preferences ask for, when it has another.
  void SetHoldInterval();
  // The hold, when the popup holds or waits at the end of its hold, starts again in full
  // unless something still holds it.
  void RestartHold();
  // The pointer or the user's absence keeps the hold from ending.
  bool HoldIsKept() const { return pointerOver_ || userAway_; }
  // The rectangle in twips, as the window holds it.
  PopupRect Place() const;
  // Moves the window to `r`, rounded to whole pixels as the window system keeps it.
  void MoveTo(const PopupRect& r);
  // An effect timer's tick: moves to `next`, or with no step left stops `timer` and
  // returns false, for the caller's end of the effect.
  bool EffectStep(PopupTimer timer, const std::optional<PopupRect>& next);
  PopupLook LookIn(const DisplayPreferences& preferences) const;
  // The box of `part` (Picture1's for none).
  const PixelBox& BoxOf(PopupPart part) const;

  PopupWindow& window_;
  int32_t& popupCount_;
  PixelScale scale_;
  PopupBoxes boxes_;
  PixelRect rect_;                        // where the window is
  PopupPart pressed_ = PopupPart::kNone;  // where the button went down, while it is held
  int16_t iPopupMode_ = 0;
  bool loaded_ = false;
  bool unloaded_ = false;
  Phase phase_ = Phase::kCreated;
  // The pointer is on the window, moved there by the user, and its leave is tracked.
  bool pointerOver_ = false;
  // Where the pointer was when the popup appeared, then at the last move told.
  std::optional<ScreenPoint> pointerAt_;
  bool userAway_ = false;
  // tmrDelay's interval, as last given to the window.
  int32_t holdIntervalMs_ = kHoldIntervalMs;
  PopupLook look_;  // in the design's colours
  DisplayPreferences preferences_;
};

// The logical timers of every open popup, driven by one periodic platform timer.
// Each logical timer keeps its own interval and fires on its own, as a platform
// timer would; what is shared is only the source of the ticks, so that the window
// system delivers one timer message per period however many popups are running.
//
// A timer armed at time t with interval i is due at t + i. It fires once at the first
// source tick at or after its due time less half a source period (the source's own
// jitter must not make it skip a period), and is then due one interval after that
// tick. Times are milliseconds on any steady clock. One thread only.
class TickSchedule {
 public:
  // `owner` names whoever handles the timer (a popup) by a number that NewOwner gave
  // it, never one of another owner's, even one gone long ago: a tick taken for an owner
  // that has gone cannot reach another; `timer` tells its timers apart.
  struct Key {
    uint64_t owner;
    int timer;
    auto operator<=>(const Key&) const = default;
  };

  explicit TickSchedule(int32_t periodMs) : periodMs_(periodMs) {}

  // A number for a new owner: never 0, and never given before by this schedule.
  uint64_t NewOwner() { return ++lastOwner_; }

  // (Re)starts a timer: due `intervalMs` after `nowMs`. An interval of 0 or less
  // stops it, as such a platform timer cannot fire.
  void Arm(Key key, int32_t intervalMs, double nowMs);
  void Disarm(Key key);
  void DisarmAll(uint64_t owner);
  bool IsArmed(Key key) const;
  bool empty() const { return timers_.empty(); }

  // The timers that fire at a source tick at `nowMs`, earliest due first (armed
  // earlier first when equal); each is due again one interval after `nowMs`.
  std::vector<Key> TakeDue(double nowMs);

  // How long the source may wait from `nowMs` before its next tick: one period
  // while a timer is due within it, longer when every timer is due later, -1 when
  // nothing is armed.
  int32_t NextDelayMs(double nowMs) const;

 private:
  struct Timer {
    Key key;
    int32_t intervalMs;
    double dueMs;
    uint64_t sequence;  // order of arming, for timers due at the same moment
  };
  std::vector<Timer> timers_;
  int32_t periodMs_;
  uint64_t nextSequence_ = 0;
  uint64_t lastOwner_ = 0;
};

}  // namespace tindra
