#pragma once
// Popup geometry shared by the shell, which places and stacks the popups, and the
// popup window itself; in twips.
#include <cstdint>

namespace tindra {

// A popup's design width, and its design (and largest) height.
inline constexpr int32_t kPopupWidth = 2685;
inline constexpr int32_t kPopupMaxHeight = 1965;

}  // namespace tindra
