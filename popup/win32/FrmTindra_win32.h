#pragma once
// The notification popup's window (Windows): FrmTindra carried out on a real window.
// One instance per notification, which owns itself and deletes itself when it unloads.
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
