// Feeds arbitrary command lines to the splitting and the switch lookups. Besides the sanitizers'
// findings, it checks what the splitting promises: no item holds a quote, only the first item
// can be empty, and a failed lookup leaves the value alone.
#include "errlog32/CommandLine.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

class FixedCommandLine final : public juv::CommandLineService {
public:
    explicit FixedCommandLine(std::wstring line) : line_(std::move(line)) {}
    std::wstring CommandLine() const override { return line_; }
    std::wstring ModuleFileName() const override { return L"C:\\Tools\\ZoroDerERIDovudi.exe"; }

private:
    std::wstring line_;
};

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte picks the lookup; the rest is the line, two bytes a UTF-16 unit.
    const std::uint8_t mode = data[0];
    std::wstring line;
    for (std::size_t i = 1; i + 1 < size; i += 2)
        line += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));

    const std::vector<std::wstring> items = juv::SplitCommandLine(line);
    Check(!items.empty());
    for (std::size_t i = 0; i < items.size(); ++i) {
        Check(items[i].find(L'"') == std::wstring::npos);
        Check(i == 0 || !items[i].empty());
    }

    const FixedCommandLine source(line);
    const juv::CommandLineParams params(source);
    Check(params.Count() == static_cast<int>(items.size()) - 1);
    Check(params.Param(params.Count() + 1).empty());

    static const wchar_t* const switches[] = {L"/AUTO", L"", L"/A", L"-AUTO", L"/auto", L"/"};
    const std::wstring sw = switches[mode % 6];
    std::wstring value = L"\x1234unchanged";
    const bool found = juv::GetCmdParam(source, sw, value, (mode & 0x80) != 0);
    if (!found) Check(value == L"\x1234unchanged");
    Check(juv::CmdParamPresent(source, L"/AUTO") == juv::GetCmdParam(source, L"/AUTO", value, true));
    return 0;
}
