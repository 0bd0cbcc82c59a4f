#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace juv {

struct FileAttributes {
    bool valid = false;      // false: the attributes could not be read, see error
    std::uint32_t error = 0; // the system's error code when not valid
    bool directory = false;
    bool link = false; // a symbolic link or other reparse point
};

// A file opened for writing without sharing. Destroying it closes the file.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Returns how many bytes were written; fewer than asked means the write failed.
    virtual std::size_t Write(std::span<const std::uint8_t> bytes) = 0;
};

enum class ContentCheck { Same, Different, Unreadable };

// Who may change what is put into a new folder.
enum class FolderAccess {
    Inherited,            // as its parent says
    AdministratorsChange, // only administrators and the system; everyone else reads and runs
};

// The file operations of the install folder. Errors come back as the system's error codes,
// 0 meaning success, so the caller can word them.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual FileAttributes GetAttributes(const std::wstring& path) = 0;
    // Opens what a link points to, for reading (a folder when directory is true), and closes
    // it again. Returns 0 when that worked.
    virtual std::uint32_t OpenLinkTarget(const std::wstring& path, bool directory) = 0;
    // A directory search for the path: true when it finds an entry that is not a directory.
    virtual bool SearchFindsFile(const std::wstring& path) = 0;

    // One level. An access that cannot be given leaves the folder with its parent's.
    virtual std::uint32_t MakeDirectory(const std::wstring& path, FolderAccess access) = 0;
    virtual std::uint32_t ChangeDirectory(const std::wstring& path) = 0;
    // The names of what lies at the top level of a folder, files and folders alike.
    virtual std::uint32_t ListFolder(const std::wstring& path, std::vector<std::wstring>& names) = 0;

    // Compares the file at path with the bytes, without loading the whole file.
    virtual ContentCheck CompareContent(const std::wstring& path,
                                        std::span<const std::uint8_t> bytes) = 0;
    // Creates or truncates the file. Null on failure, with the error code in error.
    virtual std::unique_ptr<OutputFile> CreateOutputFile(const std::wstring& path,
                                                   std::uint32_t& error) = 0;
    // Renames from over to, replacing a file there.
    virtual std::uint32_t MoveOver(const std::wstring& from, const std::wstring& to) = 0;
    virtual std::uint32_t RemoveFile(const std::wstring& path) = 0;

    // The system's text for an error code.
    virtual std::wstring ErrorText(std::uint32_t code) = 0;
};

} // namespace juv
