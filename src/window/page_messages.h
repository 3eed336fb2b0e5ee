// The page-to-host message texts and the host's replies to an install request.
#pragma once
#include <string>
#include <string_view>

#include "result.h"

enum class PageRequest { Ready, Install, Mail, Close, Unknown };

// Exactly "ready", "install", "mail" or "close" (case-sensitive, nothing around them);
// every other text is Unknown.
PageRequest match_page_message(std::string_view text);

// "done" for a successful install, else "error", a line feed and the failure text verbatim.
std::string install_reply(const Status& outcome);
