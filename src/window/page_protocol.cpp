#include "page_protocol.h"

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

std::string json_escape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (byte < 0x20) {
            escaped += "\\u00";
            escaped += hex_digit(byte >> 4, HexLetters::Lower);
            escaped += hex_digit(byte, HexLetters::Lower);
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string build_init_message(std::string_view language_code, std::string_view version,
                               std::string_view folder, bool auto_start) {
    std::string message = "init\n{\"lang\":\"";
    message += language_code;
    message += "\",\"version\":\"";
    message += json_escape(version);
    message += "\",\"effects\":";
    message += decimal(kEffectCount);
    message += ",\"path\":\"";
    message += json_escape(folder);
    message += "\",\"auto\":";
    message += auto_start ? "true" : "false";
    message += '}';
    return message;
}
