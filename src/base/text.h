// UTF-8 inside, UTF-16 only where text meets the system. No Windows header here: the
// preferences edit builds on this on any platform.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// One step of UTF-8 decoding at `bytes[at]`. On a well-formed sequence `length` is its size and
// `code_point` its value. Otherwise `length` is 0 and `bad_length` is the size of the maximal
// subpart of the ill-formed sequence (1 to 3), or 0 when the bytes end inside a sequence that is
// valid so far.
struct Utf8Step {
    char32_t code_point = 0;
    std::size_t length = 0;
    std::size_t bad_length = 0;
};
Utf8Step decode_utf8(std::string_view bytes, std::size_t at);

// Empty when `bytes` is well-formed UTF-8, else the reason, e.g.
// "invalid utf-8 sequence of 1 bytes from index 3" or "incomplete utf-8 byte sequence from index 7".
std::optional<std::string> utf8_error(std::string_view bytes);

// Unicode's White_Space property, complete.
bool is_unicode_white_space(char32_t c);
// `text` (valid UTF-8) without leading and trailing characters of Unicode's White_Space set.
std::string_view trim_unicode_white_space(std::string_view text);

// Same length and the same units, except that ASCII letters match in either case; nothing else
// is folded, so "É" and "é" differ. For UTF-8 and for UTF-16 alike.
bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);
bool equals_ignoring_ascii_case(std::wstring_view a, std::wstring_view b);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::wstring_view text);
// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::wstring utf8_to_utf16(std::string_view text);
// True when the UTF-16 text holds no unpaired surrogate.
bool is_valid_utf16(std::wstring_view text);
// The UTF-16 text with each unpaired surrogate replaced by U+FFFD.
std::wstring with_unpaired_surrogates_replaced(std::wstring_view text);
// The hexadecimal digit of `value`'s low four bits: 0-9, then a-f or A-F.
enum class HexLetters { Lower, Upper };
char hex_digit(unsigned long long value, HexLetters letters);
// Decimal digits of an unsigned number, without locale or streams; for narrow and wide text.
std::string decimal(unsigned long long value);
std::wstring wide_decimal(unsigned long long value);
