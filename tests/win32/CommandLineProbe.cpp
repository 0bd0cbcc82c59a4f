// A child process for the command-line tests: writes its parameters 0 to n, as the program
// splits them, to standard output in UTF-16, each ended by a zero character.
#include "errlog32/CommandLine.h"
#include "platform/win32/Win32Services.h"

#include <windows.h>

int wmain() {
    const juv::Win32CommandLine commandLine;
    const juv::CommandLineParams params(commandLine);
    std::wstring out;
    for (int i = 0; i <= params.Count(); ++i) {
        out += params.Param(i);
        out += L'\0';
    }
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size() * sizeof(wchar_t)),
                &written, nullptr);
    return juv::CmdParamPresent(commandLine, L"/AUTO") ? 1 : 0;
}
