// libFuzzer target over the preferences edit. Besides not crashing, every result is checked
// against what the edit promises, using checks written independently of the edit itself.

#include "settings_edit.h"
#include "text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kKeyOpen = "<AllowUnknownPlugins";
constexpr std::string_view kKeyClose = "</AllowUnknownPlugins>";

[[noreturn]] void broken(const char* promise, std::string_view input) {
    std::fprintf(stderr, "promise broken: %s (input of %zu bytes)\n", promise, input.size());
    std::abort();
}

// The well-formed byte sequences of UTF-8, one row per line of Unicode's table of them.
struct ByteRange {
    unsigned char low, high;
};
const std::vector<std::vector<ByteRange>> kWellFormedRows = {
    {{0x00, 0x7F}},
    {{0xC2, 0xDF}, {0x80, 0xBF}},
    {{0xE0, 0xE0}, {0xA0, 0xBF}, {0x80, 0xBF}},
    {{0xE1, 0xEC}, {0x80, 0xBF}, {0x80, 0xBF}},
    {{0xED, 0xED}, {0x80, 0x9F}, {0x80, 0xBF}},
    {{0xEE, 0xEF}, {0x80, 0xBF}, {0x80, 0xBF}},
    {{0xF0, 0xF0}, {0x90, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}},
    {{0xF1, 0xF3}, {0x80, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}},
    {{0xF4, 0xF4}, {0x80, 0x8F}, {0x80, 0xBF}, {0x80, 0xBF}},
};

// Length of the longest prefix of `bytes` that starts some row; `complete` when it is a whole row.
std::size_t matching_prefix(std::string_view bytes, bool& complete) {
    std::size_t best = 0;
    complete = false;
    for (const auto& row : kWellFormedRows) {
        std::size_t n = 0;
        while (n < row.size() && n < bytes.size()) {
            const auto b = static_cast<unsigned char>(bytes[n]);
            if (b < row[n].low || b > row[n].high) break;
            ++n;
        }
        if (n == row.size()) {
            complete = true;
            return n;
        }
        if (n > best) best = n;
    }
    return best;
}

std::string expected_utf8_error(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        bool complete = false;
        const std::size_t n = matching_prefix(bytes.substr(at), complete);
        if (complete) {
            at += n;
            continue;
        }
        if (n > 0 && at + n == bytes.size()) return "incomplete utf-8 byte sequence from index " + std::to_string(at);
        return "invalid utf-8 sequence of " + std::to_string(n == 0 ? 1 : n) + " bytes from index " +
               std::to_string(at);
    }
    return {};
}

// Some closing tag of the key outside comments is preceded by a ">" outside comments and a value that reads "true" once white space
// (any of Unicode's, here spelled out as byte sequences) is taken off both sides.
using Spans = std::vector<std::pair<std::size_t, std::size_t>>;
bool in_comment(const Spans& comments, std::size_t at);

const std::vector<std::string_view> kSpaces = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80"};

// Nothing but an optional byte-order mark and white space: what a host that died while saving
// leaves, taken as no file.
bool holds_nothing(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    for (;;) {
        if (text.empty()) return true;
        bool stripped = false;
        for (auto sp : kSpaces)
            if (text.substr(0, sp.size()) == sp) {
                text.remove_prefix(sp.size());
                stripped = true;
                break;
            }
        if (!stripped) return false;
    }
}

bool holds_true_value(std::string_view text, const Spans& comments) {
    auto strip_back = [&](std::string_view& s) {
        for (auto sp : kSpaces)
            if (s.size() >= sp.size() && s.substr(s.size() - sp.size()) == sp) {
                s.remove_suffix(sp.size());
                return true;
            }
        return false;
    };
    for (std::size_t k = text.find(kKeyClose); k != std::string_view::npos; k = text.find(kKeyClose, k + 1)) {
        std::string_view before = text.substr(0, k);
        while (strip_back(before)) {}
        if (before.size() < 5) continue;
        std::string word(before.substr(before.size() - 4));
        for (char& c : word)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (word != "true") continue;
        before.remove_suffix(4);
        while (strip_back(before)) {}
        if (!before.empty() && before.back() == '>' && !in_comment(comments, k) &&
            !in_comment(comments, before.size() - 1))
            return true;
    }
    return false;
}

