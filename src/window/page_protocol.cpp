#include "page_protocol.h"

#include <type_traits>

#include "text.h"

PageRequest match_page_message(std::string_view text) {
    // string_view equality compares the length first, then the characters.
    if (text == "ready") return PageRequest::Ready;
    if (text == "install") return PageRequest::Install;
    if (text == "mail") return PageRequest::Mail;
    if (text == "close") return PageRequest::Close;
    return PageRequest::Unknown;
}

std::string install_reply(const Status& outcome) {
    return outcome.ok() ? std::string("done") : "error\n" + outcome.error();
}

namespace {

template <class Char>
std::basic_string<Char> escaped_for_json(std::basic_string_view<Char> text) {
    std::basic_string<Char> escaped;
    escaped.reserve(text.size());
    for (const Char c : text) {
        const auto unit = static_cast<std::make_unsigned_t<Char>>(c);
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (unit < 0x20) {
            for (const char part :
                 {'\\', 'u', '0', '0', hex_digit(unit >> 4u, HexLetters::Lower), hex_digit(unit, HexLetters::Lower)})
                escaped += static_cast<Char>(part);
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

std::string json_escape(std::string_view text) { return escaped_for_json(text); }

std::wstring json_escape(std::wstring_view text) {
    const std::wstring whole = with_unpaired_surrogates_replaced(text);
    return escaped_for_json(std::wstring_view(whole));
}

std::wstring build_init_message(std::string_view language_code, std::string_view version, std::wstring_view folder,
                                bool auto_start) {
    std::string head = "init\n{\"lang\":\"";
    head += language_code;
    head += "\",\"version\":\"";
    head += json_escape(version);
    head += "\",\"effects\":";
    head += decimal(kEffectCount);
    head += ",\"path\":\"";
    std::wstring message = utf8_to_utf16(head);
    message += json_escape(folder);
    message += auto_start ? L"\",\"auto\":true}" : L"\",\"auto\":false}";
    return message;
}
