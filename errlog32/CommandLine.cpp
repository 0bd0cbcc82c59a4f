#include "errlog32/CommandLine.h"

namespace juv {

namespace {

constexpr wchar_t Quote = L'"';

bool IsSeparator(wchar_t c) { return c >= 1 && c <= 32; }

// Reads one item starting at pos and leaves pos behind it. Quote characters never reach the
// item; separators inside a quoted stretch do.
std::wstring NextItem(std::wstring_view line, std::size_t& pos) {
    const auto at = [&](std::size_t i) { return i < line.size() ? line[i] : L'\0'; };
    for (;;) {
        while (IsSeparator(at(pos))) ++pos;
        if (at(pos) == Quote && at(pos + 1) == Quote)
            pos += 2;
        else
            break;
    }
    std::wstring item;
    while (at(pos) > L' ') {
        if (at(pos) == Quote) {
            ++pos;
            while (at(pos) != L'\0' && at(pos) != Quote) item += line[pos++];
            if (at(pos) != L'\0') ++pos;
        } else {
            item += line[pos++];
        }
    }
    return item;
}

} // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
    line = line.substr(0, line.find(L'\0'));
    std::vector<std::wstring> items;
    std::size_t pos = 0;
    items.push_back(NextItem(line, pos));
    for (;;) {
        std::wstring item = NextItem(line, pos);
        if (item.empty()) break;
        items.push_back(std::move(item));
    }
    return items;
}

CommandLineParams::CommandLineParams(const CommandLineService& source)
    : source_(source), items_(SplitCommandLine(source.CommandLine())) {}

std::wstring CommandLineParams::Param(int index) const {
    if (index == 0) return source_.ModuleFileName();
    if (index < 0 || index > Count()) return {};
    return items_[static_cast<std::size_t>(index)];
}

bool GetCmdParam(const CommandLineService& source, const std::wstring& Switch,
                 std::wstring& Value, bool IgnoreCase) {
    const CommandLineParams params(source);
    if (Switch.empty()) {
        std::wstring first = params.Param(1);
        if (first.empty() || first[0] == L'-' || first[0] == L'/') return false;
        Value = std::move(first);
        return true;
    }
    for (int i = 1; i <= params.Count(); ++i) {
        std::wstring p = params.Param(i);
        if (IgnoreCase) UpCaseAscii(p);
        if (p.size() < Switch.size()) continue;
        if (p[0] == L'-') p[0] = L'/';
        if (p.compare(0, Switch.size(), Switch) != 0) continue;
        p.erase(0, Switch.size());
        if (!p.empty() && (p[0] == L':' || p[0] == L'=')) p.erase(0, 1);
        Value = std::move(p);
        return true;
    }
    return false;
}

bool CmdParamPresent(const CommandLineService& source, const std::wstring& Switch) {
    std::wstring scratch;
    return GetCmdParam(source, Switch, scratch, true);
}

void UpCaseAscii(std::wstring& S) {
    // std::wstring has value semantics, so another holder of the same text never sees this.
    for (wchar_t& c : S)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
}

std::wstring AddBackslash(const std::wstring& Path) {
    if (Path.empty() || Path.back() == L'\\') return Path;
    return Path + L'\\';
}

} // namespace juv
