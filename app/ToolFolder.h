#pragma once

#include "platform/FileSystem.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace juv {

// The tool's file name in the install folder.
inline constexpr wchar_t ToolFileName[] = L"wdi-simple.exe";

// The install folder and the tool in it, as the sequence runs the tool with administrator
// rights. The folder the install folder lies in is held first, and everything after goes
// relative to that hold, never by a path a link or a rewritten name could redirect: only a
// folder that shows on its own handle that it was never anyone else's is used as it is; anything
// else found there is moved aside whole, by its handle, and a new folder is made, the
// administrators' own from its first moment. Once checked or made, the folder and the tool are
// held open until the object goes, on every path.
class ToolFolder {
public:
    // exeFolder, the installer's own folder, ends with a backslash.
    ToolFolder(FileSystem& files, const std::wstring& exeFolder);

    // Holds the install folder when it is there and was only ever the administrators'; moves
    // anything else of that name aside first, but a file, which stays. False when none is held.
    // Throws when something there cannot be moved aside.
    bool HoldFolder();
    // Makes the install folder afresh and holds it; 0, or the system's error code (AlreadyExists
    // when a file has the name).
    std::uint32_t MakeFolder();
    // The held install folder, through which everything in it is reached; null while none is.
    HeldFolder* Held() { return heldFolder_.get(); }

    // The install folder with a trailing backslash: the system's path for the held folder once it
    // is held, where it is looked for until then. For the texts, the current folder and the
    // tool's start, which only a path can name.
    const std::wstring& Path() const { return path_; }
    std::wstring ToolPath() const;

    // True when a tool file is there to look at; throws when it is a link.
    bool ToolPresent();
    // Holds the tool file and compares it with the payload through that hold, so the bytes
    // compared are the bytes that run. True when it is the payload, which then stays held; any
    // other file is let go, to be replaced. Throws when another program keeps it from being held.
    bool HoldTool(std::span<const std::uint8_t> payload);
    // Holds the tool just written; throws when it is no longer what was written.
    void HoldWrittenTool(std::span<const std::uint8_t> payload);
    // Whether the tool's path opens the very file held, as the system will open it to start it.
    bool ToolPathOpensHeldTool();
    // The held tool's id, which the started program must show.
    const FileId& ToolId() const { return toolId_; }
    // True when the driver folder is there; throws when it is a link.
    bool DriverFolderPresent();

private:
    enum class Found { Held, Absent, File };
    // The folder the install folder lies in: the installer's own, or the administrators' one in
    // the 32-bit Program Files where nothing beside the installer can be protected.
    void ChoosePlace();
    // Makes the folder and holds it, or holds what is there when it was only ever the
    // administrators', moving anything else aside first; 0, or the error of making it
    // (AlreadyExists when a file has the name).
    std::uint32_t MakeOrHold(HeldFolder& parent, const std::wstring& name, std::unique_ptr<HeldFolder>& held);
    Found HoldOrMoveAside(HeldFolder& parent, const std::wstring& name, std::unique_ptr<HeldFolder>& held);
    void MoveAside(HeldFolder& parent, const std::wstring& name, const FileId& id);
    bool BornForAdministrators(HeldFolder& folder);
    bool LinkInside(HeldFolder& folder);
    bool Protectable(HeldFolder& place);
    void Resolve();
    void RefuseLink(const std::wstring& name);

    FileSystem& files_;
    std::wstring exeFolder_;
    bool placeChosen_ = false;
    std::wstring path_;
    std::unique_ptr<HeldFolder> heldRoot_;
    std::unique_ptr<HeldFolder> heldPlace_;
    std::unique_ptr<HeldFolder> heldFolder_;
    std::unique_ptr<HeldFile> heldTool_;
    FileId toolId_;
};

// Whether a folder's owner and access list show that nobody but the administrators, the system
// and Windows' own installer could ever have changed it or what is made in it, on a volume that
// keeps access lists of its own.
bool OnlyAdministratorsChange(const FolderSecurity& security, const VolumeTraits& volume);

} // namespace juv
