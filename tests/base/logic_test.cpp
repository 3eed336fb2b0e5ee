// Pure rules: path rules, text conversion, the failure texts built from system errors, the
// SYSTEM account decision.
#include <gtest/gtest.h>

#include "os_error.h"
#include "paths.h"
#include "system_account.h"
#include "test_support.h"
#include "text.h"

namespace {

TEST(Paths, JoinPutsOneBackslashWhereNeeded) {
    EXPECT_EQ(join_path(L"C:\\Users\\demo", L".affinity"), L"C:\\Users\\demo\\.affinity");
    EXPECT_EQ(join_path(L"C:\\Users\\demo\\", L"x"), L"C:\\Users\\demo\\x");
    EXPECT_EQ(join_path(L"C:/Users/", L"x"), L"C:/Users/x");
    EXPECT_EQ(join_path(L"", L"Lumivane.8bf"), L"Lumivane.8bf");
    EXPECT_EQ(join_path(L"C:", L"x"), L"C:x");
    EXPECT_EQ(join_path(L"C:\\", L"x"), L"C:\\x");
}

TEST(Paths, ParentDropsTheLastComponentAndRootsHaveNone) {
    EXPECT_EQ(parent_path(L"D:\\Test\\Plugins"), L"D:\\Test");
    EXPECT_EQ(parent_path(L"D:\\Test\\Plugins\\"), L"D:\\Test");
    EXPECT_EQ(parent_path(L"D:\\Test"), L"D:\\");
    EXPECT_EQ(parent_path(L"Plugins"), L"");
    EXPECT_EQ(parent_path(L"a\\b"), L"a");
    EXPECT_EQ(parent_path(L"\\\\server\\share\\Plugins"), L"\\\\server\\share\\");
    EXPECT_FALSE(parent_path(L"C:\\").has_value());
    EXPECT_FALSE(parent_path(L"C:").has_value());
    EXPECT_FALSE(parent_path(L"\\").has_value());
    EXPECT_FALSE(parent_path(L"").has_value());
    EXPECT_FALSE(parent_path(L"\\\\server\\share\\").has_value());
    // The verbatim forms: a share is a root there too, and the folder chain stops at it.
    EXPECT_FALSE(parent_path(L"\\\\?\\UNC\\server\\share").has_value());
    EXPECT_FALSE(parent_path(L"\\\\?\\UNC\\server\\share\\").has_value());
    EXPECT_EQ(parent_path(L"\\\\?\\UNC\\server\\share\\Plugins"), L"\\\\?\\UNC\\server\\share\\");
    EXPECT_EQ(parent_path(L"\\\\?\\C:\\Test\\Plugins"), L"\\\\?\\C:\\Test");
    EXPECT_FALSE(parent_path(L"\\\\?\\C:\\").has_value());
}

TEST(Text, Utf16ToUtf8ReplacesUnpairedSurrogates) {
    EXPECT_EQ(utf16_to_utf8(L"Caf\u00E9 \u203A"), "Café ›");
    EXPECT_EQ(utf16_to_utf8(std::wstring{L'a', static_cast<wchar_t>(0xD800), L'b'}),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(utf16_to_utf8(std::wstring{static_cast<wchar_t>(0xDC00)}), "\xEF\xBF\xBD");
    EXPECT_EQ(utf16_to_utf8(std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}),
              "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16_to_utf8(std::wstring{static_cast<wchar_t>(0xD83D)}), "\xEF\xBF\xBD");
}

TEST(Text, Utf8ToUtf16RoundTripsAndReplacesBadBytes) {
    EXPECT_EQ(utf8_to_utf16("Lumivane をインストール"), L"Lumivane をインストール");
    EXPECT_EQ(utf8_to_utf16("a\xFF"
                            "b"),
              L"a\uFFFDb");
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80"),
              (std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}));
    // One U+FFFD per maximal subpart of a bad sequence, and one for a sequence the text cuts off.
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98"
                            "A"),
              L"\uFFFDA");
    EXPECT_EQ(utf8_to_utf16("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(utf8_to_utf16("x\xE2\x82"), L"x\uFFFD");
}

TEST(FailureTexts, SystemReasonMatchesTheSystemsOwnMessage) {
    for (DWORD code : {2ul, 3ul, 5ul, 32ul, 112ul}) EXPECT_EQ(os_error_reason(code), testing_support::os_reason(code));
    EXPECT_EQ(path_failure(L"C:\\x\\Lumivane.8bf.new", os_error_reason(5)),
              "C:\\x\\Lumivane.8bf.new: " + testing_support::os_reason(5));
}

TEST(FailureTexts, CodeWithoutMessageGivesTheLookupError) {
    // No system message exists for this code; the lookup itself fails with its own error.
    const DWORD code = 0x2BADF00Du;
    wchar_t buffer[16];
    ASSERT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer, 16,
                             nullptr),
              0u);
    const DWORD lookup = GetLastError();
    EXPECT_EQ(os_error_reason(code),
              "OS Error 732819469 (FormatMessageW() returned error " + std::to_string(lookup) + ")");
}

TEST(FailureTexts, PathWithUnpairedSurrogateShowsReplacement) {
    const std::wstring path{L'C', L':', L'\\', static_cast<wchar_t>(0xDC01)};
    EXPECT_EQ(path_failure(path, "reason"), "C:\\\xEF\xBF\xBD: reason");
}

// Wine cannot run as SYSTEM: the decision gets the token's user handed in.
TEST(SystemAccount, OnlyLocalSystemWithoutAChosenFolderIsRefused) {
    EXPECT_EQ(system_account_refusal(std::wstring(L"S-1-5-18"), false),
              "el instalador se ejecuta con la cuenta del sistema; ej\u00E9cutelo en la sesi\u00F3n del usuario");
    EXPECT_EQ(system_account_refusal(std::wstring(L"S-1-5-18"), true), std::nullopt);
    for (const wchar_t* other :
         {L"S-1-5-180", L"S-1-5-19", L"S-1-5-20", L"S-1-5-21-1004336348-1177238915-682003330-1001", L""})
        EXPECT_EQ(system_account_refusal(std::wstring(other), false), std::nullopt) << utf16_to_utf8(other);
    EXPECT_EQ(system_account_refusal(std::nullopt, false), std::nullopt);
    // This process's own user is read, and it is not SYSTEM, so the real runs here go on.
    const std::optional<std::wstring> own = process_user_sid();
    ASSERT_TRUE(own.has_value());
    EXPECT_TRUE(own->starts_with(L"S-1-5-")) << utf16_to_utf8(*own);
    EXPECT_NE(*own, kLocalSystemSid);
}

}  // namespace
