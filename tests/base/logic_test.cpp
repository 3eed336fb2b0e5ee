// Pure rules: path rules, text conversion, the failure texts built from system errors, the
// accounts the setup refuses.
#include <gtest/gtest.h>

#include "account_refusal.h"
#include "os_error.h"
#include "paths.h"
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

// Wine runs as one user in one session: the decision gets the account handed in.
TEST(AccountRefusal, AccountsNoOneLogsOnWithAreRefusedUnlessAFolderIsChosen) {
    const auto refusal = [](const wchar_t* sid, const wchar_t* name = L"") {
        return account_refusal(SetupAccount{std::wstring(sid), name, std::nullopt}, false);
    };
    const std::optional<AccountRefusal> system = refusal(L"S-1-5-18", L"NT AUTHORITY\\SYSTEM");
    ASSERT_TRUE(system.has_value());
    EXPECT_EQ(system->kind, RefusedAccount::Service);
    EXPECT_EQ(system->reason,
              "el instalador se ejecuta con la cuenta del sistema; ej\u00E9cutelo en la sesi\u00F3n del usuario");
    const std::optional<AccountRefusal> local_service = refusal(L"S-1-5-19", L"NT AUTHORITY\\LOCAL SERVICE");
    ASSERT_TRUE(local_service.has_value());
    EXPECT_EQ(local_service->kind, RefusedAccount::Service);
    EXPECT_EQ(local_service->reason,
              "el instalador se ejecuta con la cuenta de servicio NT AUTHORITY\\LOCAL SERVICE (S-1-5-19); "
              "ej\u00E9cutelo en la sesi\u00F3n del usuario");
    // Without its name, the account is named by its SID.
    EXPECT_EQ(refusal(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464")->reason,
              "el instalador se ejecuta con la cuenta de servicio "
              "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464; "
              "ej\u00E9cutelo en la sesi\u00F3n del usuario");
    for (const wchar_t* sid :
         {L"S-1-5-20", L"S-1-5-7", L"S-1-5-17", L"S-1-5-80-0", L"S-1-5-82-1-2-3-4-5", L"S-1-5-83-1-2-3-4-5",
          L"S-1-5-84-0-0-0-0-0", L"S-1-5-87-1-2-3-4-5", L"S-1-5-90-0-1", L"S-1-5-96-0-1"}) {
        ASSERT_TRUE(refusal(sid).has_value()) << utf16_to_utf8(sid);
        EXPECT_EQ(refusal(sid)->kind, RefusedAccount::Service) << utf16_to_utf8(sid);
        EXPECT_TRUE(is_service_account(sid)) << utf16_to_utf8(sid);
    }
    // People's accounts, and SIDs that only begin like a service's.
    for (const wchar_t* sid : {L"S-1-5-21-1004336348-1177238915-682003330-1001", L"S-1-5-180", L"S-1-5-190",
                               L"S-1-5-80", L"S-1-5-800-1", L"S-1-5-32-544", L"S-1-12-1-1-2-3-4", L""}) {
        EXPECT_EQ(refusal(sid), std::nullopt) << utf16_to_utf8(sid);
        EXPECT_FALSE(is_service_account(sid)) << utf16_to_utf8(sid);
    }
    EXPECT_EQ(account_refusal(SetupAccount{}, false), std::nullopt);  // nothing could be read
    // A chosen folder says where the plug-in goes, whoever runs the setup.
    for (const wchar_t* sid : {L"S-1-5-18", L"S-1-5-19", L"S-1-5-80-1-2-3-4-5"})
        EXPECT_EQ(account_refusal(SetupAccount{std::wstring(sid), L"", std::nullopt}, true), std::nullopt);
}

// Over the shoulder: the session's user typed in an admin's name and password.
TEST(AccountRefusal, SetupUserWhoIsNotTheSessionsUserIsRefused) {
    const std::wstring user = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    const auto refusal = [&](const wchar_t* name, std::optional<std::wstring> session_user, bool chosen = false) {
        return account_refusal(SetupAccount{user, name, std::move(session_user)}, chosen);
    };
    const std::optional<AccountRefusal> other = refusal(L"CONTOSO\\admin", L"CONTOSO\\ana");
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(other->kind, RefusedAccount::OtherUser);
    EXPECT_EQ(other->reason,
              "el instalador se ejecuta con la cuenta CONTOSO\\admin (" + utf16_to_utf8(user) +
                  "), que no es la de esta sesi\u00F3n (CONTOSO\\ana); ej\u00E9cutelo con su propia cuenta");
    EXPECT_TRUE(refusal(L"PC\\ana", L"CONTOSO\\ana").has_value());  // same name, another domain
    EXPECT_TRUE(refusal(L"PC\\Jos\u00E9", L"PC\\ana").has_value());
    // The same user, whatever the case, and with or without the domain on either side.
    for (const wchar_t* same : {L"CONTOSO\\ana", L"contoso\\ANA", L"ana"})
        EXPECT_EQ(refusal(same, L"CONTOSO\\ana"), std::nullopt) << utf16_to_utf8(same);
    EXPECT_EQ(refusal(L"CONTOSO\\ana", L"Ana"), std::nullopt);
    EXPECT_EQ(refusal(L"PC\\Jos\u00C9", L"pc\\jos\u00E9"), std::nullopt);
    // No user at the session (a scheduled task), or no name for the setup's own: nothing to compare.
    EXPECT_EQ(refusal(L"CONTOSO\\admin", std::nullopt), std::nullopt);
    EXPECT_EQ(refusal(L"", L"CONTOSO\\ana"), std::nullopt);
    EXPECT_EQ(refusal(L"CONTOSO\\admin", L"CONTOSO\\ana", true), std::nullopt);
}

// This process's own account is read: a user's SID, its name, and, under Wine, the same user at
// the session, so the real runs here go on.
TEST(AccountRefusal, OwnAccountIsReadAndNotRefused) {
    const SetupAccount own = read_setup_account();
    ASSERT_TRUE(own.user_sid.has_value());
    EXPECT_TRUE(own.user_sid->starts_with(L"S-1-5-21-")) << utf16_to_utf8(*own.user_sid);
    EXPECT_EQ(own.user_sid, process_user_sid());
    EXPECT_NE(own.user_name.find(L'\\'), std::wstring::npos) << utf16_to_utf8(own.user_name);
    ASSERT_TRUE(own.session_user.has_value());
    EXPECT_EQ(own.session_user->substr(own.session_user->find(L'\\')), own.user_name.substr(own.user_name.find(L'\\')));
    EXPECT_EQ(account_refusal(own, false), std::nullopt);
}

}  // namespace
