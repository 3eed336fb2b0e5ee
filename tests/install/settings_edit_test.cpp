// The preferences edit on its own: bytes in, new text / AlreadyAllowed / reason out.

#include "settings_edit.h"
#include "text.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

std::string new_text_of(const std::string& in) {
    const SettingsEdit edit = edit_host_settings(in);
    EXPECT_TRUE(edit.ok() && edit.value()) << (edit.ok() ? "already allowed" : edit.error());
    return edit.ok() ? edit.value().value_or("") : edit.error();
}

std::string failure_of(const std::string& in) {
    const SettingsEdit edit = edit_host_settings(in);
    EXPECT_FALSE(edit.ok());
    return edit.error();
}

bool already_allowed(const std::string& in) {
    const SettingsEdit edit = edit_host_settings(in);
    return edit.ok() && !edit.value();
}

const std::string kElement = "<AllowUnknownPlugins>True</AllowUnknownPlugins>";

}  // namespace

// A missing file is created from this text, so it must be exact and must itself need no edit.
TEST(NewSettingsFile, IsTheExact300Bytes) {
    const std::string expected =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<Settings xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
        "xsi:type=\"Serif.Interop.Persona.Settings.PhotoshopPluginsSettings\">\r\n"
        "\t<AllowUnknownPlugins>True</AllowUnknownPlugins>\r\n"
        "\t<Directories />\r\n"
        "</Settings>";
    EXPECT_EQ(std::string(new_settings_text()), expected);
    EXPECT_EQ(new_settings_text().size(), 300u);
    EXPECT_TRUE(already_allowed(std::string(new_settings_text())));
}

// The reason texts and numbers follow the U+FFFD practice: index where the valid prefix ends,
// length of the maximal subpart of the bad sequence.
TEST(Utf8Check, InvalidSequencesGiveMaximalSubpartAndIndex) {
    EXPECT_EQ(failure_of("\xFF\xFE<\0S\0"s), "invalid utf-8 sequence of 1 bytes from index 0");
    EXPECT_EQ(failure_of("ab\xE0\x80<"), "invalid utf-8 sequence of 1 bytes from index 2");
    EXPECT_EQ(failure_of("\xF0\x9F\x98\x41"), "invalid utf-8 sequence of 3 bytes from index 0");
    EXPECT_EQ(failure_of("\xC0\xAF"), "invalid utf-8 sequence of 1 bytes from index 0");
    EXPECT_EQ(failure_of("x\xE2\x82z"), "invalid utf-8 sequence of 2 bytes from index 1");
    EXPECT_EQ(failure_of("\xED\xA0\x80"), "invalid utf-8 sequence of 1 bytes from index 0");  // surrogate
    EXPECT_EQ(failure_of("\xF4\x90\x80\x80"), "invalid utf-8 sequence of 1 bytes from index 0");
    EXPECT_EQ(failure_of("\x80"), "invalid utf-8 sequence of 1 bytes from index 0");
    // The index counts bytes of the valid prefix, multi-byte characters included.
    EXPECT_EQ(failure_of("\xC3\xA9\xE3\x80\x80\xF0\x9F\x98\x80\xF8"), "invalid utf-8 sequence of 1 bytes from index 9");
}

TEST(Utf8Check, TextEndingInsideAValidSequenceIsIncomplete) {
    EXPECT_EQ(failure_of("<Settings>\xE2\x82"), "incomplete utf-8 byte sequence from index 10");
    EXPECT_EQ(failure_of("\xF0\x9F\x98"), "incomplete utf-8 byte sequence from index 0");
    EXPECT_EQ(failure_of("\xC3"), "incomplete utf-8 byte sequence from index 0");
    // Ending after a byte that already breaks the sequence is invalid, not incomplete.
    EXPECT_EQ(failure_of("\xE0\x80"), "invalid utf-8 sequence of 1 bytes from index 0");
}

