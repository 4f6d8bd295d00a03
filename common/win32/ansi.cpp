#include "common/win32/ansi.h"

#include <climits>

namespace tindra::win32 {

std::string ToAnsi(std::u16string_view s) { return ToCodePage(s, CP_ACP); }

std::string ToCodePage(std::u16string_view s, UINT codePage) {
  if (s.empty() || s.size() > INT_MAX) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(s.data());
  int n =
      WideCharToMultiByte(codePage, 0, w, static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, w, static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string FromAnsi(std::string_view s) {
  if (s.empty() || s.size() > INT_MAX) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return FromWide(out);
}

}  // namespace tindra::win32
