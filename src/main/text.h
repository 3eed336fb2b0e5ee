// UTF-8 inside, UTF-16 only where text meets the system.
#pragma once
#include <string>
#include <string_view>

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::wstring_view text);
// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::wstring utf8_to_utf16(std::string_view text);
// True when the UTF-16 text holds no unpaired surrogate.
bool is_valid_utf16(std::wstring_view text);
// Decimal digits of an unsigned number, without locale or streams.
std::string decimal(unsigned long long value);
