#include "tools/wdi-simple/DriverFiles.h"

#include "tools/wdi-simple/InfWriter.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace juv::tool {

namespace {

// System messages come as narrow text; they are ASCII in the locales the tool runs in, and a
// stray byte only shows oddly.
std::wstring Widen(const std::string& text)
{
    std::wstring wide;
    for (const char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

std::wstring Shown(const std::filesystem::path& path)
{
    try {
        return L"'" + path.wstring() + L"'";
    } catch (const std::exception&) {
        // A name that is not valid in the locale's encoding: the bytes still tell the user which.
        return L"'" + Widen(path.string()) + L"'";
    }
}

} // namespace

std::filesystem::path WriteDriverFiles(const ToolOptions& options, const std::filesystem::path& folder)
{
    std::error_code error;
    const bool isFolder = std::filesystem::is_directory(folder, error);
    if (!isFolder && std::filesystem::exists(folder, error))
        throw ToolError(L"cannot use " + Shown(folder) + L" as the destination: it is not a folder");
    if (!isFolder && !std::filesystem::create_directories(folder, error) && error)
        throw ToolError(L"cannot create folder " + Shown(folder) + L": " + Widen(error.message()));

    const std::filesystem::path inf = folder / options.infName;
    const std::string bytes = EncodeInf(InfText(options));
    errno = 0;
    std::ofstream file(inf, std::ios::binary | std::ios::trunc);
    if (file) file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (file) file.close();
    if (!file) {
        const int cause = errno;
        throw ToolError(L"cannot write " + Shown(inf) +
                        (cause ? L": " + Widen(std::generic_category().message(cause)) : std::wstring()));
    }
    return inf;
}

ToolRun RunTool(const std::vector<std::wstring>& args)
{
    ToolRun run;
    ToolOptions options;
    try {
        options = ParseToolOptions(args);
    } catch (const ToolError& error) {
        run.err = L"wdi-simple: " + error.Message() + L"\n\n" + UsageText();
        run.exitCode = ExitBadOptions;
        return run;
    }
    if (options.help) {
        run.out = UsageText();
        return run;
    }

    try {
        const auto inf = WriteDriverFiles(options, std::filesystem::path(options.destination));
        std::error_code error;
        const auto absolute = std::filesystem::absolute(inf.parent_path(), error);
        run.out = L"stand-in: driver files for " + MatchingId(options) + L" (" +
                  DriverTypeName(options.driverType) + L") written to " + Shown(error ? inf.parent_path() : absolute) +
                  L"; nothing was installed\n";
    } catch (const ToolError& error) {
        run.err = L"wdi-simple: " + error.Message() + L"\n";
        run.exitCode = ExitWriteFailed;
    } catch (const std::exception& error) {
        // The file system throws for names it cannot even represent; that is a write failure too.
        run.err = L"wdi-simple: cannot write the driver files: " + Widen(error.what()) + L"\n";
        run.exitCode = ExitWriteFailed;
    }
    return run;
}

} // namespace juv::tool
