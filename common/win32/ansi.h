#pragma once
// Conversions at the Win32 boundary. Portable code keeps UTF-16 in std::u16string;
// wchar_t is 16-bit on Windows, so the wide forms are a plain re-typing.
#include <windows.h>

#include <string>
#include <string_view>

namespace tindra::win32 {

// UTF-16 -> the system's ANSI code page (CP949 on a Korean system).
std::string ToAnsi(std::u16string_view s);
// UTF-16 -> the given code page, whatever the system's is; empty when the platform
// cannot convert.
std::string ToCodePage(std::u16string_view s, UINT codePage);
// The system's ANSI code page -> UTF-16. Bytes that do not decode become the
// platform's replacement character; embedded NULs are kept.
std::u16string FromAnsi(std::string_view s);

inline std::wstring ToWide(std::u16string_view s) {
  return std::wstring(reinterpret_cast<const wchar_t*>(s.data()), s.size());
}
inline std::u16string FromWide(std::wstring_view s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.data()), s.size());
}
inline const wchar_t* WidePtr(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}

}  // namespace tindra::win32
