#pragma once
// The notification intake of the main form: reading a poked message and the rule
// that stacks popups upward from the bottom of the desktop work area. Portable.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/popup_geometry.h"
#include "common/twips.h"

namespace tindra {

// A wrapped popup stands this far above slot 0.
inline constexpr int32_t kWrapLift = 20;

// The most of a name a popup keeps, shows and announces, in UTF-16 code units. The
// name line is 2490 twips wide (166 pixels at 96 dpi) and shows one line of 9.75-point
// (13-pixel) type: even a line of the narrowest letters (i, l: about 3 pixels) holds
// no more than about 55. 128 keeps everything that can show with room to spare, and a
// flood of long pokes cannot make the popups or the waiting line large.
inline constexpr size_t kMaxNameUnits = 128;
// A whole message: the mode, the separator and the longest name.
inline constexpr size_t kMaxMessageUnits = kMaxNameUnits + 2;

// The popups open at once. Well above what anyone reads at a time (a column holds 7 on a
// 1024-pixel screen, 16 on a 2160-pixel one), so ordinary traffic, bursts of a few dozen
// included, never meets it, and low enough that every popup keeps its own pace (each
// step is a window move) and a flood stays far from the 10,000 window and GDI objects
// a process may hold.
inline constexpr int32_t kMaxOpenPopups = 64;
// The notifications that may wait for a popup: beyond the cap above, or while the
// user should not be disturbed. Four times the open cap: as fast as popups can go
// (each step a window move), a full line is shown in about a minute, and it holds at
// most 256 short names. Past it, a poke is refused, so that a messenger can tell and
// try again.
inline constexpr size_t kMaxWaiting = 256;

// `text` cut to at most `maxUnits` UTF-16 code units, never between the two halves
// of a surrogate pair (the cut is then one unit shorter).
std::u16string_view CutText(std::u16string_view text, size_t maxUnits);

// What one text of lblDDE asks for.
struct DdeMessage {
  enum class Kind { kNothing, kEnd, kNotification };
  Kind kind = Kind::kNothing;
  int16_t iMode = 0;     // digit of the first character, 0 for any other character
  std::u16string sName;  // from the third character on (the second is a separator)
};

// "" is nothing, exactly "end" closes the program, anything else is a notification.
// The name is cut to kMaxNameUnits.
DdeMessage ParseDdeMessage(std::u16string_view text);

// Where the next popup's lower edge goes, in screen twips, and the slot after it.
// `bottom` is the work area's bottom edge; `popupCount` the popups loaded now
// (0 restarts the stack at slot 0). Updates nSlot. 32-bit checked arithmetic:
// Overflow rather than a wrapped value.
int32_t NextPopupY(int32_t bottom, int32_t& nSlot, int32_t popupCount);

}  // namespace tindra
