#pragma once
// How the popup's window can be recognised from outside (tests, tools): its class,
// its styles and window operations. It has no child windows: its controls are drawn
// by the window itself, and its window text holds what the labels show, the two
// lines joined by CR LF, or a notice's text alone (WindowText in FrmTindra.h).
#include <windows.h>

namespace tindra::win32 {

inline constexpr wchar_t kPopupClassName[] = L"TindraPopup";
// The window's text from its creation until Start sets what it shows.
inline constexpr wchar_t kPopupTitle[] = L"Form1";

// The frame: a borderless tool window that is never activated.
inline constexpr DWORD kPopupFrameStyle = WS_POPUP | WS_CLIPCHILDREN;
inline constexpr DWORD kPopupFrameExStyle = WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW;
// The one call of each effect step: position and size together, nothing redrawn by
// the system (the popup draws its contents itself).
inline constexpr UINT kPopupMoveFlags =
    SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_NOACTIVATE | SWP_NOREDRAW;
// The one way the popup becomes visible: topmost, shown, not activated.
inline constexpr UINT kPopupShowTopmostFlags =
    SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
static_assert(kPopupShowTopmostFlags == 0x0053);

}  // namespace tindra::win32
