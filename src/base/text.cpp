#include "text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool is_high_surrogate(unsigned u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(unsigned u) { return u >= 0xDC00 && u <= 0xDFFF; }

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void append_utf16(std::wstring& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<wchar_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    }
}

bool in_range(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

template <class Char>
Char fold_ascii(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <class Char>
bool equal_but_for_ascii_case(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold_ascii(a[i]) != fold_ascii(b[i])) return false;
    return true;
}

template <class Char>
std::basic_string<Char> decimal_digits(unsigned long long value) {
    Char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<Char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::basic_string<Char> out;
    while (n > 0) out += digits[--n];
    return out;
}

}  // namespace

// The allowed range of the second byte depends on the first: it excludes overlong forms
// (E0, F0), surrogates (ED) and values above U+10FFFF (F4).
Utf8Step decode_utf8(std::string_view bytes, std::size_t at) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80) return {lead, 1, 0};

    std::size_t width = 0;
    unsigned char low = 0x80, high = 0xBF;
    char32_t value = 0;
    if (in_range(lead, 0xC2, 0xDF)) {
        width = 2;
        value = lead & 0x1F;
    } else if (in_range(lead, 0xE0, 0xEF)) {
        width = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (in_range(lead, 0xF0, 0xF4)) {
        width = 4;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {0, 0, 1};  // a continuation byte, C0, C1 or F5..FF cannot start a sequence
    }

    for (std::size_t i = 1; i < width; ++i) {
        if (at + i >= bytes.size()) return {0, 0, 0};
        const auto byte = static_cast<unsigned char>(bytes[at + i]);
        const bool fits = i == 1 ? in_range(byte, low, high) : in_range(byte, 0x80, 0xBF);
        if (!fits) return {0, 0, i};
        value = (value << 6) | (byte & 0x3F);
    }
    return {value, width, 0};
}

std::optional<std::string> utf8_error(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const Utf8Step step = decode_utf8(bytes, at);
        if (step.length == 0) {
            if (step.bad_length == 0) return "incomplete utf-8 byte sequence from index " + decimal(at);
            return "invalid utf-8 sequence of " + decimal(step.bad_length) + " bytes from index " + decimal(at);
        }
        at += step.length;
    }
    return std::nullopt;
}

std::string_view trim_unicode_white_space(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const Utf8Step step = decode_utf8(text, begin);
        if (step.length == 0 || !is_unicode_white_space(step.code_point)) break;
        begin += step.length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && is_continuation(text[start])) --start;
        const Utf8Step step = decode_utf8(text, start);
        if (step.length != end - start || !is_unicode_white_space(step.code_point)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

bool is_unicode_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) { return equal_but_for_ascii_case(a, b); }

bool equals_ignoring_ascii_case(std::wstring_view a, std::wstring_view b) { return equal_but_for_ascii_case(a, b); }

std::string utf16_to_utf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned u = static_cast<unsigned short>(text[i]);
        if (is_high_surrogate(u) && i + 1 < text.size() && is_low_surrogate(static_cast<unsigned short>(text[i + 1]))) {
            const unsigned low = static_cast<unsigned short>(text[i + 1]);
            append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
            ++i;
        } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
            append_utf8(out, kReplacement);
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

std::wstring utf8_to_utf16(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const Utf8Step step = decode_utf8(text, i);
        if (step.length > 0) {
            append_utf16(out, step.code_point);
            i += step.length;
        } else {
            // Unicode's substitution practice: one U+FFFD for the maximal subpart of an ill-formed
            // sequence, and one for a sequence cut off by the end of the text.
            append_utf16(out, kReplacement);
            i += step.bad_length > 0 ? step.bad_length : text.size() - i;
        }
    }
    return out;
}

bool is_valid_utf16(std::wstring_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned u = static_cast<unsigned short>(text[i]);
        if (is_high_surrogate(u)) {
            if (i + 1 >= text.size() || !is_low_surrogate(static_cast<unsigned short>(text[i + 1]))) return false;
            ++i;
        } else if (is_low_surrogate(u)) {
            return false;
        }
    }
    return true;
}

char hex_digit(unsigned long long value, HexLetters letters) {
    const char* digits = letters == HexLetters::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
    return digits[value & 0xF];
}

std::wstring with_unpaired_surrogates_replaced(std::wstring_view text) {
    std::wstring out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned u = static_cast<unsigned short>(out[i]);
        if (is_high_surrogate(u) && i + 1 < out.size() && is_low_surrogate(static_cast<unsigned short>(out[i + 1])))
            ++i;
        else if (is_high_surrogate(u) || is_low_surrogate(u))
            out[i] = static_cast<wchar_t>(kReplacement);
    }
    return out;
}

std::string decimal(unsigned long long value) { return decimal_digits<char>(value); }

std::wstring wide_decimal(unsigned long long value) { return decimal_digits<wchar_t>(value); }
