#include "tests/win32/Win32Helpers.h"

#include <gtest/gtest.h>

namespace juv::test {
namespace {

using Items = std::vector<std::wstring>;

Items Probe(const std::wstring& arguments, DWORD* exitCode = nullptr) {
    const std::wstring probe = ProgramFolder() + L"cmdline_probe.exe";
    const ChildResult result = RunChild(probe, L"\"" + probe + L"\" " + arguments);
    if (exitCode) *exitCode = result.exitCode;
    Items items;
    std::size_t start = 0;
    for (std::size_t end; (end = result.output.find(L'\0', start)) != std::wstring::npos; start = end + 1)
        items.push_back(result.output.substr(start, end - start));
    return items;
}

TEST(CommandLineOfARealProcess, ParameterZeroIsTheModulePath) {
    const Items items = Probe(L"");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0], ProgramFolder() + L"cmdline_probe.exe");

    // Whatever the caller calls the program, parameter 0 is where it really lies.
    const std::wstring probe = ProgramFolder() + L"cmdline_probe.exe";
    const ChildResult named = RunChild(probe, L"SomethingElse.exe /x");
    EXPECT_EQ(named.output.substr(0, named.output.find(L'\0')), probe);
}

TEST(CommandLineOfARealProcess, SplitsAsTheProgramPromises) {
    DWORD exitCode = 0;
    const Items items = Probe(L"\"a b\" \"\" c\td pre\"mid dle\"post \"/auto=1\" \"\"\"\" \x01x \"tail", &exitCode);
    EXPECT_EQ(items, (Items{ProgramFolder() + L"cmdline_probe.exe", L"a b", L"c", L"d", L"premid dlepost",
                            L"/auto=1", L"x", L"tail"}));
    EXPECT_EQ(exitCode, 1u); // the switch was found in its quoted, lower-case form
}

TEST(CommandLineOfARealProcess, StopsCountingAtALoneQuoteAtTheEnd) {
    DWORD exitCode = 0;
    const Items items = Probe(L"first \"", &exitCode);
    EXPECT_EQ(items, (Items{ProgramFolder() + L"cmdline_probe.exe", L"first"}));
    EXPECT_EQ(exitCode, 0u);
}

TEST(CommandLineOfARealProcess, KeepsNonAsciiTextAndVeryLongLines) {
    const std::wstring longItem(32000, L'x');
    const Items items = Probe(L"\u00e4\u65e5\u672c " + longItem + L" -AUTO");
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[1], L"\u00e4\u65e5\u672c");
    EXPECT_EQ(items[2], longItem);
    EXPECT_EQ(items[3], L"-AUTO");
}

} // namespace
} // namespace juv::test
