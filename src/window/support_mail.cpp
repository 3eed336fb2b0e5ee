#include "support_mail.h"

#include <string>

#include "embedded.h"
#include "system_functions.h"
#include "text.h"

void open_support_mail(HWND window) {
    std::string target = "mailto:";
    target += kSupportEmail;
    shell_open(window, L"open", utf8_to_utf16(target).c_str(), SW_SHOWNORMAL);
}
