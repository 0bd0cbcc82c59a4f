#include "tools/wdi-simple/Text.h"

#include <type_traits>

namespace juv::tool {

namespace {

constexpr char32_t Replacement = 0xFFFD;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUnit(std::string& out, char32_t unit)
{
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>((unit >> 8) & 0xFF));
}

} // namespace

std::u32string ToCodePoints(std::wstring_view text)
{
    std::u32string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Going through an unsigned type keeps a signed 32-bit wchar_t from turning negative.
        const auto c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i]));
        if (IsHighSurrogate(c) && i + 1 < text.size()) {
            const auto next = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i + 1]));
            if (IsLowSurrogate(next)) {
                result.push_back(0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        result.push_back(IsSurrogate(c) || c > 0x10FFFF ? Replacement : c);
    }
    return result;
}

std::string ToUtf8(std::wstring_view text)
{
    std::string out;
    for (const char32_t c : ToCodePoints(text)) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string ToUtf16Le(std::wstring_view text)
{
    std::string out;
    for (const char32_t c : ToCodePoints(text)) {
        if (c < 0x10000) {
            AppendUnit(out, c);
        } else {
            AppendUnit(out, 0xD800 + ((c - 0x10000) >> 10));
            AppendUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return out;
}

} // namespace juv::tool
