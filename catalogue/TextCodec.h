#pragma once
// Byte-level text helpers for catalogue files: CP932 (the default) or UTF-8.
// Free of Qt so that the worksheet reader and its fuzz target link simply.

#include <cstddef>
#include <string>
#include <string_view>

namespace didira {

enum class TextEncoding { Cp932, Utf8 };

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// A CP932 lead byte: the first byte of a double-byte character.
constexpr bool IsCp932LeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Length in bytes of the character that starts at s[pos] (pos < s.size()).
// A truncated or malformed sequence counts as one byte, so a walk always
// advances and never runs past the end.
std::size_t CharLength(std::string_view s, std::size_t pos, TextEncoding enc);

// Position of the first occurrence of needle at or after from that starts on
// a character boundary, or npos. Never matches inside a multibyte character.
std::size_t FindText(std::string_view hay, std::string_view needle, std::size_t from,
                     TextEncoding enc);

// Position of the last character equal to the single byte c, or npos.
std::size_t FindLastByte(std::string_view s, char c, TextEncoding enc);

// Start of the last character of s (s not empty).
std::size_t LastCharStart(std::string_view s, TextEncoding enc);

bool IsValidUtf8(std::string_view s);
bool HasNonAscii(std::string_view s);

// Decoding to UTF-8 for the places where text meets the toolkit. Bytes that
// do not decode become U+FFFD; the result is always valid UTF-8.
std::string ToUtf8(std::string_view s, TextEncoding enc);

// Encoding of valid UTF-8 text as enc, for text written into a catalogue
// file. False (out unspecified) when utf8 is not valid UTF-8 or holds a
// character that enc cannot hold, or one that would not read back as itself.
bool FromUtf8(std::string_view utf8, TextEncoding enc, std::string& out);

// ASCII letters of the last `count` characters of s lowered, for the
// extension test; multibyte characters are left as they are.
std::string LastCharsLower(std::string_view s, std::size_t count, TextEncoding enc);

} // namespace didira
