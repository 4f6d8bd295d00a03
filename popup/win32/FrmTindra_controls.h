#pragma once
// How the popup's windows can be recognised from outside (tests, tools): the window
// classes and the child-window IDs of its controls. Labels carry their text as the
// window text.
namespace tindra::win32 {

inline constexpr wchar_t kPopupClassName[] = L"TindraPopup";
inline constexpr wchar_t kPopupControlClassName[] = L"TindraPopupControl";
inline constexpr wchar_t kPopupTitle[] = L"Form1";

// Picture1 is a child of the popup window; the other three are children of Picture1.
inline constexpr int kPicture1Id = 1;
inline constexpr int kPicNoteId = 2;
inline constexpr int kLblNameId = 3;
inline constexpr int kLblDescId = 4;

}  // namespace tindra::win32
