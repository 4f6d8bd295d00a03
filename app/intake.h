#pragma once
// The notification intake of the main form: reading a poked message and the rule
// that stacks popups upward from the bottom of the desktop work area. Portable.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/popup_geometry.h"
#include "common/twips.h"

namespace tindra {

// A wrapped popup stands this far above slot 0.
inline constexpr int32_t kWrapLift = 20;

// What one text of lblDDE asks for.
struct DdeMessage {
  enum class Kind { kNothing, kEnd, kNotification };
  Kind kind = Kind::kNothing;
  int16_t iMode = 0;     // digit of the first character, 0 for any other character
  std::u16string sName;  // from the third character on (the second is a separator)
};

// "" is nothing, exactly "end" closes the program, anything else is a notification.
DdeMessage ParseDdeMessage(std::u16string_view text);

// Where the next popup's lower edge goes, in screen twips, and the slot after it.
// `bottom` is the work area's bottom edge; `popupCount` the popups loaded now
// (0 restarts the stack at slot 0). Updates nSlot. 32-bit checked arithmetic:
// Overflow rather than a wrapped value.
int32_t NextPopupY(int32_t bottom, int32_t& nSlot, int32_t popupCount);

}  // namespace tindra
