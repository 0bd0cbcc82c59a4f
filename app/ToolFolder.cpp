#include "app/ToolFolder.h"

#include "app/Decimal.h"
#include "app/FileTests.h"
#include "app/InstDriverForm.h"
#include "platform/Error.h"
#include "platform/SystemErrors.h"

#include <algorithm>

namespace juv {

namespace {

constexpr wchar_t FolderName[] = L"DARORED";
constexpr wchar_t ToolName[] = L"wdi-simple.exe";
constexpr wchar_t DriverFolderName[] = L"usb_driver";
// Where the install folder goes when the installer lies where no folder can be protected.
constexpr wchar_t ProgramDataPlace[] = L"JUV LibUSB driver installer";

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

// A link is seen as a link only when its own name is asked for: with a backslash after it, the
// path means the folder it points to.
std::wstring WithoutBackslash(std::wstring path) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
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

void ToolFolder::ChoosePlace() {
    if (placeChosen_) return;
    placeChosen_ = true;
    // FAT and exFAT keep no access lists, and a network folder's are another machine's: nothing
    // written there can be kept from other users, so nothing is written beside the installer.
    VolumeTraits volume;
    if (files_.ReadVolume(exeFolder_, volume) == 0 && volume.accessLists && !volume.remote) return;
    const std::wstring programData = files_.ProgramDataFolder();
    if (programData.empty()) throw Unprotectable(0);
    heldPlace_ = HoldAdministratorsFolder(programData + L"\\" + ProgramDataPlace);
    path_ = heldPlace_->FinalPath() + L"\\" + FolderName + L"\\";
}

bool ToolFolder::HoldFolder() {
    if (heldFolder_) return true;
    ChoosePlace();
    if (HoldOrMoveAside(WithoutBackslash(path_), heldFolder_) != Found::Held) return false;
    Resolve();
    return true;
}

std::uint32_t ToolFolder::MakeFolder() {
    if (heldFolder_) return 0;
    ChoosePlace();
    const std::uint32_t error = MakeOrHold(WithoutBackslash(path_), heldFolder_);
    if (error == 0) Resolve();
    return error;
}

std::unique_ptr<HeldFolder> ToolFolder::HoldAdministratorsFolder(const std::wstring& path) {
    std::unique_ptr<HeldFolder> held;
    if (const std::uint32_t error = MakeOrHold(path, held)) throw Unprotectable(error);
    return held;
}

std::uint32_t ToolFolder::MakeOrHold(const std::wstring& path, std::unique_ptr<HeldFolder>& held) {
    for (int attempt = 0; attempt < MaxMakeAttempts; ++attempt) {
        std::uint32_t error = 0;
        held = files_.MakeHeldFolder(path, error);
        if (held) return 0;
        if (error != ErrorCode::AlreadyExists) return error;
        // Something is there, made before or a moment ago by a second installer started at the
        // same time, say: it is judged like any folder found there.
        switch (HoldOrMoveAside(path, held)) {
        case Found::Held: return 0;
        case Found::File: return error;
        case Found::Absent: break;
        }
    }
    throw Unprotectable(ErrorCode::AlreadyExists);
}

ToolFolder::Found ToolFolder::HoldOrMoveAside(const std::wstring& path, std::unique_ptr<HeldFolder>& held) {
    held.reset();
    const FileAttributes attributes = files_.GetAttributes(path);
    // A file of that name is no folder of anyone's to move: it stays, and making the folder
    // fails on it with its own error.
    if (attributes.valid && !attributes.directory && !attributes.link) return Found::File;
    if (!attributes.valid && !DirectoryExists(files_, path)) return Found::Absent;
    if (!attributes.link) {
        std::uint32_t error = 0;
        held = files_.HoldFolder(path, error);
        if (held) {
            const std::wstring finalPath = held->FinalPath();
            if (!held->IsLink() && !finalPath.empty() && BornForAdministrators(*held, finalPath)) return Found::Held;
            held.reset();
        } else if (error == ErrorCode::FileNotFound || error == ErrorCode::PathNotFound) {
            return Found::Absent;
        }
    }
    MoveAside(path);
    return Found::Absent;
}

bool ToolFolder::BornForAdministrators(HeldFolder& folder, const std::wstring& finalPath) {
    FolderSecurity security;
    VolumeTraits volume;
    return folder.ReadSecurity(security) == 0 && folder.ReadVolume(volume) == 0 &&
           OnlyAdministratorsChange(security, volume) && !LinkInside(finalPath);
}

bool ToolFolder::LinkInside(const std::wstring& folder) {
    std::vector<std::wstring> names;
    // What cannot be looked into cannot be vouched for.
    if (files_.ListFolder(folder, names) != 0) return true;
    for (const std::wstring& name : names) {
        const FileAttributes attributes = files_.GetAttributes(folder + L"\\" + name);
        if (!attributes.valid || attributes.link) return true;
        if (attributes.directory && LinkInside(folder + L"\\" + name)) return true;
    }
    return false;
}

void ToolFolder::MoveAside(const std::wstring& path) {
    // Renamed beside itself, whole: nothing in it is changed, nothing of anyone's is lost.
    for (int number = 1; number <= MaxAsideNames; ++number) {
        const std::wstring aside = path + L".old-" + Decimal(number);
        if (files_.GetAttributes(aside).valid) continue;
        const std::uint32_t error = files_.Rename(path, aside);
        if (error == 0) return;
        // Another program holds it and does not let it be moved.
        if (error != ErrorCode::AlreadyExists) throw Unprotectable(error);
    }
    throw Unprotectable(ErrorCode::AlreadyExists);
}

void ToolFolder::Resolve() {
    // Every later path starts from where the system says the held folder is: a link above it
    // that is pointed elsewhere afterwards changes none of them.
    const std::wstring finalPath = heldFolder_->FinalPath();
    if (finalPath.empty()) {
        heldFolder_.reset();
        throw Unprotectable(0);
    }
    path_ = finalPath + L"\\";
    // Refused before anything is written in here, not only when the first run is due.
    RefuseLink(path_ + DriverFolderName, DriverFolderName);
}

void ToolFolder::RefuseLink(const std::wstring& path, const std::wstring& name) {
    if (files_.GetAttributes(path).link) throw UnexpectedLink(name);
}

bool ToolFolder::ToolPresent() {
    RefuseLink(ToolPath(), ToolName);
    return FileExists(files_, ToolPath());
}

bool ToolFolder::HoldTool(std::span<const std::uint8_t> payload) {
    heldTool_.reset();
    if (!heldFolder_) throw Error(InOutErrorMessage(ErrorCode::PathNotFound, path_), ErrorCode::PathNotFound);
    RefuseLink(ToolPath(), ToolName);
    std::uint32_t error = 0;
    std::unique_ptr<HeldFile> held = files_.HoldFile(ToolPath(), error);
    if (!held) {
        if (error == ErrorCode::SharingViolation) throw InUse(error);
        return false;
    }
    if (held->IsLink()) throw UnexpectedLink(ToolName);
    if (held->CompareContent(payload) != ContentCheck::Same) return false;
    heldTool_ = std::move(held);
    return true;
}

void ToolFolder::HoldWrittenTool(std::span<const std::uint8_t> payload) {
    // A file that differs from what was just written was changed by someone else in between.
    if (!HoldTool(payload)) throw InUse();
}

bool ToolFolder::DriverFolderPresent() {
    RefuseLink(path_ + DriverFolderName, DriverFolderName);
    return DirectoryExists(files_, path_ + DriverFolderName);
}

} // namespace juv
