#include "popup/FrmTindra.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/numeric.h"

namespace tindra {

namespace {
constexpr char16_t kNameSuffix[] = u"님이";
constexpr char16_t kLoginText[] = u"로그인 하였습니다.";
constexpr char16_t kLogoutText[] = u"로그아웃 하였습니다.";

bool CollapsesDownward(int16_t mode) { return mode == 0 || mode == 2; }
}  // namespace

PopupLook LookForMode(const std::u16string& sName, int16_t iMode) {
  PopupLook look;
  if (iMode == 0) {
    look.nameText = sName + kNameSuffix;
    look.descText = kLoginText;
  } else if (iMode == 1) {
    look.nameText = sName + kNameSuffix;
    look.descText = kLogoutText;
    look.descColor = kLogoutRed;
  } else {
    look.nameText = sName;
    look.nameColor = kNoticeGreen;
    look.noteVisible = true;
  }
  return look;
}

std::u16string SpokenText(const PopupLook& look) {
  if (look.descText.empty()) return look.nameText;
  return look.nameText + u' ' + look.descText;
}

std::u16string WindowText(const PopupLook& look) {
  if (look.descText.empty()) return look.nameText;
  return look.nameText + u"\r\n" + look.descText;
}

PopupLook InSystemColors(const PopupLook& look, const SystemColors& colors) {
  // What the mode colours (red, green) is set apart in the highlight colour; the
  // design's blue is plain text.
  const auto text = [&](uint32_t designed) {
    return designed == kLabelBlue ? colors.windowText : colors.highlight;
  };
  PopupLook out = look;
  out.nameColor = text(look.nameColor);
  out.descColor = text(look.descColor);
  out.background = colors.window;
  out.noteBackground = colors.window;
  out.frame = colors.windowFrame;
  return out;
}

int32_t HoldMs(const DisplayPreferences& preferences) {
  if (preferences.messageDurationS <= kDefaultMessageDurationS) return kHoldIntervalMs;
  return static_cast<int32_t>(std::min(preferences.messageDurationS, kLongestMessageDurationS)) *
         1000;
}

int32_t InitialInterval(PopupTimer timer) {
  return timer == PopupTimer::tmrDelay ? kHoldIntervalMs : 0;
}

std::optional<PopupRect> OpeningStep(const PopupRect& r) {
  if (r.height >= kOpenEndHeight) return std::nullopt;
  return PopupRect{r.left, r.top - kOpenStep, r.width, r.height + kOpenStep};
}

std::optional<PopupRect> CollapseStep(const PopupRect& r) {
  if (!(r.height > kCollapseEndHeight)) return std::nullopt;
  return PopupRect{r.left, r.top + kCollapseStep, r.width, r.height - kCollapseStep};
}

std::optional<PopupRect> ShrinkStep(const PopupRect& r) {
  const float width = std::max(r.width - 2 * kShrinkEdgeStep, 0.0f);
  const float height = std::max(r.height - 2 * kShrinkEdgeStep, 0.0f);
  // The sum is taken in single precision, as the stored values are.
  const float size = width + height;
  if (!(size > kShrinkEndSize)) return std::nullopt;
  return PopupRect{r.left + kShrinkEdgeStep, r.top + kShrinkEdgeStep, width, height};
}

FrmTindra::FrmTindra(PopupWindow& window, int32_t& popupCount, PixelScale scale)
    : window_(window),
      popupCount_(popupCount),
      scale_(scale),
      boxes_(LayOutBoxes(scale)),
      rect_{0, 0, ToWindowPixels(kPopupWidth, scale.x), ToWindowPixels(kPopupMaxHeight, scale.y)} {}

void FrmTindra::Start(const std::u16string& sName, const int16_t& iMode, const int32_t& nSX,
                      const int32_t& nSY) {
  iPopupMode_ = iMode;
  // The first use of a control loads the window: the count grows before any text is set.
  window_.Create(rect_);
  Form_Load();
  preferences_ = window_.Preferences();
  look_ = LookForMode(sName, iMode);
  window_.ShowLook(LookIn(preferences_));
  const PopupRect design = Place();
  const float left = static_cast<float>(nSX);
  if (iMode == 1 || !preferences_.animations) {
    // At full size at once: the window still has its design height.
    const float top = static_cast<float>(static_cast<double>(nSY) - design.height);
    MoveTo({left, top, design.width, design.height});
    BeginHold();
  } else {
    phase_ = Phase::kOpening;
    MoveTo({left, static_cast<float>(nSY), design.width, 0.0f});
    window_.SetTimerInterval(PopupTimer::tmrEffect1, kEffectIntervalMs);
    window_.SetTimerEnabled(PopupTimer::tmrEffect1, true);
  }
  window_.ShowTopmost();
  // Where the pointer rests as the popup appears: a move the window reports there is the
  // window's own arrival under it, not the user's.
  pointerAt_ = window_.PointerPosition();
  window_.Announce(SpokenText(look_));
}

PopupLook FrmTindra::LookIn(const DisplayPreferences& preferences) const {
  return preferences.highContrast ? InSystemColors(look_, *preferences.highContrast) : look_;
}

PopupRect FrmTindra::Place() const {
  return {FromWindowPixels(rect_.left, scale_.x), FromWindowPixels(rect_.top, scale_.y),
          FromWindowPixels(rect_.width, scale_.x), FromWindowPixels(rect_.height, scale_.y)};
}

void FrmTindra::MoveTo(const PopupRect& r) {
  const PixelRect to{ToWindowPixels(r.left, scale_.x), ToWindowPixels(r.top, scale_.y),
                     std::max(0, ToWindowPixels(r.width, scale_.x)),
                     std::max(0, ToWindowPixels(r.height, scale_.y))};
  window_.Move(to);
  rect_ = to;
}

void FrmTindra::BeginHold() {
  phase_ = Phase::kHolding;
  SetHoldInterval();
  window_.SetTimerEnabled(PopupTimer::tmrDelay, true);
}

void FrmTindra::SetHoldInterval() {
  // As Windows ships its settings the interval stays at its design value: never set.
  const int32_t hold = HoldMs(preferences_);
  if (hold == holdIntervalMs_) return;
  holdIntervalMs_ = hold;
  window_.SetTimerInterval(PopupTimer::tmrDelay, hold);
}

void FrmTindra::RestartHold() {
  if (!loaded_ || unloaded_ || phase_ != Phase::kHolding || HoldIsKept()) return;
  window_.SetTimerEnabled(PopupTimer::tmrDelay, false);
  SetHoldInterval();
  window_.SetTimerEnabled(PopupTimer::tmrDelay, true);
}

void FrmTindra::Form_Load() {
  popupCount_ = CheckedAdd<int32_t>(popupCount_, 1);
  loaded_ = true;
}

void FrmTindra::Form_Unload() {
  if (!loaded_ || unloaded_) return;
  unloaded_ = true;
  window_.SetTimerEnabled(PopupTimer::tmrEffect1, false);
  window_.SetTimerEnabled(PopupTimer::tmrEffect2, false);
  window_.SetTimerEnabled(PopupTimer::tmrEffect3, false);
  window_.SetTimerEnabled(PopupTimer::tmrDelay, false);
  popupCount_ = CheckedSub<int32_t>(popupCount_, 1);
}

bool FrmTindra::EffectStep(PopupTimer timer, const std::optional<PopupRect>& next) {
  if (next) {
    MoveTo(*next);
    return true;
  }
  window_.SetTimerEnabled(timer, false);
  return false;
}

void FrmTindra::tmrEffect1_Timer() {
  if (unloaded_ || EffectStep(PopupTimer::tmrEffect1, OpeningStep(Place()))) return;
  BeginHold();
}

void FrmTindra::tmrDelay_Timer() {
  if (unloaded_) return;
  window_.SetTimerEnabled(PopupTimer::tmrDelay, false);
  // The pointer is on the popup, or the user is away: the hold waits for the pointer to
  // leave (Form_MouseLeave) or the user to come back (Form_UserBack).
  if (HoldIsKept()) return;
  phase_ = Phase::kClosing;
  if (!preferences_.animations) {
    window_.Unload();  // may delete this instance
    return;
  }
  const PopupTimer closing =
      CollapsesDownward(iPopupMode_) ? PopupTimer::tmrEffect2 : PopupTimer::tmrEffect3;
  window_.SetTimerInterval(closing, kEffectIntervalMs);
  window_.SetTimerEnabled(closing, true);
}

void FrmTindra::tmrEffect2_Timer() {
  if (unloaded_ || EffectStep(PopupTimer::tmrEffect2, CollapseStep(Place()))) return;
  window_.Unload();  // may delete this instance
}

void FrmTindra::tmrEffect3_Timer() {
  if (unloaded_ || EffectStep(PopupTimer::tmrEffect3, ShrinkStep(Place()))) return;
  window_.Unload();  // may delete this instance
}

void FrmTindra::Timer(PopupTimer timer) {
  switch (timer) {
    case PopupTimer::tmrEffect1:
      tmrEffect1_Timer();
      break;
    case PopupTimer::tmrDelay:
      tmrDelay_Timer();
      break;
    case PopupTimer::tmrEffect2:
      tmrEffect2_Timer();
      break;
    case PopupTimer::tmrEffect3:
      tmrEffect3_Timer();
      break;
  }
}

void FrmTindra::Picture1_Click() {
  if (unloaded_) return;
  window_.Unload();  // may delete this instance
}

void FrmTindra::lblName_Click() { Picture1_Click(); }

PopupBoxes LayOutBoxes(PixelScale scale) {
  const auto box = [&](const TwipsBox& b) {
    const int32_t left = ToWindowPixels(b.left, scale.x);
    const int32_t top = ToWindowPixels(b.top, scale.y);
    return PixelBox{left, top, left + ToWindowPixels(b.width, scale.x),
                    top + ToWindowPixels(b.height, scale.y)};
  };
  return {box(kPicture1Box), box(kPicNoteBox), box(kLblNameBox), box(kLblDescBox)};
}

const PixelBox& FrmTindra::BoxOf(PopupPart part) const {
  switch (part) {
    case PopupPart::kPicNote:
      return boxes_.note;
    case PopupPart::kLblName:
      return boxes_.name;
    case PopupPart::kLblDesc:
      return boxes_.desc;
    default:
      return boxes_.picture1;
  }
}

PopupPart FrmTindra::PartAt(const WindowPoint& at) const {
  for (PopupPart part : {PopupPart::kPicNote, PopupPart::kLblName, PopupPart::kLblDesc}) {
    if (part == PopupPart::kPicNote && !look_.noteVisible) continue;
    if (BoxOf(part).Contains(at)) return part;
  }
  return boxes_.picture1.Contains(at) ? PopupPart::kPicture1 : PopupPart::kNone;
}

void FrmTindra::Form_MouseDown(const WindowPoint& at) { pressed_ = PartAt(at); }

PopupPart FrmTindra::Form_MouseUp(const WindowPoint& at) {
  const PopupPart pressed = std::exchange(pressed_, PopupPart::kNone);
  // Released on the box of the part pressed, whatever now stands in front of it.
  return pressed != PopupPart::kNone && BoxOf(pressed).Contains(at) ? pressed : PopupPart::kNone;
}

void FrmTindra::Form_Click(PopupPart part) {
  if (part == PopupPart::kPicture1) Picture1_Click();
  if (part == PopupPart::kLblName) lblName_Click();
}

void FrmTindra::Form_MouseMove(const ScreenPoint& at) {
  if (!loaded_ || unloaded_) return;
  // The window comes to stand under a resting pointer, or moves under it, at the same
  // position: that is no move of the user's.
  const bool moved = pointerAt_.has_value() && *pointerAt_ != at;
  pointerAt_ = at;
  if (!moved || pointerOver_) return;
  // Held only while the system will say when the pointer leaves: a popup whose leave
  // cannot be told is never held, so that it cannot stay for ever.
  pointerOver_ = window_.TrackPointerLeave();
}

void FrmTindra::Form_MouseLeave() {
  if (!pointerOver_) return;
  pointerOver_ = false;
  // The hold starts again in full: a pointer that rested on the popup was reading it
  // or about to click it, and the user gets the whole hold once more, as for a new
  // popup, to come back to it.
  RestartHold();
}

void FrmTindra::Form_UserAway() { userAway_ = true; }

void FrmTindra::Form_UserBack() {
  if (!userAway_) return;
  userAway_ = false;
  // Every popup that waited, or was holding, gives the returning user its whole hold.
  RestartHold();
}

void FrmTindra::Form_SettingChange() {
  if (!loaded_ || unloaded_) return;
  const DisplayPreferences now = window_.Preferences();
  if (now == preferences_) return;
  const bool recolour = now.highContrast != preferences_.highContrast;
  preferences_ = now;
  if (recolour) window_.ShowLook(LookIn(preferences_));
}

void TickSchedule::Arm(Key key, int32_t intervalMs, double nowMs) {
  Disarm(key);
  if (intervalMs <= 0) return;
  timers_.push_back({key, intervalMs, nowMs + intervalMs, nextSequence_++});
}

void TickSchedule::Disarm(Key key) {
  std::erase_if(timers_, [&](const Timer& t) { return t.key == key; });
}

void TickSchedule::DisarmAll(uint64_t owner) {
  std::erase_if(timers_, [&](const Timer& t) { return t.key.owner == owner; });
}

bool TickSchedule::IsArmed(Key key) const {
  return std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.key == key; });
}

std::vector<TickSchedule::Key> TickSchedule::TakeDue(double nowMs) {
  const double horizon = nowMs + periodMs_ / 2.0;
  std::vector<Timer*> due;
  for (Timer& t : timers_)
    if (t.dueMs <= horizon) due.push_back(&t);
  std::sort(due.begin(), due.end(), [](const Timer* a, const Timer* b) {
    return a->dueMs != b->dueMs ? a->dueMs < b->dueMs : a->sequence < b->sequence;
  });
  std::vector<Key> keys;
  keys.reserve(due.size());
  for (Timer* t : due) {
    t->dueMs = nowMs + t->intervalMs;
    keys.push_back(t->key);
  }
  return keys;
}

int32_t TickSchedule::NextDelayMs(double nowMs) const {
  if (timers_.empty()) return -1;
  double earliest = timers_.front().dueMs;
  for (const Timer& t : timers_) earliest = std::min(earliest, t.dueMs);
  // The tick that fires it may come half a period early.
  const double wait = earliest - periodMs_ / 2.0 - nowMs;
  return wait <= periodMs_ ? periodMs_ : static_cast<int32_t>(std::ceil(wait));
}

}  // namespace tindra
