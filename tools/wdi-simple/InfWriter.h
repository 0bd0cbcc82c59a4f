#pragma once

#include "tools/wdi-simple/ToolOptions.h"

#include <string>
#include <string_view>

namespace juv::tool {

// The ID the INF's model line matches: USB\VID_xxxx&PID_xxxx, with &MI_xx for one interface of
// a composite device, or with --wcid the compatible ID of the chosen generic driver. Throws
// ToolError for --wcid with a driver that has no compatible ID.
std::wstring MatchingId(const ToolOptions& options);

// The file name of the driver's kernel binary, e.g. libusb0.sys.
std::wstring DriverBinary(DriverType type);

// The INF text with CRLF line endings. It is well-formed and says what it is: written by the
// stand-in, with no driver binary beside it, so it is not meant to be installed.
std::wstring InfText(const ToolOptions& options);

// The bytes of the INF file. Plain ASCII when every character is ASCII, so the file reads the
// same in any tool; otherwise UTF-16LE with a byte-order mark, the one Unicode form Windows setup
// reads in INF files (it does not take UTF-8), so names like "Prüf" survive.
std::string EncodeInf(std::wstring_view text);

} // namespace juv::tool
