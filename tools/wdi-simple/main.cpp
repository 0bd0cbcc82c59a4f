// The console program the installer runs. All it does beyond RunTool is the console: argv in,
// text out, exit code back.
#include "tools/wdi-simple/DriverFiles.h"
#include "tools/wdi-simple/Text.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// UTF-8 bytes go through pipes and redirection unchanged; a console on a legacy code page may
// show non-ASCII letters oddly, which costs only looks, never the message.
void Print(std::FILE* stream, const std::wstring& text)
{
    const std::string bytes = juv::tool::ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

int Run(const std::vector<std::wstring>& args)
{
    const juv::tool::ToolRun run = juv::tool::RunTool(args);
    Print(stdout, run.out);
    Print(stderr, run.err);
    return run.exitCode;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t* argv[])
{
    return Run(std::vector<std::wstring>(argv + 1, argv + argc));
}
#else
int main(int argc, char* argv[])
{
    std::setlocale(LC_ALL, "");
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        std::wstring wide(std::mbstowcs(nullptr, argv[i], 0) + 1, L'\0');
        const std::size_t length = std::mbstowcs(wide.data(), argv[i], wide.size());
        if (length == static_cast<std::size_t>(-1)) {
            std::fprintf(stderr, "wdi-simple: argument %d is not valid text\n", i);
            return juv::tool::ExitBadOptions;
        }
        wide.resize(length);
        args.push_back(wide);
    }
    return Run(args);
}
#endif
