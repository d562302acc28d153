// Text conversions. Inside the program text is UTF-8; UTF-16LE appears only
// where a stored format asks for it, and OEM bytes of 8.3 names are code page 437.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace selvane {

// Length of the longest prefix of `text` of at most maxBytes bytes that does not
// end inside a UTF-8 sequence.
size_t Utf8PrefixLength(std::string_view text, size_t maxBytes);

// UTF-16LE code units (unpaired surrogates become U+FFFD) to UTF-8.
std::string Utf16ToUtf8(std::u16string_view text);
// UTF-16LE bytes to UTF-8; an odd trailing byte is dropped.
std::string Utf16LeBytesToUtf8(std::span<const uint8_t> bytes);
// UTF-8 (invalid bytes become U+FFFD) to UTF-16.
std::u16string Utf8ToUtf16(std::string_view text);

// One byte of code page 437 as UTF-8.
std::string Cp437ToUtf8(std::span<const uint8_t> bytes);

// ASCII lower case; other bytes unchanged.
std::string AsciiLower(std::string_view text);

// Case-insensitive comparison of ASCII letters, other bytes by value (as _stricmp).
int CompareNoCase(std::string_view a, std::string_view b);

}  // namespace selvane
