// Feeds arbitrary argument vectors to the stand-in's option parser, and what it accepts on to
// the INF writer: neither may crash, hang or throw anything but ToolError.
//
// Input: arguments separated by NUL bytes, each byte one character. Input that starts with the
// UTF-16LE byte-order mark FF FE is read as UTF-16LE units instead, separated by 0x0000, so wide
// characters and broken surrogates get their turn too.
#include "tools/wdi-simple/InfWriter.h"
#include "tools/wdi-simple/Text.h"
#include "tools/wdi-simple/ToolOptions.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> SplitArgs(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::wstring> args(1);
    const bool wide = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
    const std::size_t step = wide ? 2 : 1;
    for (std::size_t i = wide ? 2 : 0; i + step <= size; i += step) {
        const unsigned unit = wide ? data[i] | (data[i + 1] << 8) : data[i];
        if (unit == 0)
            args.emplace_back();
        else
            args.back() += static_cast<wchar_t>(unit);
    }
    return args;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::wstring> args = SplitArgs(data, size);
    try {
        const juv::tool::ToolOptions options = juv::tool::ParseToolOptions(args);
        if (!options.help) {
            const std::string bytes = juv::tool::EncodeInf(juv::tool::InfText(options));
            if (bytes.empty()) __builtin_trap();
        }
    } catch (const juv::tool::ToolError& error) {
        // A refusal must say why.
        if (error.Message().empty() || juv::tool::ToUtf8(error.Message()).empty()) __builtin_trap();
    }
    return 0;
}