// The stretches that hide markup, as [start, end) pairs, scanned from the start: a comment
// ("<!--" up to and including the next "-->" that does not overlap its opening), a CDATA section
// ("<![CDATA[" to "]]>") or a processing instruction ("<?" to "?>"), each running to the end of
// the input when never closed. An opening inside an earlier stretch opens nothing.
Spans comment_spans(std::string_view in) {
    static const std::pair<std::string_view, std::string_view> kinds[] = {
        {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    Spans spans;
    std::size_t at = 0;
    while (at < in.size()) {
        const std::pair<std::string_view, std::string_view>* kind = nullptr;
        for (const auto& k : kinds)
            if (in.substr(at, k.first.size()) == k.first) kind = &k;
        if (!kind) {
            ++at;
            continue;
        }
        const std::string_view close = kind->second;
        std::size_t end = at + kind->first.size();
        while (end + close.size() <= in.size() && in.substr(end, close.size()) != close) ++end;
        end = end + close.size() <= in.size() ? end + close.size() : in.size();
        spans.emplace_back(at, end);
        at = end;
    }
    return spans;
}

bool in_comment(const Spans& comments, std::size_t at) {
    for (const auto& [start, end] : comments)
        if (at >= start && at < end) return true;
    return false;
}

// Some occurrence of `needle` begins outside every comment.
bool occurs_live(std::string_view in, const Spans& comments, std::string_view needle) {
    for (std::size_t at = in.find(needle); at != std::string_view::npos; at = in.find(needle, at + 1))
        if (!in_comment(comments, at)) return true;
    return false;
}

// The edit touched only [from, to) of the input: every comment lies wholly outside that stretch or,
// for a replaced element, wholly inside it; none is cut.
bool comments_kept(const Spans& comments, std::size_t from, std::size_t to) {
    for (const auto& [start, end] : comments) {
        const bool outside = end <= from || start >= to;
        const bool inside = start >= from && end <= to;
        if (!outside && !inside) return false;
    }
    return true;
}

// The new text is either the input with one stretch that began with the key's opening text
// replaced by the element, or the input with "\t" + element + "\r\n" put before its last
// "</Settings>"; every other byte is a slice of the input.
bool is_replacement(std::string_view in, std::string_view out, const Spans& comments) {
    const std::string_view el = kAllowElement;
    for (std::size_t a = out.find(el); a != std::string_view::npos; a = out.find(el, a + 1)) {
        const std::size_t tail = out.size() - a - el.size();
        if (tail > in.size() || a > in.size() - tail) continue;
        if (out.substr(0, a) != in.substr(0, a)) continue;
        if (out.substr(a + el.size()) != in.substr(in.size() - tail)) continue;
        const std::string_view removed = in.substr(a, in.size() - tail - a);
        if (removed.substr(0, kKeyOpen.size()) != kKeyOpen) continue;
        const bool closes = removed.size() >= kKeyClose.size() &&
                            removed.substr(removed.size() - kKeyClose.size()) == kKeyClose;
        const bool empty_element = removed.size() >= 2 && removed.substr(removed.size() - 2) == "/>";
        if ((closes || empty_element) && !in_comment(comments, a) && comments_kept(comments, a, in.size() - tail))
            return true;
    }
    return false;
}

// Before the last "</Settings>" that is not inside a comment.
bool is_insertion(std::string_view in, std::string_view out, const Spans& comments) {
    std::size_t e = in.rfind(kSettingsEndTag);
    while (e != std::string_view::npos && in_comment(comments, e))
        e = e == 0 ? std::string_view::npos : in.rfind(kSettingsEndTag, e - 1);
    if (e == std::string_view::npos || !comments_kept(comments, e, e)) return false;
    std::string expected(in.substr(0, e));
    expected.append("\t").append(kAllowElement).append("\r\n").append(in.substr(e));
    return out == expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const SettingsEdit edit = edit_host_settings(in);
    if (in.empty()) {
        if (!edit.ok() || !edit.value() || *edit.value() != new_settings_text())
            broken("an empty file gives the new file's text", in);
        return 0;
    }
    const std::string utf8 = expected_utf8_error(in);

    if (!utf8.empty()) {
        if (edit.ok() || edit.error() != utf8) broken("ill-formed UTF-8 fails with the reference reason", in);
        return 0;
    }
    if (utf8_error(in)) broken("well-formed UTF-8 is accepted", in);
    if (holds_nothing(in)) {
        if (!edit.ok() || !edit.value() || *edit.value() != new_settings_text())
            broken("a mark and white space alone give the new file's text", in);
        return 0;
    }
    const Spans comments = comment_spans(in);

    if (!edit.ok()) {
        if (edit.error() == kUnexpectedFileReason) {
            if (occurs_live(in, comments, kSettingsEndTag))
                broken("a file with </Settings> outside comments is never 'unexpected'", in);
        } else if (edit.error() == kIncompleteXmlReason) {
            if (!occurs_live(in, comments, kKeyOpen)) broken("'incomplete' only with the key outside comments", in);
        } else {
            broken("failure reasons are the known ones", in);
        }
    } else if (!edit.value()) {
        if (!holds_true_value(in, comments)) broken("AlreadyAllowed only with a true value present", in);
    } else {
        const std::string& out = *edit.value();
        if (!is_replacement(in, out, comments) && !is_insertion(in, out, comments))
            broken("new text is the input with one edit outside comments, comments whole", in);
        const SettingsEdit again = edit_host_settings(out);
        if (!again.ok() || again.value()) broken("editing the new text again gives AlreadyAllowed", in);
    }
    return 0;
}
