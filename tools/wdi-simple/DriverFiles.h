#pragma once

#include "tools/wdi-simple/ToolOptions.h"

#include <filesystem>
#include <string>
#include <vector>

namespace juv::tool {

// Exit codes of the tool. Negative for failures, as the installer that runs it expects.
inline constexpr int ExitSuccess = 0;
inline constexpr int ExitBadOptions = -1;
inline constexpr int ExitWriteFailed = -2;

// Creates folder (and its parents) if needed and writes the INF into it. Returns the INF's path.
// Throws ToolError naming the path and the reason when the folder or the file cannot be made.
std::filesystem::path WriteDriverFiles(const ToolOptions& options, const std::filesystem::path& folder);

struct ToolRun {
    int exitCode = ExitSuccess;
    std::wstring out;
    std::wstring err;
};

// Everything the console program does except talking to the console, so it can be tested on any
// system: parse args, write the files into options.destination (relative to the current folder),
// and say what happened.
ToolRun RunTool(const std::vector<std::wstring>& args);

} // namespace juv::tool