TEST(Utf8Check, WellFormedTextPassesAndTheMarkIsText) {
    EXPECT_FALSE(utf8_error("\xEF\xBB\xBF\xF4\x8F\xBF\xBF\xED\x9F\xBF\xE0\xA0\x80"));
    const std::string in = "\xEF\xBB\xBF<Settings>\r\n</Settings>";
    EXPECT_EQ(new_text_of(in), "\xEF\xBB\xBF<Settings>\r\n\t" + kElement + "\r\n</Settings>");
}

// Without the key the element becomes the last line inside the last Settings element, with a TAB
// and CR LF whatever the file itself uses.
TEST(MissingKey, InsertedBeforeTheLastSettingsEnd) {
    EXPECT_EQ(new_text_of("<Settings>\r\n\t<Directories />\r\n</Settings>"),
              "<Settings>\r\n\t<Directories />\r\n\t" + kElement + "\r\n</Settings>");
    EXPECT_EQ(new_text_of("<Settings>\n  <Directories />\n</Settings>\n"),
              "<Settings>\n  <Directories />\n\t" + kElement + "\r\n</Settings>\n");
    EXPECT_EQ(new_text_of("<Settings></Settings><Settings></Settings>"),
              "<Settings></Settings><Settings>\t" + kElement + "\r\n</Settings>");
}

TEST(MissingKey, OtherCaseKeyCountsAsMissing) {
    const std::string in = "<Settings><allowunknownplugins>true</allowunknownplugins></Settings>";
    EXPECT_EQ(new_text_of(in),
              "<Settings><allowunknownplugins>true</allowunknownplugins>\t" + kElement + "\r\n</Settings>");
}

// A host that died while saving leaves an empty file, or one with only a byte-order mark and
// white space: it is written as if there were none.
TEST(MissingKey, EmptyFileGetsTheNewFileText) {
    for (const std::string in : {"", "\xEF\xBB\xBF", "\xEF\xBB\xBF \r\n\t", "\r\n", "  \n\xE3\x80\x80"})
        EXPECT_EQ(new_text_of(in), std::string(new_settings_text())) << in;
}

TEST(MissingKey, NoSettingsEndMeansNotTheExpectedFile) {
    EXPECT_EQ(failure_of("\xEF\xBB\xBF\r\n<Root/>"), "no es el archivo de ajustes esperado");
    EXPECT_EQ(failure_of("<Settings><Directories /></settings>"), "no es el archivo de ajustes esperado");
}

// A value that is not true is replaced by the element; nothing else of the file moves.
TEST(FalseValue, OnlyTheElementChanges) {
    const std::string before = "\xEF\xBB\xBF<?xml?>\n<Settings>\n    <A>1</A>\n    ";
    const std::string after = "\n    <!-- \xE2\x9C\x93 -->\n</Settings>";
    for (const std::string value : {"False", "1", "yes", "", "  ", "tru", "true.", "\xE2\x80\x8Btrue"}) {
        const std::string in = before + "<AllowUnknownPlugins>" + value + "</AllowUnknownPlugins>" + after;
        EXPECT_EQ(new_text_of(in), before + kElement + after) << value;
    }
}

TEST(FalseValue, EmptyElementsAreReplacedWithTheirAttributes) {
    for (const std::string element :
         {"<AllowUnknownPlugins />", "<AllowUnknownPlugins/>", "<AllowUnknownPlugins xsi:nil=\"true\" />",
          "<AllowUnknownPlugins\r\n\tvalue='x'/>"}) {
        EXPECT_EQ(new_text_of("<Settings>\r\n\t" + element + "\r\n</Settings>"),
                  "<Settings>\r\n\t" + kElement + "\r\n</Settings>")
            << element;
    }
}

TEST(FalseValue, AttributesAndOnlyTheFirstOccurrenceAreReplaced) {
    const std::string second = "<AllowUnknownPlugins>no</AllowUnknownPlugins>";
    EXPECT_EQ(new_text_of("<S><AllowUnknownPlugins a=\"b\">no</AllowUnknownPlugins>" + second + "</S>"),
              "<S>" + kElement + second + "</S>");
}

