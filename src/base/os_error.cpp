#include "os_error.h"

#include "text.h"

namespace {

std::string signed_decimal(long value) {
    if (value < 0) return "-" + decimal(static_cast<unsigned long long>(-static_cast<long long>(value)));
    return decimal(static_cast<unsigned long long>(value));
}

}  // namespace

std::string os_error_reason(unsigned long code) {
    // Codes print as the signed 32-bit numbers the system uses for them.
    const std::string code_text = signed_decimal(static_cast<long>(static_cast<int>(code)));
    wchar_t buffer[2048];
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length = FormatMessageW(flags, nullptr, code, 0, buffer, 2048, nullptr);
    if (length == 0) {
        const DWORD lookup_error = GetLastError();
        return "OS Error " + code_text + " (FormatMessageW() returned error " +
               signed_decimal(static_cast<long>(static_cast<int>(lookup_error))) + ")";
    }
    std::wstring_view message(buffer, length);
    if (!is_valid_utf16(message)) return "OS Error " + code_text + " (FormatMessageW() returned invalid UTF-16)";
    while (!message.empty() && is_unicode_white_space(static_cast<char32_t>(message.back()))) message.remove_suffix(1);
    return utf16_to_utf8(message) + " (os error " + code_text + ")";
}

std::string last_os_error_reason() { return os_error_reason(GetLastError()); }

HRESULT last_error_as_hresult() {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

std::string path_failure(std::wstring_view path, std::string_view reason) {
    std::string text = utf16_to_utf8(path);
    text += ": ";
    text += reason;
    return text;
}
