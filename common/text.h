#pragma once
// Text inside the program is UTF-16 code units; positions and lengths count code units.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tindra {

// UTF-8 <-> UTF-16. Ill-formed input becomes U+FFFD; never throws for bad input.
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// Text of an ASCII literal or number, widened unit by unit.
std::u16string Ascii(std::string_view s);

std::u16string ToDecimal(long long value);

// Upper-cases ASCII letters only (what a case-insensitive name comparison needs here).
std::u16string AsciiUpper(std::u16string_view s);

// Removes the leading and trailing units that are any of `blanks`.
std::u16string Trim(std::u16string_view s, std::u16string_view blanks);
// Removes leading and trailing U+0020 only; tabs and line breaks stay.
std::u16string TrimSpaces(std::u16string_view s);

// The number `s` spells when it is 1 to `maxDigits` (at most 9) decimal digits and
// nothing else; nothing otherwise.
std::optional<int32_t> DecimalDigits(std::u16string_view s, size_t maxDigits);

}  // namespace tindra
