#include "settings_edit.h"

#include <utility>
#include <vector>

namespace {

constexpr std::string_view opening_search = "<AllowUnknownPlugins";
constexpr std::string_view closing_tag = "</AllowUnknownPlugins>";

// One step of UTF-8 decoding. On a well-formed sequence `length` is its size and `code_point` its
// value. Otherwise `length` is 0 and `bad_length` is the size of the maximal subpart of the
// ill-formed sequence (1 to 3), or 0 when the bytes end inside a sequence that is valid so far.
struct Utf8Step {
    char32_t code_point = 0;
    std::size_t length = 0;
    std::size_t bad_length = 0;
};

bool in_range(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

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

bool is_white_space(char32_t c) {
    // Unicode's White_Space property, complete.
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool is_continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

bool ends_the_name(char byte) {
    return byte == '>' || byte == '/' || byte == ' ' || byte == '\t' || byte == '\n' ||
           byte == '\r' || byte == '\f';
}

// The XML comments of the text, "<!--" through "-->", so that a key, closing tag or end of settings
// written inside one (an old value commented out, say) is not taken for the live one. A comment that
// is never closed runs to the end of the text.
class Comments {
public:
    explicit Comments(std::string_view text) {
        constexpr std::string_view open = "<!--", close = "-->";
        for (std::size_t at = text.find(open); at != std::string_view::npos; at = text.find(open, at)) {
            const std::size_t close_at = text.find(close, at + open.size());
            const std::size_t end = close_at == std::string_view::npos ? text.size() : close_at + close.size();
            spans_.emplace_back(at, end);
            at = end;
        }
    }

    // The comment that holds byte `at`, or none.
    const std::pair<std::size_t, std::size_t>* holding(std::size_t at) const {
        for (const auto& span : spans_) {
            if (at < span.first) return nullptr;
            if (at < span.second) return &span;
        }
        return nullptr;
    }

private:
    std::vector<std::pair<std::size_t, std::size_t>> spans_;  // [start, end), in order
};

// The first occurrence of `needle` at or after `from` that does not start inside a comment. None of
// the texts looked for holds a "<" after its first byte, so one that starts outside every comment
// also ends outside it.
std::size_t find_live(std::string_view text, const Comments& comments, std::string_view needle,
                      std::size_t from) {
    for (;;) {
        const std::size_t at = text.find(needle, from);
        if (at == std::string_view::npos) return at;
        const auto* comment = comments.holding(at);
        if (!comment) return at;
        from = comment->second;
    }
}

std::size_t rfind_live(std::string_view text, const Comments& comments, std::string_view needle) {
    std::size_t before = std::string_view::npos;
    for (;;) {
        const std::size_t at = text.rfind(needle, before);
        if (at == std::string_view::npos) return at;
        const auto* comment = comments.holding(at);
        if (!comment) return at;
        if (comment->first == 0) return std::string_view::npos;
        before = comment->first - 1;
    }
}

// The opening search text has no closing bracket, so an element whose name only begins with the
// key (say "<AllowUnknownPluginsFolder>") would otherwise be taken for it, and everything up to the
// next closing tag of the key replaced. Only an occurrence followed by the end of the name counts;
// one at the very end of the text counts too, so that a cut-off file reads as incomplete.
std::size_t find_key(std::string_view text, const Comments& comments) {
    std::size_t from = 0;
    for (;;) {
        const std::size_t s = find_live(text, comments, opening_search, from);
        if (s == std::string_view::npos) return s;
        const std::size_t after = s + opening_search.size();
        if (after == text.size() || ends_the_name(text[after])) return s;
        from = s + 1;
    }
}

SettingsEdit failed(std::string_view reason) { return SettingsEdit::failure(std::string(reason)); }

SettingsEdit new_text(std::string text) { return SettingsEdit::success(std::move(text)); }

SettingsEdit replaced(std::string_view text, std::size_t from, std::size_t to) {
    std::string out;
    out.reserve(text.size() - (to - from) + allow_element.size());
    out.append(text.substr(0, from)).append(allow_element).append(text.substr(to));
    return new_text(std::move(out));
}

// The element's bracket and closing tag are looked for outside comments too, so that the stretch
// replaced never starts or ends inside one: a comment is either kept whole or, inside the element,
// replaced with it.
SettingsEdit edit_existing_key(std::string_view text, const Comments& comments, std::size_t s) {
    const std::size_t g = find_live(text, comments, ">", s);
    if (g == std::string_view::npos) return failed(incomplete_xml_reason);
    if (text[g - 1] == '/') return replaced(text, s, g + 1);

    const std::size_t k = find_live(text, comments, closing_tag, g + 1);
    if (k == std::string_view::npos) return failed(incomplete_xml_reason);
    const std::string_view value = trim_unicode_white_space(text.substr(g + 1, k - (g + 1)));
    if (equals_ignoring_ascii_case(value, "true")) return SettingsEdit::success(std::nullopt);
    return replaced(text, s, k + closing_tag.size());
}

// A file without the key gets the element as a line of its own before its last "</Settings>",
// ended by CR LF whatever line ends the file uses.
SettingsEdit insert_key(std::string_view text, const Comments& comments) {
    const std::size_t e = rfind_live(text, comments, settings_end_tag);
    if (e == std::string_view::npos) return failed(unexpected_file_reason);
    std::string out;
    out.reserve(text.size() + allow_element.size() + 3);
    out.append(text.substr(0, e)).append("\t").append(allow_element).append("\r\n");
    out.append(text.substr(e));
    return new_text(std::move(out));
}

}  // namespace

std::string_view new_settings_text() {
    static constexpr std::string_view text =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<Settings xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
        "xsi:type=\"Serif.Interop.Persona.Settings.PhotoshopPluginsSettings\">\r\n"
        "\t<AllowUnknownPlugins>True</AllowUnknownPlugins>\r\n"
        "\t<Directories />\r\n"
        "</Settings>";
    static_assert(text.size() == 300);
    return text;
}

std::optional<std::string> utf8_error(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const Utf8Step step = decode_utf8(bytes, at);
        if (step.length == 0) {
            if (step.bad_length == 0)
                return "incomplete utf-8 byte sequence from index " + std::to_string(at);
            return "invalid utf-8 sequence of " + std::to_string(step.bad_length) +
                   " bytes from index " + std::to_string(at);
        }
        at += step.length;
    }
    return std::nullopt;
}

std::string_view trim_unicode_white_space(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const Utf8Step step = decode_utf8(text, begin);
        if (step.length == 0 || !is_white_space(step.code_point)) break;
        begin += step.length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && is_continuation(text[start])) --start;
        const Utf8Step step = decode_utf8(text, start);
        if (step.length != end - start || !is_white_space(step.code_point)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

SettingsEdit edit_host_settings(std::string_view file_bytes) {
    // A host that died while saving can leave its preferences empty; that counts as no file at all.
    if (file_bytes.empty()) return new_text(std::string(new_settings_text()));
    if (auto error = utf8_error(file_bytes)) return failed(*error);
    const Comments comments(file_bytes);
    const std::size_t s = find_key(file_bytes, comments);
    if (s != std::string_view::npos) return edit_existing_key(file_bytes, comments, s);
    return insert_key(file_bytes, comments);
}
