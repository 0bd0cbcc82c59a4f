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

// Whom an owner or an access entry names, as far as the install folder is concerned.
enum class Trustee { Administrators, System, TrustedInstaller, Other };

// Rights of an access entry, with the platform's numbers; generic rights come already mapped
// to these.
namespace FileRight {
inline constexpr std::uint32_t AddFile = 0x2;       // write data, for a file
inline constexpr std::uint32_t AddSubfolder = 0x4;  // append data, for a file
inline constexpr std::uint32_t WriteExtendedAttributes = 0x10;
inline constexpr std::uint32_t DeleteChild = 0x40;
inline constexpr std::uint32_t WriteAttributes = 0x100;
inline constexpr std::uint32_t Delete = 0x10000;
inline constexpr std::uint32_t ChangePermissions = 0x40000;
inline constexpr std::uint32_t TakeOwnership = 0x80000;
} // namespace FileRight

struct AccessEntry {
    bool allows = true; // false: the entry denies its rights
    Trustee trustee = Trustee::Other;
    std::uint32_t rights = 0;
};

// Who owns a folder and who may do what with it and with what is made inside.
struct FolderSecurity {
    Trustee owner = Trustee::Other;
    bool unrestricted = false; // no access list at all: everyone may do everything
    std::vector<AccessEntry> entries;
};

// A file held open for reading while others may only read it too: as long as it is held, nobody
// can write, replace, rename or delete it. Destroying it lets go.
class HeldFile {
public:
    virtual ~HeldFile() = default;
    // What the open file itself is, which no later change of the path can alter.
    virtual bool IsLink() = 0;
    // Compares the held file, from its start, with the bytes, without loading the whole file.
    virtual ContentCheck CompareContent(std::span<const std::uint8_t> bytes) = 0;
};

// What the volume a folder lies on can keep.
struct VolumeTraits {
    bool accessLists = false; // it keeps access lists (not so FAT and exFAT)
    bool remote = false;      // a network folder, whose access lists another machine keeps
};

// A folder held open so that it cannot be renamed away or deleted while held.
class HeldFolder {
public:
    virtual ~HeldFolder() = default;
    virtual bool IsLink() = 0;
    // 0, and who owns the folder and may change it.
    virtual std::uint32_t ReadSecurity(FolderSecurity& security) = 0;
    // 0, and what its volume keeps.
    virtual std::uint32_t ReadVolume(VolumeTraits& volume) = 0;
    // The held folder's full path as the system resolves it, whatever links the path that
    // found it went through, without a trailing backslash; empty when the system cannot tell.
    virtual std::wstring FinalPath() = 0;
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

    // Makes the folder (one level) and holds it in the same step, changeable by administrators
    // and the system only from its first moment, readable and runnable by everyone: nobody can
    // put a folder of their own there in between. Fails with AlreadyExists when anything is at
    // path. Null on failure, with the error code in error.
    virtual std::unique_ptr<HeldFolder> MakeHeldFolder(const std::wstring& path, std::uint32_t& error) = 0;
    // What the volume of the folder at path keeps; 0 on success.
    virtual std::uint32_t ReadVolume(const std::wstring& path, VolumeTraits& volume) = 0;
    // The folder Windows keeps for all users' program data, without a trailing backslash; empty
    // when the system cannot say.
    virtual std::wstring ProgramDataFolder() = 0;
    virtual std::uint32_t ChangeDirectory(const std::wstring& path) = 0;
    // The process's current folder; empty when the system cannot say.
    virtual std::wstring CurrentDirectory() = 0;
    // The names of what lies at the top level of a folder, files and folders alike.
    virtual std::uint32_t ListFolder(const std::wstring& path, std::vector<std::wstring>& names) = 0;

    // Hold what is at path itself, a link not followed. Null on failure, with the error code in
    // error.
    virtual std::unique_ptr<HeldFolder> HoldFolder(const std::wstring& path, std::uint32_t& error) = 0;
    virtual std::unique_ptr<HeldFile> HoldFile(const std::wstring& path, std::uint32_t& error) = 0;
    // Creates or truncates the file. Null on failure, with the error code in error.
    virtual std::unique_ptr<OutputFile> CreateOutputFile(const std::wstring& path,
                                                   std::uint32_t& error) = 0;
    // Renames from over to, replacing a file there.
    virtual std::uint32_t MoveOver(const std::wstring& from, const std::wstring& to) = 0;
    // Renames a file or folder (a link itself, not what it points to) to a name nothing has.
    virtual std::uint32_t Rename(const std::wstring& from, const std::wstring& to) = 0;
    virtual std::uint32_t RemoveFile(const std::wstring& path) = 0;

    // The system's text for an error code.
    virtual std::wstring ErrorText(std::uint32_t code) = 0;
};

} // namespace juv