// A true value, however spaced or cased, means nothing is written.
TEST(TrueValue, IsAlreadyAllowed) {
    for (const std::string value : {"True", " TRUE ", "true", "tRuE", "\r\n\t\v\ftrue\r\n", "\xE3\x80\x80true\xC2\xA0",
                                    "\xC2\x85True\xE2\x80\xA8\xE2\x80\xA9",
                                    "\xE1\x9A\x80\xE2\x80\x80\xE2\x80\x8A"
                                    "true\xE2\x80\xAF\xE2\x81\x9F"}) {
        EXPECT_TRUE(already_allowed("<Settings><AllowUnknownPlugins>" + value + "</AllowUnknownPlugins></Settings>"))
            << value;
    }
    EXPECT_TRUE(already_allowed("<AllowUnknownPlugins attr=\"1\">True</AllowUnknownPlugins>"));
}

// Characters that look like space but are not White_Space keep the value from reading "true".
TEST(TrueValue, NonWhiteSpaceAroundTrueIsNotTrimmed) {
    EXPECT_FALSE(already_allowed("<AllowUnknownPlugins>\xEF\xBB\xBFtrue</AllowUnknownPlugins></Settings>"));
    EXPECT_FALSE(already_allowed("<AllowUnknownPlugins>true\xE2\x80\x8B</AllowUnknownPlugins></Settings>"));
    EXPECT_FALSE(already_allowed("<AllowUnknownPlugins>\"true\"</AllowUnknownPlugins></Settings>"));
}

TEST(Incomplete, KeyWithoutBracketOrClosingTag) {
    EXPECT_EQ(failure_of("<AllowUnknownPlugins>True"), "XML incompleto");
    EXPECT_EQ(failure_of("<Settings><AllowUnknownPlugins>True</Settings>"), "XML incompleto");
    EXPECT_EQ(failure_of("<Settings></Settings><AllowUnknownPlugins"), "XML incompleto");
    EXPECT_EQ(failure_of("<Settings><AllowUnknownPlugins </Settings"), "XML incompleto");
}

// An element whose name only begins with the key is not the key: it stays whole.
TEST(NameBoundary, LongerElementNameIsKeptIntact) {
    const std::string folder = "<AllowUnknownPluginsFolder>C:\\x</AllowUnknownPluginsFolder>";
    EXPECT_EQ(new_text_of("<Settings>" + folder + "<AllowUnknownPlugins>False</AllowUnknownPlugins></Settings>"),
              "<Settings>" + folder + kElement + "</Settings>");
    EXPECT_EQ(new_text_of("<Settings>" + folder + "</Settings>"),
              "<Settings>" + folder + "\t" + kElement + "\r\n</Settings>");
    EXPECT_FALSE(already_allowed("<Settings><AllowUnknownPluginsX>true</AllowUnknownPlugins></Settings>"));
}

TEST(NameBoundary, WhiteSpaceAfterTheNameEndsIt) {
    EXPECT_TRUE(already_allowed("<AllowUnknownPlugins\n>true</AllowUnknownPlugins>"));
    EXPECT_EQ(new_text_of("<S><AllowUnknownPlugins\tx='1'>0</AllowUnknownPlugins></S>"), "<S>" + kElement + "</S>");
}

