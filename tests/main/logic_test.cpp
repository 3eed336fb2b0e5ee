// Pure rules: placeholders, language mapping, message texts, path rules, text conversion and
// the failure texts built from system errors.
#include <gtest/gtest.h>

#include "embedded.h"
#include "languages.h"
#include "os_error.h"
#include "paths.h"
#include "system_account.h"
#include "test_support.h"
#include "text.h"

namespace {

TEST(Placeholders, ReplacesEveryOccurrenceAndInsertsTheValueVerbatim) {
    EXPECT_EQ(fill_placeholder("a{v}b{v}c", "{v}", "1"), "a1b1c");
    EXPECT_EQ(fill_placeholder("x {e} y", "{e}", "keeps {e} and {v}"), "x keeps {e} and {v} y");
    EXPECT_EQ(fill_placeholder("no placeholder", "{e}", "value"), "no placeholder");
    EXPECT_EQ(fill_placeholder("{v}{v}", "{v}", "{v}"), "{v}{v}");
    EXPECT_EQ(fill_placeholder("{{v}}", "{v}", "0"), "{0}");
}

TEST(Placeholders, EmptyErrorLeavesFourLineFeedsInARow) {
    const std::string text = fill_placeholder(setup_texts_for(UiLanguage::English).failed, "{e}", "");
    EXPECT_NE(text.find("installed:\n\n\n\nWrite to "), std::string::npos) << text;
}

TEST(Languages, PrimaryLanguageDecidesAndEverythingElseIsEnglish) {
    struct Case { unsigned short langid; const char* code; };
    const Case cases[] = {{0x0416, "pt"}, {0x0816, "pt"}, {0x080A, "es"}, {0x0C0A, "es"}, {0x0411, "ja"},
                          {0x0421, "id"}, {0x0409, "en"}, {0x0407, "en"}, {0x040C, "en"}, {0x0000, "en"}};
    for (const Case& c : cases)
        EXPECT_EQ(ui_language_code(ui_language_from_langid(c.langid)), c.code) << std::hex << c.langid;
}

TEST(Texts, EveryLanguageHasItsPlaceholdersExactlyOnceAndNoCarriageReturn) {
    for (UiLanguage language : {UiLanguage::English, UiLanguage::Spanish, UiLanguage::Portuguese,
                                UiLanguage::Japanese, UiLanguage::Indonesian}) {
        const SetupTexts& t = setup_texts_for(language);
        const std::string code(ui_language_code(language));
        auto count = [](std::string_view text, std::string_view what) {
            size_t n = 0;
            for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
            return n;
        };
        EXPECT_EQ(count(t.confirm, "{v}"), 1u) << code;
        EXPECT_EQ(count(t.failed, "{e}"), 1u) << code;
        EXPECT_EQ(count(t.done, "{"), 0u) << code;
        EXPECT_EQ(count(t.failed, kSupportEmail), 1u) << code;
        for (std::string_view text : {t.confirm, t.done, t.failed}) EXPECT_EQ(count(text, "\r"), 0u) << code;
        EXPECT_EQ(count(t.done, " \u203A Orvelle \u203A Lumivane"), 1u) << code;
    }
}

TEST(Texts, EnglishConfirmationNamesTheVersion) {
    const std::string text = fill_placeholder(setup_texts_for(UiLanguage::English).confirm, "{v}", kSetupVersion);
    EXPECT_EQ(text.substr(0, text.find('\n')), "Lumivane 0.4.0 will be installed in Affinity.");
}

TEST(Texts, FailureTextsFrameTheAddressExactly) {
    const std::string address(kSupportEmail);
    EXPECT_EQ(setup_texts_for(UiLanguage::English).failed,
              "Lumivane could not be installed:\n\n{e}\n\nWrite to " + address + " and we will help you.");
    EXPECT_EQ(setup_texts_for(UiLanguage::Japanese).failed,
              "Lumivane をインストールできませんでした:\n\n{e}\n\n" + address + " までご連絡ください。");
    EXPECT_EQ(setup_texts_for(UiLanguage::Spanish).failed,
              "No se pudo instalar Lumivane:\n\n{e}\n\nEscríbenos a " + address + " y te ayudamos.");
}

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
    EXPECT_EQ(utf16_to_utf8(std::wstring{L'a', static_cast<wchar_t>(0xD800), L'b'}), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(utf16_to_utf8(std::wstring{static_cast<wchar_t>(0xDC00)}), "\xEF\xBF\xBD");
    EXPECT_EQ(utf16_to_utf8(std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}),
              "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16_to_utf8(std::wstring{static_cast<wchar_t>(0xD83D)}), "\xEF\xBF\xBD");
}

TEST(Text, Utf8ToUtf16RoundTripsAndReplacesBadBytes) {
    EXPECT_EQ(utf8_to_utf16("Lumivane をインストール"), L"Lumivane をインストール");
    EXPECT_EQ(utf8_to_utf16("a\xFF" "b"), L"a\uFFFDb");
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80"), (std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}));
    // One U+FFFD per maximal subpart of a bad sequence, and one for a sequence the text cuts off.
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98" "A"), L"\uFFFDA");
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
    ASSERT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             16, nullptr), 0u);
    const DWORD lookup = GetLastError();
    EXPECT_EQ(os_error_reason(code), "OS Error 732819469 (FormatMessageW() returned error " +
                                         std::to_string(lookup) + ")");
}

TEST(FailureTexts, PathWithUnpairedSurrogateShowsReplacement) {
    const std::wstring path{L'C', L':', L'\\', static_cast<wchar_t>(0xDC01)};
    EXPECT_EQ(path_failure(path, "reason"), "C:\\\xEF\xBF\xBD: reason");
}

// Wine cannot run as SYSTEM: the decision gets the token's user handed in.
TEST(SystemAccount, OnlyLocalSystemWithoutAChosenFolderIsRefused) {
    EXPECT_EQ(system_account_refusal(std::string("S-1-5-18"), false),
              "el instalador se ejecuta con la cuenta del sistema; ej\u00E9cutelo en la sesi\u00F3n del usuario");
    EXPECT_EQ(system_account_refusal(std::string("S-1-5-18"), true), std::nullopt);
    for (const char* other : {"S-1-5-180", "S-1-5-19", "S-1-5-20", "S-1-5-21-1004336348-1177238915-682003330-1001", ""})
        EXPECT_EQ(system_account_refusal(std::string(other), false), std::nullopt) << other;
    EXPECT_EQ(system_account_refusal(std::nullopt, false), std::nullopt);
    // This process's own user is read, and it is not SYSTEM, so the real runs here go on.
    const std::optional<std::string> own = process_user_sid();
    ASSERT_TRUE(own.has_value());
    EXPECT_TRUE(own->starts_with("S-1-5-")) << *own;
    EXPECT_NE(*own, kLocalSystemSid);
}

}  // namespace
