#include "page_messages.h"

PageRequest match_page_message(std::string_view text) {
    // string_view equality compares the length first, then the characters.
    if (text == "ready") return PageRequest::Ready;
    if (text == "install") return PageRequest::Install;
    if (text == "mail") return PageRequest::Mail;
    if (text == "close") return PageRequest::Close;
    return PageRequest::Unknown;
}

bool reply_reports_failure(std::string_view reply) { return reply != "done"; }
