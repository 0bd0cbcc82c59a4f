#pragma once

#include "platform/FileId.h"

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
    // 0, and the id of the held file.
    virtual std::uint32_t ReadId(FileId& id) = 0;
    // Compares the held file, from its start, with the bytes, without loading the whole file.
    virtual ContentCheck CompareContent(std::span<const std::uint8_t> bytes) = 0;
};

// What the volume a folder lies on can keep.
struct VolumeTraits {
    bool accessLists = false; // it keeps access lists (not so FAT and exFAT)
    bool remote = false;      // a network folder, whose access lists another machine keeps
};

// A folder held open so that it cannot be renamed away or deleted while held. Everything inside
// it is reached through it, by a name relative to the held folder, never by a path from the top:
// a link above it pointed elsewhere, or a name the system would rewrite, reaches nothing else.
// A name here is one entry's name, with no backslash.
class HeldFolder {
public:
    virtual ~HeldFolder() = default;
    virtual bool IsLink() = 0;
    // 0, and who owns the folder and may change it.
    virtual std::uint32_t ReadSecurity(FolderSecurity& security) = 0;
    // 0, and what its volume keeps.
    virtual std::uint32_t ReadVolume(VolumeTraits& volume) = 0;
    // 0, and the id of the held folder.
    virtual std::uint32_t ReadId(FileId& id) = 0;
    // The held folder's full path as the system resolves it, whatever links the path that
    // found it went through, without a trailing backslash; empty when the system cannot tell.
    virtual std::wstring FinalPath() = 0;

    // What the entry itself is: a link is not followed.
    virtual FileAttributes Attributes(const std::wstring& name) = 0;
    // The names of what lies at the top level, files and folders alike.
    virtual std::uint32_t List(std::vector<std::wstring>& names) = 0;
    // Makes a folder inside and holds it in the same step, changeable by administrators and the
    // system only from its first moment, readable and runnable by everyone: nobody can put a
    // folder of their own there in between. Fails with AlreadyExists when anything has the name.
    // Null on failure, with the error code in error.
    virtual std::unique_ptr<HeldFolder> MakeFolder(const std::wstring& name, std::uint32_t& error) = 0;
    // Holds the entry itself, a link not followed. Null on failure, with the error code in error.
    virtual std::unique_ptr<HeldFolder> OpenFolder(const std::wstring& name, std::uint32_t& error) = 0;
    // Renames the entry (a link itself, not what it points to) to a new name beside it that
    // nothing has, but only while it is still the one with that id: FileNotFound when the name
    // now names something else or nothing.
    virtual std::uint32_t RenameEntry(const std::wstring& name, const FileId& id, const std::wstring& newName) = 0;
    // Holds a file inside for reading, a link not followed.
    virtual std::unique_ptr<HeldFile> HoldFile(const std::wstring& name, std::uint32_t& error) = 0;
    // Creates or truncates a file inside. Null on failure, with the error code in error.
    virtual std::unique_ptr<OutputFile> CreateOutputFile(const std::wstring& name, std::uint32_t& error) = 0;
    // Renames a file inside over another name inside, replacing a file there.
    virtual std::uint32_t MoveOver(const std::wstring& from, const std::wstring& to) = 0;
    virtual std::uint32_t RemoveFile(const std::wstring& name) = 0;
};

// Where the file operations start: the folders held by their path, and what a path means to the
// system. Errors come back as the system's error codes, 0 meaning success, so the caller can
// word them.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual FileAttributes GetAttributes(const std::wstring& path) = 0;
    // Opens what a link points to, for reading (a folder when directory is true), and closes
    // it again. Returns 0 when that worked.
    virtual std::uint32_t OpenLinkTarget(const std::wstring& path, bool directory) = 0;
    // A directory search for the path: true when it finds an entry that is not a directory.
    virtual bool SearchFindsFile(const std::wstring& path) = 0;

    // Holds the folder at path, wherever links on the way lead. Null on failure, with the error
    // code in error.
    virtual std::unique_ptr<HeldFolder> HoldFolder(const std::wstring& path, std::uint32_t& error) = 0;
    // The path as the system turns it into a full one before use (a trailing dot or blank of a
    // name goes, for one): a path it changes names something other than what it says.
    virtual std::wstring FullPathName(const std::wstring& path) = 0;
    // 0, and the id of the file the path opens now.
    virtual std::uint32_t FileIdAt(const std::wstring& path, FileId& id) = 0;
    // The folder Windows keeps for 32-bit programs (Program Files on 32-bit Windows), where only
    // administrators may make anything, without a trailing backslash; empty when the system
    // cannot say.
    virtual std::wstring ProgramFilesFolder() = 0;
    virtual std::uint32_t ChangeDirectory(const std::wstring& path) = 0;
    // The process's current folder; empty when the system cannot say.
    virtual std::wstring CurrentDirectory() = 0;

    // The system's text for an error code.
    virtual std::wstring ErrorText(std::uint32_t code) = 0;
};

} // namespace juv
