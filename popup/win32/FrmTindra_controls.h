#pragma once
// How the popup's windows can be recognised from outside (tests, tools): the window
// classes, the frame's styles and window operations, and the child-window IDs of its
// controls. Labels carry their text as the window text.
#include <windows.h>

namespace tindra::win32 {

inline constexpr wchar_t kPopupClassName[] = L"TindraPopup";
inline constexpr wchar_t kPopupControlClassName[] = L"TindraPopupControl";
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

// Picture1 is a child of the popup window; the other three are children of Picture1.
inline constexpr int kPicture1Id = 1;
inline constexpr int kPicNoteId = 2;
inline constexpr int kLblNameId = 3;
inline constexpr int kLblDescId = 4;

}  // namespace tindra::win32
