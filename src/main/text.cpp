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

// Decodes one UTF-8 sequence at text[i]; an ill-formed one yields U+FFFD and consumes its
// maximal valid prefix (at least one byte), as Unicode's substitution practice has it.
char32_t decode_utf8(std::string_view text, size_t& i) {
    const unsigned char b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) { ++i; return b0; }
    int length = 0;
    char32_t c = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) { length = 2; c = b0 & 0x1F; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3; c = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4; c = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else { ++i; return kReplacement; }
    ++i;
    for (int k = 1; k < length; ++k) {
        if (i >= text.size()) return kReplacement;
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < lo || b > hi) return kReplacement;
        lo = 0x80; hi = 0xBF;
        c = (c << 6) | (b & 0x3F);
        ++i;
    }
    return c;
}

}  // namespace

std::string utf16_to_utf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned u = static_cast<unsigned short>(text[i]);
        if (is_high_surrogate(u) && i + 1 < text.size() &&
            is_low_surrogate(static_cast<unsigned short>(text[i + 1]))) {
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
    for (size_t i = 0; i < text.size();) append_utf16(out, decode_utf8(text, i));
    return out;
}

bool is_valid_utf16(std::wstring_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned u = static_cast<unsigned short>(text[i]);
        if (is_high_surrogate(u)) {
            if (i + 1 >= text.size() || !is_low_surrogate(static_cast<unsigned short>(text[i + 1])))
                return false;
            ++i;
        } else if (is_low_surrogate(u)) {
            return false;
        }
    }
    return true;
}

std::string decimal(unsigned long long value) {
    char digits[24];
    int n = 0;
    do { digits[n++] = static_cast<char>('0' + value % 10); value /= 10; } while (value != 0);
    std::string out;
    while (n > 0) out += digits[--n];
    return out;
}
