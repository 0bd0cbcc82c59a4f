#include "app/FileTests.h"

#include "platform/SystemErrors.h"

namespace juv {

bool FileExists(FileSystem& files, const std::wstring& path) {
    const FileAttributes attributes = files.GetAttributes(path);
    if (attributes.valid) {
        if (attributes.directory) return false;
        if (attributes.link) {
            const std::uint32_t error = files.OpenLinkTarget(path, false);
            return error == ErrorCode::Success || error == ErrorCode::SharingViolation;
        }
        return true;
    }
    switch (attributes.error) {
    case ErrorCode::FileNotFound:
    case ErrorCode::PathNotFound:
    case ErrorCode::InvalidName:
        return false;
    default:
        // Attributes of a file that is locked or shared in some way can be unreadable while
        // the file itself is there; a directory search still lists it.
        return files.SearchFindsFile(path);
    }
}

bool DirectoryExists(FileSystem& files, const std::wstring& path) {
    const FileAttributes attributes = files.GetAttributes(path);
    if (attributes.valid) {
        if (!attributes.directory) return false;
        if (attributes.link) return files.OpenLinkTarget(path, true) == ErrorCode::Success;
        return true;
    }
    switch (attributes.error) {
    case ErrorCode::FileNotFound:
    case ErrorCode::PathNotFound:
    case ErrorCode::NotReady:
    case ErrorCode::BadNetPath:
    case ErrorCode::BadNetName:
    case ErrorCode::InvalidName:
    case ErrorCode::BadPathName:
        return false;
    default:
        return true;
    }
}

} // namespace juv
