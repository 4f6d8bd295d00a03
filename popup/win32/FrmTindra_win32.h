#pragma once
// The notification popup's window (Windows): FrmTindra carried out on a real window.
// One instance per notification, which owns itself and deletes itself when it unloads.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "common/errors.h"

namespace tindra {

// Creates a popup that keeps `popupCount` (the program's gPopupCount, which must outlive
// it) and starts it (FrmTindra::Start): loaded (the count += 1), filled in for iMode,
// placed with its left edge at nSX and its bottom edge at nSY (screen twips), its first
// effect timer running, shown topmost without being activated. The caller keeps nothing:
// the popup deletes itself when it unloads. `onClosed`, when given, runs once the popup
// has unloaded and lowered the count; it must not raise. Raises AppError when a window
// operation fails (kErrInvalidPropertyValue) or the count overflows; the popup has then
// already unloaded and deleted itself.
// An error in one of the popup's own events later on (its picture cannot be composed
// for want of graphics objects, say) closes that popup and nothing else: `onFailed`,
// when given, is told the error first; it must not raise.
void OpenPopup(int32_t& popupCount, const std::u16string& sName, int16_t iMode, int32_t nSX,
               int32_t nSY, std::function<void()> onClosed = {},
               std::function<void(const AppError&)> onFailed = {});

// Whether the user is away from the keyboard: told to every open popup
// (FrmTindra::Form_UserAway, Form_UserBack) and to every popup opened from now on.
void SetPopupsUserAway(bool away);

}  // namespace tindra

// How the popup's window can be recognised from outside (tests, tools): its class, its
// styles and window operations. It has no child windows: its controls are drawn by the
// window itself, and its window text holds what the labels show, the two lines joined by
// CR LF, or a notice's text alone (WindowText in FrmTindra.h).
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
