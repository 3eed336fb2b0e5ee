// Text that a system call writes into the caller's buffer, when the size it needs is only known
// by asking, and may change between the asking and the writing.
#pragma once
#include <optional>
#include <string>

// `call(buffer, capacity)` follows the system's usual contract: the length written (terminator
// not counted) when the text fits, the capacity needed (terminator counted) when it does not,
// and 0 when it fails. The buffer grows to what is needed and the call is made again until the
// text fits; nullopt as soon as a call returns 0, with the system's last error as that call left it.
template <class Call>
std::optional<std::wstring> read_grown_text(Call call, unsigned long capacity = 260) {
    std::wstring text(capacity, L'\0');
    for (;;) {
        const unsigned long length = call(text.data(), static_cast<unsigned long>(text.size()));
        if (length == 0) return std::nullopt;
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(length);  // grown meanwhile, or too small from the start
    }
}
