#pragma once

#include "platform/FileSystem.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace juv {

// The install folder and the tool in it, as the sequence runs the tool with administrator
// rights. Once checked, each is held open until the object goes, on every path: nobody can
// rename the folder away, point it elsewhere, or swap the tool between the checks and the runs.
// A folder others may change is made the administrators' own before anything runs from it.
class ToolFolder {
public:
    // installFolder ends with a backslash.
    ToolFolder(FileSystem& files, const std::wstring& installFolder);

    // Holds and secures the folder when it is there; false when it is not. Throws when it is a
    // link, cannot be held or cannot be protected.
    bool HoldFolder();
    // True when a tool file is there to look at; throws when it is a link.
    bool ToolPresent();
    // Holds the tool file and compares it with the payload through that hold, so the bytes
    // compared are the bytes that run. True when it is the payload, which then stays held; any
    // other file is let go, to be replaced. Throws when another program keeps it from being held.
    bool HoldTool(std::span<const std::uint8_t> payload);
    // Holds the tool just written; throws when it is no longer what was written.
    void HoldWrittenTool(std::span<const std::uint8_t> payload);
    // True when the driver folder is there; throws when it is a link.
    bool DriverFolderPresent();

private:
    void RefuseLink(const std::wstring& path, const std::wstring& name);

    FileSystem& files_;
    std::wstring folder_, folderPath_, toolPath_, driverPath_;
    std::unique_ptr<HeldFolder> heldFolder_;
    std::unique_ptr<HeldFile> heldTool_;
};

// Whether anyone but the administrators and the system owns the folder or may change it, or
// what is made in it.
bool NeedsTakeOver(const FolderSecurity& security);

} // namespace juv
