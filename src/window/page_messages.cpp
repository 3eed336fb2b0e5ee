#include "page_messages.h"

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
