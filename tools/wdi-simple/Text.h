#pragma once

#include <string>
#include <string_view>

namespace juv::tool {

// wchar_t holds UTF-16 on Windows and UTF-32 elsewhere; these read it either way, so the same
// code writes the same bytes on both. Broken sequences (lone surrogates, values past U+10FFFF)
// become U+FFFD instead of failing: the text is only shown or written, never interpreted.
std::u32string ToCodePoints(std::wstring_view text);
std::string ToUtf8(std::wstring_view text);
std::string ToUtf16Le(std::wstring_view text);

} // namespace juv::tool
