#include "app/intake.h"

#include "common/numeric.h"

namespace tindra {

std::u16string_view CutText(std::u16string_view text, size_t maxUnits) {
  if (text.size() <= maxUnits) return text;
  size_t n = maxUnits;
  // A high surrogate as the last unit kept would lose its low half.
  if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  return text.substr(0, n);
}

DdeMessage ParseDdeMessage(std::u16string_view text) {
  DdeMessage m;
  if (text.empty()) return m;
  // Case-sensitive and whole: "End", "END" and "end " are ordinary notifications.
  if (text == u"end") {
    m.kind = DdeMessage::Kind::kEnd;
    return m;
  }
  m.kind = DdeMessage::Kind::kNotification;
  const char16_t first = text[0];
  m.iMode = (first >= u'0' && first <= u'9') ? static_cast<int16_t>(first - u'0') : 0;
  if (text.size() > 2) m.sName = std::u16string(CutText(text.substr(2), kMaxNameUnits));
  return m;
}

int32_t NextPopupY(int32_t bottom, int32_t& nSlot, int32_t popupCount) {
  // Freed slots are reused only once every popup has closed.
  if (popupCount == 0) nSlot = 0;
  int32_t y = CheckedSub(bottom, CheckedMul(nSlot, kSlotPitch));
  // Measured from the top of the screen: a popup standing on y must not reach above 0.
  if (y < kPopupMaxHeight) {
    y = CheckedSub(bottom, kWrapLift);
    nSlot = 1;
  } else {
    nSlot = CheckedAdd(nSlot, int32_t{1});
  }
  return y;
}

}  // namespace tindra
