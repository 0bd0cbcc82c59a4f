#include "errlog32/CommandLine.h"
#include "tests/fakes/FakeServices.h"

#include <gtest/gtest.h>

namespace juv::test {
namespace {

using Items = std::vector<std::wstring>;

TEST(SplitCommandLine, SeparatesOnBlanksTabsAndControlCharacters) {
    EXPECT_EQ(SplitCommandLine(L"prog.exe a\tb\x01" L"c \x1f d   e"), (Items{L"prog.exe", L"a", L"b", L"c", L"d", L"e"}));
    EXPECT_EQ(SplitCommandLine(L"  prog.exe  "), (Items{L"prog.exe"}));
    EXPECT_EQ(SplitCommandLine(L""), (Items{L""}));
}

TEST(SplitCommandLine, QuotedStretchesKeepBlanksAndLoseTheirQuotes) {
    EXPECT_EQ(SplitCommandLine(L"\"C:\\Program Files\\x.exe\" \"a b\"\tc"),
              (Items{L"C:\\Program Files\\x.exe", L"a b", L"c"}));
    // Text before, inside and after a quoted stretch joins into one item.
    EXPECT_EQ(SplitCommandLine(L"p pre\"mid dle\"post next"), (Items{L"p", L"premid dlepost", L"next"}));
    // An unclosed stretch runs to the end of the line, separators included.
    EXPECT_EQ(SplitCommandLine(L"p \"a b  "), (Items{L"p", L"a b  "}));
}

TEST(SplitCommandLine, EmptyQuotePairsWhereAnItemBeginsProduceNothing) {
    EXPECT_EQ(SplitCommandLine(L"p \"\" a \"\"\"\" b"), (Items{L"p", L"a", L"b"}));
    EXPECT_EQ(SplitCommandLine(L"p a\"\"b"), (Items{L"p", L"ab"}));
}

TEST(SplitCommandLine, CountingStopsAtTheFirstEmptyItem) {
    // A lone quote standing last gives an empty item: nothing after it counts.
    EXPECT_EQ(SplitCommandLine(L"p a \""), (Items{L"p", L"a"}));
    EXPECT_EQ(SplitCommandLine(L"p a \"\""), (Items{L"p", L"a"}));
    // The line ends at the first zero character.
    EXPECT_EQ(SplitCommandLine(std::wstring(L"p a\0b c", 7)), (Items{L"p", L"a"}));
}

TEST(SplitCommandLine, KeepsCharactersAboveTheBlankWhateverTheyAre) {
    EXPECT_EQ(SplitCommandLine(L"p \u00e4\u65e5\u672c /x:\u00e9"), (Items{L"p", L"\u00e4\u65e5\u672c", L"/x:\u00e9"}));
}

class CommandLineLookup : public ::testing::Test {
protected:
    FakeCommandLine line;
    void Given(const std::wstring& parameters) { line.commandLine = L"\"C:\\Tools\\ZoroDerERIDovudi.exe\" " + parameters; }
};

TEST_F(CommandLineLookup, ParameterZeroIsTheModulePathNotTheFirstItem) {
    line.commandLine = L"setup a b";
    line.modulePath = L"C:\\Long Folder\\ZoroDerERIDovudi.exe";
    const CommandLineParams params(line);
    EXPECT_EQ(params.Count(), 2);
    EXPECT_EQ(params.Param(0), L"C:\\Long Folder\\ZoroDerERIDovudi.exe");
    EXPECT_EQ(params.Param(1), L"a");
    EXPECT_EQ(params.Param(2), L"b");
    EXPECT_EQ(params.Param(3), L"");
    EXPECT_EQ(params.Param(-1), L"");
}

TEST_F(CommandLineLookup, AutoSwitchInAnyFormIsPresent) {
    for (const wchar_t* form : {L"/AUTO", L"-auto", L"/Auto", L"\"/AUTO\"", L"-AuTo", L"/AUTOMATIC", L"x /AUTO y"}) {
        Given(form);
        EXPECT_TRUE(CmdParamPresent(line, L"/AUTO")) << form;
    }
    for (const wchar_t* form : {L"", L"/AUT", L"AUTO", L"x/AUTO", L"/ AUTO", L"\\AUTO", L"--AUTO", L"/AUT0"}) {
        Given(form);
        EXPECT_FALSE(CmdParamPresent(line, L"/AUTO")) << form;
    }
}

TEST_F(CommandLineLookup, EveryLookupReadsTheCommandLineAgain) {
    Given(L"");
    EXPECT_FALSE(CmdParamPresent(line, L"/AUTO"));
    Given(L"/auto");
    EXPECT_TRUE(CmdParamPresent(line, L"/AUTO"));
    EXPECT_EQ(line.reads, 2);
}

TEST_F(CommandLineLookup, ValueFollowsTheSwitchLessOneValueMark) {
    const auto value = [&](const std::wstring& parameters, bool ignoreCase) {
        Given(parameters);
        std::wstring v = L"unchanged";
        return GetCmdParam(line, L"/AUTO", v, ignoreCase) ? v : L"<none>";
    };
    EXPECT_EQ(value(L"/AUTO", true), L"");
    EXPECT_EQ(value(L"/AUTO=1", true), L"1");
    EXPECT_EQ(value(L"/AUTO:yes", true), L"YES"); // folded with the parameter
    EXPECT_EQ(value(L"/AUTO:yes", false), L"yes");
    EXPECT_EQ(value(L"/AUTO::X", true), L":X");
    EXPECT_EQ(value(L"/AUTO=", true), L"");
    EXPECT_EQ(value(L"/AUTOX", true), L"X");
    EXPECT_EQ(value(L"/AUTO=A /AUTO=B", true), L"A"); // the first match wins
    EXPECT_EQ(value(L"/auto", false), L"<none>");
    EXPECT_EQ(value(L"-AUTO", false), L"");
}

TEST_F(CommandLineLookup, FailedLookupLeavesValueUntouched) {
    Given(L"/OTHER=1 file.txt");
    std::wstring value = L"kept";
    EXPECT_FALSE(GetCmdParam(line, L"/AUTO", value, true));
    EXPECT_EQ(value, L"kept");
    Given(L"");
    EXPECT_FALSE(GetCmdParam(line, L"", value, true));
    EXPECT_EQ(value, L"kept");
}

TEST_F(CommandLineLookup, SwitchesThatCanNeverMatch) {
    Given(L"-auto /auto");
    std::wstring value;
    EXPECT_FALSE(GetCmdParam(line, L"-AUTO", value, true)); // a leading '-' became '/'
    EXPECT_FALSE(GetCmdParam(line, L"/auto", value, true)); // the parameter was folded, the switch not
}

TEST_F(CommandLineLookup, EmptySwitchAsksForALeadingNonSwitch) {
    std::wstring value;
    Given(L"File.txt /AUTO");
    EXPECT_TRUE(GetCmdParam(line, L"", value, true));
    EXPECT_EQ(value, L"File.txt"); // never folded
    value.clear();
    Given(L"/AUTO File.txt");
    EXPECT_FALSE(GetCmdParam(line, L"", value, true));
    Given(L"-x File.txt");
    EXPECT_FALSE(GetCmdParam(line, L"", value, false));
    EXPECT_EQ(value, L"");
}

TEST(UpCaseAscii, ChangesOnlyAsciiLettersAndNoOtherHolder) {
    std::wstring s = L"abc-xyz \u00e4\u00e9 AZ 09 {}";
    const std::wstring other = s;
    UpCaseAscii(s);
    EXPECT_EQ(s, L"ABC-XYZ \u00e4\u00e9 AZ 09 {}");
    EXPECT_EQ(other, L"abc-xyz \u00e4\u00e9 AZ 09 {}");
    std::wstring empty;
    UpCaseAscii(empty);
    EXPECT_EQ(empty, L"");
}

TEST(AddBackslash, AppendsOnlyTheBackslashThatIsMissing) {
    EXPECT_EQ(AddBackslash(L""), L"");
    EXPECT_EQ(AddBackslash(L"C:\\Temp"), L"C:\\Temp\\");
    EXPECT_EQ(AddBackslash(L"C:\\Temp\\"), L"C:\\Temp\\");
    EXPECT_EQ(AddBackslash(AddBackslash(L"C:\\Temp")), AddBackslash(L"C:\\Temp"));
    EXPECT_EQ(AddBackslash(L"C:/Temp/"), L"C:/Temp/\\");
}

} // namespace
} // namespace juv::test
