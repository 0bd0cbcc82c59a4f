#pragma once

#include "platform/CommandLineService.h"

#include <string>
#include <string_view>
#include <vector>

namespace juv {

// Cuts a command line into its items: separators are the characters 1 to 32, a pair of double
// quotes where an item would begin is skipped, and a quoted stretch keeps its separators while its
// quotes are dropped. The first item is the program as the caller named it. Cutting stops at the
// first empty item, which can only arise at the end of the line.
std::vector<std::wstring> SplitCommandLine(std::wstring_view line);

// The parameters 0 to n of the process: parameter 0 is the executable's full path, parameters
// 1 to n are the command line's items after the first.
class CommandLineParams {
public:
    explicit CommandLineParams(const CommandLineService& source);

    int Count() const { return static_cast<int>(items_.size()) - 1; }
    // The empty text for any index above Count().
    std::wstring Param(int index) const;

private:
    const CommandLineService& source_;
    std::vector<std::wstring> items_;
};

// Looks for a parameter that begins with Switch ('-' counting as '/'); on a match Value receives
// the rest of it, less one ':' or '=' in front. An empty Switch asks for a leading parameter that
// is not a switch. Value stays as it was when nothing matches.
bool GetCmdParam(const CommandLineService& source, const std::wstring& Switch,
                 std::wstring& Value, bool IgnoreCase);

// True when a parameter matches Switch in any ASCII letter case.
bool CmdParamPresent(const CommandLineService& source, const std::wstring& Switch);

// Upper-cases the letters a to z in place and leaves every other character alone.
void UpCaseAscii(std::wstring& S);

// Path ending in a backslash; the empty path stays empty.
std::wstring AddBackslash(const std::wstring& Path);

} // namespace juv
