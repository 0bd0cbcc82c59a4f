#include "app/ToolFolder.h"

#include "app/FileTests.h"
#include "app/InstDriverForm.h"
#include "platform/Error.h"
#include "platform/SystemErrors.h"

#include <algorithm>

namespace juv {

namespace {

constexpr wchar_t ToolName[] = L"wdi-simple.exe";
constexpr wchar_t DriverFolderName[] = L"usb_driver";

// What lets someone put a file of their own where the tool runs, change what is there (its
// attributes included: they can turn a folder into a link), or change who may.
constexpr std::uint32_t ChangeRights = FileRight::AddFile | FileRight::AddSubfolder |
                                       FileRight::WriteExtendedAttributes | FileRight::DeleteChild |
                                       FileRight::WriteAttributes | FileRight::Delete |
                                       FileRight::ChangePermissions | FileRight::TakeOwnership;

// A link is seen as a link only when its own name is asked for: with a backslash after it, the
// path means the folder it points to.
std::wstring WithoutBackslash(std::wstring path) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

Error LinkedFolder() { return Error(L"DARORED is a link to another folder: remove it and start again"); }

Error UnexpectedLink(const std::wstring& name) {
    return Error(L"Unexpected link \"" + name + L"\" in DARORED: remove it and start again");
}

Error InUse(std::uint32_t code = 0) {
    return Error(L"wdi-simple.exe in DARORED is in use by another program: close it and start again", code);
}

Error Unprotectable(std::uint32_t code) {
    return Error(L"DARORED could not be protected from other users: remove it and start again", code);
}

} // namespace

bool NeedsTakeOver(const FolderSecurity& security) {
    if (security.unrestricted || security.owner == Trustee::Other) return true;
    // An entry that applies only to what is made inside counts too: that is where the tool lies.
    return std::any_of(security.entries.begin(), security.entries.end(), [](const AccessEntry& entry) {
        return entry.allows && entry.trustee == Trustee::Other && (entry.rights & ChangeRights) != 0;
    });
}

ToolFolder::ToolFolder(FileSystem& files, const std::wstring& installFolder)
    : files_(files), folder_(installFolder), folderPath_(WithoutBackslash(installFolder)),
      toolPath_(installFolder + ToolName), driverPath_(installFolder + DriverFolderName) {}

bool ToolFolder::HoldFolder() {
    if (heldFolder_) return true;
    // A link is refused as the path shows it, and again as the held handle does: Windows shows
    // some links only one way.
    if (files_.GetAttributes(folderPath_).link) throw LinkedFolder();
    if (!DirectoryExists(files_, folderPath_)) return false;
    std::uint32_t error = 0;
    std::unique_ptr<HeldFolder> held = files_.HoldFolder(folderPath_, error);
    if (!held) throw Error(InOutErrorMessage(error, folder_), error);
    if (held->IsLink()) throw LinkedFolder();
    FolderSecurity security;
    if (const std::uint32_t code = held->ReadSecurity(security)) throw Unprotectable(code);
    if (NeedsTakeOver(security)) {
        if (const std::uint32_t code = held->TakeOver()) throw Unprotectable(code);
    }
    heldFolder_ = std::move(held);
    // Refused before anything is written in here, not only when the first run is due.
    RefuseLink(driverPath_, DriverFolderName);
    return true;
}

void ToolFolder::RefuseLink(const std::wstring& path, const std::wstring& name) {
    if (files_.GetAttributes(path).link) throw UnexpectedLink(name);
}

bool ToolFolder::ToolPresent() {
    RefuseLink(toolPath_, ToolName);
    return FileExists(files_, toolPath_);
}

bool ToolFolder::HoldTool(std::span<const std::uint8_t> payload) {
    heldTool_.reset();
    if (!HoldFolder()) throw Error(InOutErrorMessage(ErrorCode::PathNotFound, folder_), ErrorCode::PathNotFound);
    RefuseLink(toolPath_, ToolName);
    std::uint32_t error = 0;
    std::unique_ptr<HeldFile> held = files_.HoldFile(toolPath_, error);
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
    RefuseLink(driverPath_, DriverFolderName);
    return DirectoryExists(files_, driverPath_);
}

} // namespace juv
