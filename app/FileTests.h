#pragma once

#include "platform/FileSystem.h"

#include <string>

namespace juv {

// True when something that is not a directory is at path. A link counts when its target can be
// opened, or is held open by another process. Attributes that cannot be read for any reason but
// a missing file, folder or a bad name leave the answer to a directory search.
bool FileExists(FileSystem& files, const std::wstring& path);

// True when a directory is at path; a link only when its target can be opened. Attributes that
// cannot be read count as present, except for the errors that say the path is not there.
bool DirectoryExists(FileSystem& files, const std::wstring& path);

} // namespace juv