// The key, its closing tag and "</Settings>" count only outside comments, and comments stay whole.
TEST(Comments, OccurrencesInsideCommentsAreNotTheLiveOnes) {
    const std::string old_value = "<!-- <AllowUnknownPlugins>True</AllowUnknownPlugins> -->";
    EXPECT_EQ(new_text_of("<Settings>" + old_value + "<AllowUnknownPlugins>False</AllowUnknownPlugins></Settings>"),
              "<Settings>" + old_value + kElement + "</Settings>");
    EXPECT_EQ(new_text_of("<Settings>" + old_value + "</Settings><!-- </Settings> -->"),
              "<Settings>" + old_value + "\t" + kElement + "\r\n</Settings><!-- </Settings> -->");
    // "<!-->" opens a comment and does not close it.
    EXPECT_EQ(new_text_of("<Settings><!--><AllowUnknownPlugins>True</AllowUnknownPlugins>--></Settings>"),
              "<Settings><!--><AllowUnknownPlugins>True</AllowUnknownPlugins>-->\t" + kElement + "\r\n</Settings>");
    // A closing tag inside a comment within the element does not end it; the element goes whole.
    EXPECT_EQ(new_text_of("<S><AllowUnknownPlugins><!-- </AllowUnknownPlugins> -->no</AllowUnknownPlugins></S>"),
              "<S>" + kElement + "</S>");
    EXPECT_TRUE(already_allowed("<!-- <AllowUnknownPlugins/> --><AllowUnknownPlugins>true</AllowUnknownPlugins>"));
}

// A comment ends only at "-->": a "--" inside it ends nothing.
TEST(Comments, ACommentEndsOnlyAtItsFullCloser) {
    const std::string old_value = "<!-- was -- <AllowUnknownPlugins>False</AllowUnknownPlugins> -->";
    EXPECT_TRUE(already_allowed("<Settings>" + old_value + kElement + "</Settings>"));
}

// CDATA sections and processing instructions hide what they hold as comments do and are kept byte
// for byte; a "<!--" inside CDATA opens no comment.
TEST(Comments, CdataAndProcessingInstructionsAreSkippedLikeComments) {
    const std::string cdata_opener = "<Note><![CDATA[ <!-- ]]></Note>";
    EXPECT_EQ(new_text_of("<Settings>" + cdata_opener + "<AllowUnknownPlugins>no</AllowUnknownPlugins></Settings>"),
              "<Settings>" + cdata_opener + kElement + "</Settings>");
    const std::string cdata_key = "<Note><![CDATA[<AllowUnknownPlugins>True</AllowUnknownPlugins></Settings>]]></Note>";
    EXPECT_EQ(new_text_of("<Settings>" + cdata_key + "</Settings>"),
              "<Settings>" + cdata_key + "\t" + kElement + "\r\n</Settings>");
    const std::string instruction = "<?host <AllowUnknownPlugins>True</AllowUnknownPlugins> ?>";
    EXPECT_EQ(new_text_of(instruction + "<Settings></Settings>"),
              instruction + "<Settings>\t" + kElement + "\r\n</Settings>");
    // "]]" and "?" alone end neither.
    EXPECT_EQ(failure_of("<![CDATA[ ]] </Settings> ] ]>"), "no es el archivo de ajustes esperado");
    EXPECT_EQ(failure_of("<? ? > </Settings>"), "no es el archivo de ajustes esperado");
}

TEST(Comments, AnUnclosedCommentRunsToTheEnd) {
    EXPECT_EQ(
        new_text_of("<Settings></Settings><!-- </Settings> <AllowUnknownPlugins>True</AllowUnknownPlugins>"),
        "<Settings>\t" + kElement + "\r\n</Settings><!-- </Settings> <AllowUnknownPlugins>True</AllowUnknownPlugins>");
    EXPECT_EQ(failure_of("<!-- <Settings></Settings>"), "no es el archivo de ajustes esperado");
    EXPECT_EQ(failure_of("<Settings><AllowUnknownPlugins>True<!-- </AllowUnknownPlugins></Settings>"),
              "XML incompleto");
}

// The written text must satisfy the check on the next run, or the host watch would loop on it.
TEST(Repeat, EditedTextIsAlreadyAllowed) {
    for (const std::string in :
         {"<Settings></Settings>", "<x><AllowUnknownPlugins/></x>", "<AllowUnknownPlugins</Settings>",
          "<a><AllowUnknownPlugins>no</AllowUnknownPlugins></a>"}) {
        EXPECT_TRUE(already_allowed(new_text_of(in))) << in;
    }
}
