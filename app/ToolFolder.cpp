#include "app/ToolFolder.h"

#include "app/Decimal.h"
#include "app/InstDriverForm.h"
#include "platform/Error.h"
#include "platform/SystemErrors.h"

#include <algorithm>

namespace juv {

namespace {

constexpr wchar_t FolderName[] = L"DARORED";
constexpr const wchar_t* ToolName = ToolFileName;
constexpr wchar_t DriverFolderName[] = L"usb_driver";
// Where the install folder goes, in the 32-bit Program Files, when the installer lies where no
// folder can be protected.
constexpr wchar_t PlaceName[] = L"JUV LibUSB driver installer";

// What lets someone put a file of their own where the tool runs, change what is there (its
// attributes included: they can turn a folder into a link), or change who may.
constexpr std::uint32_t ChangeRights = FileRight::AddFile | FileRight::AddSubfolder |
                                       FileRight::WriteExtendedAttributes | FileRight::DeleteChild |
                                       FileRight::WriteAttributes | FileRight::Delete |
                                       FileRight::ChangePermissions | FileRight::TakeOwnership;

// A folder found in the way is renamed beside itself to the first of these names that is free.
constexpr int MaxAsideNames = 1000;
// Something that keeps reappearing where the folder is to be made is given up on.
constexpr int MaxMakeAttempts = 3;

// A folder's path without its trailing backslash, but a drive's root keeps it: "C:" alone
// means the current folder on that drive.
std::wstring WithoutBackslash(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

Error UnexpectedLink(const std::wstring& name) {
    return Error(L"Unexpected link \"" + name + L"\" in DARORED: remove it and start again");
}

Error InUse(std::uint32_t code = 0) {
    return Error(L"wdi-simple.exe in DARORED is in use by another program: close it and start again", code);
}

Error Unprotectable(std::uint32_t code) {
    return Error(L"DARORED could not be protected from other users: remove it and start again", code);
}

bool Trusted(Trustee trustee) { return trustee != Trustee::Other; }

} // namespace

bool OnlyAdministratorsChange(const FolderSecurity& security, const VolumeTraits& volume) {
    if (!volume.accessLists || volume.remote) return false;
    if (security.unrestricted || !Trusted(security.owner)) return false;
    // An entry that applies only to what is made inside counts too: that is where the tool lies.
    return std::none_of(security.entries.begin(), security.entries.end(), [](const AccessEntry& entry) {
        return entry.allows && !Trusted(entry.trustee) && (entry.rights & ChangeRights) != 0;
    });
}

ToolFolder::ToolFolder(FileSystem& files, const std::wstring& exeFolder)
    : files_(files), exeFolder_(exeFolder), path_(exeFolder + FolderName + L"\\") {}

std::wstring ToolFolder::ToolPath() const { return path_ + ToolName; }

bool ToolFolder::Protectable(HeldFolder& place) {
    // FAT and exFAT keep no access lists, and a network folder's are another machine's: nothing
    // made there can be kept from other users. A folder whose name the system rewrites before
    // use (a trailing dot goes) is one whose path names another folder, which a user may have
    // made: no path starting there may be handed to the system.
    // The path must also open the very folder held: a system that reports another name for it
    // would have every later path lead elsewhere.
    VolumeTraits volume;
    if (place.ReadVolume(volume) != 0 || !volume.accessLists || volume.remote) return false;
    const std::wstring finalPath = place.FinalPath();
    FileId held, named;
    return !finalPath.empty() && files_.FullPathName(finalPath) == finalPath && place.ReadId(held) == 0 &&
           files_.FileIdAt(finalPath, named) == 0 && named == held;
}

void ToolFolder::ChoosePlace() {
    if (placeChosen_) return;
    placeChosen_ = true;
    std::uint32_t error = 0;
    std::unique_ptr<HeldFolder> beside = files_.HoldFolder(WithoutBackslash(exeFolder_), error);
    if (beside && Protectable(*beside)) {
        heldPlace_ = std::move(beside);
        return;
    }
    beside.reset();
    // Nothing is written beside the installer then: the install folder goes where only
    // administrators may make anything, held to the same rules.
    const std::wstring programFiles = files_.ProgramFilesFolder();
    if (programFiles.empty()) throw Unprotectable(0);
    heldRoot_ = files_.HoldFolder(programFiles, error);
    if (!heldRoot_) throw Unprotectable(error);
    std::unique_ptr<HeldFolder> place;
    if (const std::uint32_t made = MakeOrHold(*heldRoot_, PlaceName, place)) throw Unprotectable(made);
    heldPlace_ = std::move(place);
    const std::wstring finalPath = heldPlace_->FinalPath();
    if (finalPath.empty()) throw Unprotectable(0);
    path_ = finalPath + L"\\" + FolderName + L"\\";
}

bool ToolFolder::HoldFolder() {
    if (heldFolder_) return true;
    ChoosePlace();
    if (HoldOrMoveAside(*heldPlace_, FolderName, heldFolder_) != Found::Held) return false;
    Resolve();
    return true;
}

std::uint32_t ToolFolder::MakeFolder() {
    if (heldFolder_) return 0;
    ChoosePlace();
    const std::uint32_t error = MakeOrHold(*heldPlace_, FolderName, heldFolder_);
    if (error == 0) Resolve();
    return error;
}

std::uint32_t ToolFolder::MakeOrHold(HeldFolder& parent, const std::wstring& name, std::unique_ptr<HeldFolder>& held) {
    for (int attempt = 0; attempt < MaxMakeAttempts; ++attempt) {
        std::uint32_t error = 0;
        held = parent.MakeFolder(name, error);
        if (held) {
            // Its owner and list are the ones it was made with, in the same step; its volume is
            // asked on its own handle: what was made is what counts, wherever it landed.
            VolumeTraits volume;
            if (!held->IsLink() && held->ReadVolume(volume) == 0 && volume.accessLists && !volume.remote) return 0;
            FileId id;
            const std::uint32_t unknown = held->ReadId(id);
            held.reset();
            if (unknown) throw Unprotectable(unknown);
            MoveAside(parent, name, id);
            continue;
        }
        if (error != ErrorCode::AlreadyExists) return error;
        // Something is there, made before or a moment ago by a second installer started at the
        // same time, say: it is judged like any folder found there.
        switch (HoldOrMoveAside(parent, name, held)) {
        case Found::Held: return 0;
        case Found::File: return error;
        case Found::Absent: break;
        }
    }
    throw Unprotectable(ErrorCode::AlreadyExists);
}

ToolFolder::Found ToolFolder::HoldOrMoveAside(HeldFolder& parent, const std::wstring& name,
                                              std::unique_ptr<HeldFolder>& held) {
    held.reset();
    const FileAttributes attributes = parent.Attributes(name);
    // A file of that name is no folder of anyone's to move: it stays, and making the folder
    // fails on it with its own error.
    if (attributes.valid && !attributes.directory && !attributes.link) return Found::File;
    if (!attributes.valid && (attributes.error == ErrorCode::FileNotFound || attributes.error == ErrorCode::PathNotFound))
        return Found::Absent;
    std::uint32_t error = 0;
    held = parent.OpenFolder(name, error);
    if (!held) {
        if (error == ErrorCode::FileNotFound || error == ErrorCode::PathNotFound) return Found::Absent;
        // What cannot even be looked at cannot be judged, nor moved aside as the one judged.
        throw Unprotectable(error);
    }
    FileId id;
    const std::uint32_t unknown = held->ReadId(id);
    if (!unknown && BornForAdministrators(*held)) return Found::Held;
    held.reset();
    if (unknown) throw Unprotectable(unknown);
    MoveAside(parent, name, id);
    return Found::Absent;
}

bool ToolFolder::BornForAdministrators(HeldFolder& folder) {
    FolderSecurity security;
    VolumeTraits volume;
    return !folder.IsLink() && folder.ReadSecurity(security) == 0 && folder.ReadVolume(volume) == 0 &&
           OnlyAdministratorsChange(security, volume) && !LinkInside(folder);
}

bool ToolFolder::LinkInside(HeldFolder& folder) {
    std::vector<std::wstring> names;
    // What cannot be looked into cannot be vouched for.
    if (folder.List(names) != 0) return true;
    for (const std::wstring& name : names) {
        const FileAttributes attributes = folder.Attributes(name);
        if (!attributes.valid || attributes.link) return true;
        if (!attributes.directory) continue;
        std::uint32_t error = 0;
        const std::unique_ptr<HeldFolder> inner = folder.OpenFolder(name, error);
        if (!inner || inner->IsLink() || LinkInside(*inner)) return true;
    }
    return false;
}

void ToolFolder::MoveAside(HeldFolder& parent, const std::wstring& name, const FileId& id) {
    // Renamed beside itself, whole, and only while the name still names what was judged: nothing
    // in it is changed, nothing of anyone's is lost, nothing else is moved.
    for (int number = 1; number <= MaxAsideNames; ++number) {
        const std::wstring aside = name + L".old-" + Decimal(number);
        if (parent.Attributes(aside).valid) continue;
        const std::uint32_t error = parent.RenameEntry(name, id, aside);
        if (error == 0) return;
        // Something else has the name by now: it is judged afresh.
        if (error == ErrorCode::FileNotFound) return;
        // Another program holds it and does not let it be moved.
        if (error != ErrorCode::AlreadyExists) throw Unprotectable(error);
    }
    throw Unprotectable(ErrorCode::AlreadyExists);
}

void ToolFolder::Resolve() {
    // The texts, the current folder and the tool's start need a path: the one the system
    // resolves for the held folder, in a place whose names the system keeps as they are.
    const std::wstring finalPath = heldFolder_->FinalPath();
    if (finalPath.empty()) {
        heldFolder_.reset();
        throw Unprotectable(0);
    }
    // And that path must open the very folder held, or nothing started by it is ours.
    FileId held, named;
    if (heldFolder_->ReadId(held) != 0 || files_.FileIdAt(finalPath, named) != 0 || !(named == held)) {
        heldFolder_.reset();
        throw Unprotectable(0);
    }
    path_ = finalPath + L"\\";
    // Refused before anything is written in here, not only when the first run is due.
    RefuseLink(DriverFolderName);
}

void ToolFolder::RefuseLink(const std::wstring& name) {
    if (heldFolder_->Attributes(name).link) throw UnexpectedLink(name);
}

namespace {

// Attributes that cannot be read for any reason but a missing entry leave it to the hold.
bool Present(const FileAttributes& attributes, bool directory) {
    if (attributes.valid) return attributes.directory == directory;
    return attributes.error != ErrorCode::FileNotFound && attributes.error != ErrorCode::PathNotFound;
}

} // namespace

bool ToolFolder::ToolPresent() {
    if (!heldFolder_) return false;
    RefuseLink(ToolName);
    return Present(heldFolder_->Attributes(ToolName), false);
}

bool ToolFolder::HoldTool(std::span<const std::uint8_t> payload) {
    heldTool_.reset();
    if (!heldFolder_) throw Error(InOutErrorMessage(ErrorCode::PathNotFound, path_), ErrorCode::PathNotFound);
    RefuseLink(ToolName);
    std::uint32_t error = 0;
    std::unique_ptr<HeldFile> held = heldFolder_->HoldFile(ToolName, error);
    if (!held) {
        if (error == ErrorCode::SharingViolation) throw InUse(error);
        return false;
    }
    if (held->IsLink()) throw UnexpectedLink(ToolName);
    if (held->CompareContent(payload) != ContentCheck::Same || held->ReadId(toolId_) != 0) return false;
    heldTool_ = std::move(held);
    return true;
}

void ToolFolder::HoldWrittenTool(std::span<const std::uint8_t> payload) {
    // A file that differs from what was just written was changed by someone else in between.
    if (!HoldTool(payload)) throw InUse();
}

bool ToolFolder::ToolPathOpensHeldTool() {
    FileId id;
    return heldTool_ && files_.FileIdAt(ToolPath(), id) == 0 && id == toolId_;
}

bool ToolFolder::DriverFolderPresent() {
    if (!heldFolder_) return false;
    RefuseLink(DriverFolderName);
    return Present(heldFolder_->Attributes(DriverFolderName), true);
}

} // namespace juv
