#pragma once
// Resource IDs of the popup's artwork. The program that shows popups compiles
// popup/popup.rc into its own resources (include path: the repository root).
#define IDR_POPUP_BACKGROUND 2101  // RCDATA: res/background.gif
#define IDI_POPUP_ENVELOPE 2102    // ICON: res/envelope.ico
