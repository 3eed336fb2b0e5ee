// Pure rules of the message texts: placeholders, language mapping, the texts themselves.
#include <gtest/gtest.h>

#include "embedded.h"
#include "languages.h"

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
    struct Case {
        unsigned short langid;
        const char* code;
    };
    const Case cases[] = {{0x0416, "pt"}, {0x0816, "pt"}, {0x080A, "es"}, {0x0C0A, "es"}, {0x0411, "ja"},
                          {0x0421, "id"}, {0x0409, "en"}, {0x0407, "en"}, {0x040C, "en"}, {0x0000, "en"}};
    for (const Case& c : cases)
        EXPECT_EQ(ui_language_code(ui_language_from_langid(c.langid)), c.code) << std::hex << c.langid;
}

TEST(Texts, EveryLanguageHasItsPlaceholdersExactlyOnceAndNoCarriageReturn) {
    for (UiLanguage language : {UiLanguage::English, UiLanguage::Spanish, UiLanguage::Portuguese, UiLanguage::Japanese,
                                UiLanguage::Indonesian}) {
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

}  // namespace
