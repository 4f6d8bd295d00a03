#pragma once
// Popup geometry shared by the shell, which places and stacks the popups, and the
// popup window itself; in twips.
#include <cstdint>

namespace tindra {

// A popup's design width, and its design (and largest) height.
inline constexpr int32_t kPopupWidth = 2685;
inline constexpr int32_t kPopupMaxHeight = 1965;

// Popups stand in one column whose left edge is kPopupWidth + kPopupColumnGap left of
// the work area's right edge; stacking slots are kSlotPitch apart.
inline constexpr int32_t kPopupColumnGap = 100;
inline constexpr int32_t kSlotPitch = 1985;

}  // namespace tindra
