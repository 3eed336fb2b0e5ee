#include "settings_edit.h"

#include <utility>
#include <vector>

#include "text.h"

namespace {

constexpr std::string_view kOpeningSearch = "<AllowUnknownPlugins";
constexpr std::string_view kClosingTag = "</AllowUnknownPlugins>";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool ends_the_name(char byte) {
    return byte == '>' || byte == '/' || byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f';
}

// The stretches of the text that hold no markup of the file's own: XML comments ("<!--" through
// "-->"), CDATA sections ("<![CDATA[" through "]]>") and processing instructions ("<?" through
// "?>"), so that a key, closing tag or end of settings written inside one (an old value commented
// out, say) is not taken for the live one. Each is found from its opening where that stands
// outside every earlier one, so a "<!--" inside CDATA opens no comment. One that is never closed
// runs to the end of the text.
class Comments {
public:
    explicit Comments(std::string_view text) {
        struct Kind {
            std::string_view open, close;
        };
        static constexpr Kind kKinds[] = {{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
        for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at)) {
            const Kind* kind = nullptr;
            for (const Kind& k : kKinds)
                if (text.substr(at, k.open.size()) == k.open) kind = &k;
            if (!kind) {
                ++at;
                continue;
            }
            const std::size_t close_at = text.find(kind->close, at + kind->open.size());
            const std::size_t end = close_at == std::string_view::npos ? text.size() : close_at + kind->close.size();
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
std::size_t find_live(std::string_view text, const Comments& comments, std::string_view needle, std::size_t from) {
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
        const std::size_t s = find_live(text, comments, kOpeningSearch, from);
        if (s == std::string_view::npos) return s;
        const std::size_t after = s + kOpeningSearch.size();
        if (after == text.size() || ends_the_name(text[after])) return s;
        from = s + 1;
    }
}

SettingsEdit failed(std::string_view reason) { return SettingsEdit::failure(std::string(reason)); }

SettingsEdit new_text(std::string text) { return SettingsEdit::success(std::move(text)); }

SettingsEdit replaced(std::string_view text, std::size_t from, std::size_t to) {
    std::string out;
    out.reserve(text.size() - (to - from) + kAllowElement.size());
    out.append(text.substr(0, from)).append(kAllowElement).append(text.substr(to));
    return new_text(std::move(out));
}

// The element's bracket and closing tag are looked for outside comments too, so that the stretch
// replaced never starts or ends inside one: a comment is either kept whole or, inside the element,
// replaced with it.
SettingsEdit edit_existing_key(std::string_view text, const Comments& comments, std::size_t s) {
    const std::size_t g = find_live(text, comments, ">", s);
    if (g == std::string_view::npos) return failed(kIncompleteXmlReason);
    if (text[g - 1] == '/') return replaced(text, s, g + 1);

    const std::size_t k = find_live(text, comments, kClosingTag, g + 1);
    if (k == std::string_view::npos) return failed(kIncompleteXmlReason);
    const std::string_view value = trim_unicode_white_space(text.substr(g + 1, k - (g + 1)));
    if (equals_ignoring_ascii_case(value, "true")) return SettingsEdit::success(std::nullopt);
    return replaced(text, s, k + kClosingTag.size());
}

// A file without the key gets the element as a line of its own before its last "</Settings>",
// ended by CR LF whatever line ends the file uses.
SettingsEdit insert_key(std::string_view text, const Comments& comments) {
    const std::size_t e = rfind_live(text, comments, kSettingsEndTag);
    if (e == std::string_view::npos) return failed(kUnexpectedFileReason);
    std::string out;
    out.reserve(text.size() + kAllowElement.size() + 3);
    out.append(text.substr(0, e)).append("\t").append(kAllowElement).append("\r\n");
    out.append(text.substr(e));
    return new_text(std::move(out));
}

}  // namespace

std::string_view new_settings_text() {
    static constexpr std::string_view kText =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<Settings xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
        "xsi:type=\"Serif.Interop.Persona.Settings.PhotoshopPluginsSettings\">\r\n"
        "\t<AllowUnknownPlugins>True</AllowUnknownPlugins>\r\n"
        "\t<Directories />\r\n"
        "</Settings>";
    static_assert(kText.size() == 300);
    return kText;
}

SettingsEdit edit_host_settings(std::string_view file_bytes) {
    // A host that died while saving can leave its preferences empty, or holding only a
    // byte-order mark and white space; that counts as no file at all.
    if (file_bytes.empty()) return new_text(std::string(new_settings_text()));
    if (auto error = utf8_error(file_bytes)) return failed(*error);
    std::string_view content = file_bytes;
    if (content.starts_with(kByteOrderMark)) content.remove_prefix(kByteOrderMark.size());
    if (trim_unicode_white_space(content).empty()) return new_text(std::string(new_settings_text()));
    const Comments comments(file_bytes);
    const std::size_t s = find_key(file_bytes, comments);
    if (s != std::string_view::npos) return edit_existing_key(file_bytes, comments, s);
    return insert_key(file_bytes, comments);
}
