#pragma once
// The notification popup's window (Windows): FrmTindra carried out on a real window.
// One instance per notification; after Start it owns itself and deletes itself when
// it unloads.
#include <cstdint>
#include <functional>
#include <string>

namespace tindra {

class FrmTindraWindow;

// Creates a new, not yet loaded popup instance that keeps `popupCount` (the
// program's gPopupCount), which must outlive it. The instance deletes itself when it
// unloads; the caller keeps no reference after calling Start. `onClosed`, when given,
// runs once the popup has unloaded and lowered the count; it must not raise.
FrmTindraWindow* NewFrmTindraWindow(int32_t& popupCount, std::function<void()> onClosed = {});

// Loads the window (the count += 1), fills in the texts for iMode, places it with
// its left edge at nSX and its bottom edge at nSY (screen twips), starts its first
// effect timer and shows it topmost without activating it. Raises AppError when a
// window operation fails (kErrInvalidPropertyValue) or the count overflows; the popup has
// then already unloaded and deleted itself, so the caller must not use it again.
void Start(FrmTindraWindow& form, const std::u16string& sName, const int16_t& iMode,
           const int32_t& nSX, const int32_t& nSY);

}  // namespace tindra
