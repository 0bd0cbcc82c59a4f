#include "tests/fakes/FakeServices.h"

#include "platform/SystemErrors.h"

#include <algorithm>
#include <cwctype>
#include <stdexcept>

namespace juv::test {

// ---- mutex -------------------------------------------------------------------------------

std::unique_ptr<HeldObject> FakeSync::CreateNamedMutex(const std::wstring& name) {
    names.push_back(name);
    if (refuse) return nullptr;
    return std::make_unique<CountedObject>(handles);
}

namespace {

class FakeOwnership final : public HeldObject {
public:
    explicit FakeOwnership(int& owned) : owned_(owned) { ++owned_; }
    ~FakeOwnership() override { --owned_; }

private:
    int& owned_;
};

} // namespace

std::unique_ptr<HeldObject> FakeSync::OwnSharedMutex(const std::wstring& name, MutexOwnership& ownership) {
    const auto other = others.find(name);
    if (other != others.end() && other->second == Other::Refuses) {
        ownership = MutexOwnership::Unavailable;
        return nullptr;
    }
    if (other != others.end() && other->second == Other::Owns) {
        ownership = MutexOwnership::OwnedElsewhere;
        return nullptr;
    }
    // An abandoned mutex is handed to the next one who asks, as the system does.
    if (other != others.end()) others.erase(other);
    ownership = MutexOwnership::Owned;
    ownings.push_back(name);
    return std::make_unique<FakeOwnership>(owned[name]);
}

// ---- processes ---------------------------------------------------------------------------

namespace {

class FakeSnapshot final : public ProcessSnapshot {
public:
    FakeSnapshot(std::vector<FakeProcess> entries, int throwAfter, HandleCount& count)
        : entries_(std::move(entries)), throwAfter_(throwAfter), counted_(count) {}

    bool First(ProcessEntry& entry) override {
        next_ = 0;
        return Next(entry);
    }
    bool Next(ProcessEntry& entry) override {
        if (throwAfter_ >= 0 && static_cast<int>(next_) >= throwAfter_) throw std::runtime_error("snapshot broke");
        if (next_ >= entries_.size()) return false;
        entry.processId = entries_[next_].id;
        entry.exeFile = entries_[next_].exeFile;
        entry.session = entries_[next_].session;
        ++next_;
        return true;
    }

private:
    std::vector<FakeProcess> entries_;
    int throwAfter_;
    std::size_t next_ = 0;
    CountedObject counted_;
};

class FakeServerHandle final : public ProcessObject {
public:
    FakeServerHandle(FakeProcesses& table, std::uint32_t id, std::wstring image)
        : table_(table), id_(id), image_(std::move(image)), counted_(table.processHandles) {}

    void Terminate(std::uint32_t) override {
        table_.terminated.push_back(id_);
        table_.End(id_);
    }
    WaitResult Wait(std::chrono::milliseconds timeout) override {
        table_.waits.push_back(timeout);
        return table_.Running(id_) ? WaitResult::Timeout : WaitResult::Ended;
    }
    std::optional<std::uint32_t> ExitCode() override { return 1; }
    std::wstring ImageName() override { return image_; }

private:
    FakeProcesses& table_;
    std::uint32_t id_;
    std::wstring image_;
    CountedObject counted_;
};

} // namespace

namespace {

// A started program as its behaviour says it ends; every wait for it is recorded.
class FakeToolProcess final : public ProcessObject {
public:
    FakeToolProcess(ToolBehaviour behaviour, HandleCount& handles, std::vector<std::chrono::milliseconds>& waits)
        : behaviour_(std::move(behaviour)), waits_(waits), counted_(handles) {}

    void Terminate(std::uint32_t) override {}
    WaitResult Wait(std::chrono::milliseconds timeout) override {
        waits_.push_back(timeout);
        if (behaviour_.waitFails) return WaitResult::Failed;
        return behaviour_.hang ? WaitResult::Timeout : WaitResult::Ended;
    }
    std::optional<std::uint32_t> ExitCode() override { return behaviour_.exitCode; }
    std::wstring ImageName() override { return {}; }

private:
    ToolBehaviour behaviour_;
    std::vector<std::chrono::milliseconds>& waits_;
    CountedObject counted_;
};

} // namespace

FakeProcess& FakeProcesses::Add(std::uint32_t id, std::wstring exeFile) {
    FakeProcess process;
    process.id = id;
    process.exeFile = std::move(exeFile);
    table.push_back(process);
    return table.back();
}

bool FakeProcesses::Running(std::uint32_t id) const {
    return std::any_of(table.begin(), table.end(), [&](const FakeProcess& p) { return p.id == id; });
}

void FakeProcesses::End(std::uint32_t id) {
    const auto it = std::find_if(table.begin(), table.end(), [&](const FakeProcess& p) { return p.id == id; });
    if (it == table.end() || !it->endsWhenKilled) return;
    FakeProcess process = *it;
    table.erase(it);
    if (process.restarts > 0) {
        // Someone starts the server again right away, under a new id, at the end of the list.
        --process.restarts;
        process.id = nextId++;
        table.push_back(process);
    }
}

std::unique_ptr<ProcessSnapshot> FakeProcesses::TakeSnapshot() {
    if (toolHelpMissing) return nullptr;
    return std::make_unique<FakeSnapshot>(table, throwAfterEntries, snapshots);
}

std::unique_ptr<ProcessObject> FakeProcesses::OpenForTermination(std::uint32_t processId) {
    const auto it = std::find_if(table.begin(), table.end(), [&](const FakeProcess& p) { return p.id == processId; });
    if (it == table.end() || !it->openable) return nullptr;
    if (!it->imageAfterOpen.empty()) {
        // The id's new program is what every later snapshot lists.
        FakeProcess reused = *it;
        reused.exeFile = reused.imageAfterOpen.substr(reused.imageAfterOpen.find_last_of(L'\\') + 1);
        reused.restarts = 0;
        *it = reused;
        return std::make_unique<FakeServerHandle>(*this, processId, reused.imageAfterOpen);
    }
    if (it->imageUnreadable) return std::make_unique<FakeServerHandle>(*this, processId, std::wstring());
    return std::make_unique<FakeServerHandle>(*this, processId, L"C:\\Program Files\\JUV\\" + it->exeFile);
}

ToolBehaviour Refuses() {
    ToolBehaviour b;
    b.refuse = true;
    return b;
}

ToolBehaviour Hangs(std::function<void()> effect) {
    ToolBehaviour b;
    b.hang = true;
    b.effect = std::move(effect);
    return b;
}

ToolBehaviour ExitsWith(std::optional<std::uint32_t> exitCode, std::function<void()> effect) {
    ToolBehaviour b;
    b.exitCode = exitCode;
    b.effect = std::move(effect);
    return b;
}

ToolBehaviour WaitFails() {
    ToolBehaviour b;
    b.waitFails = true;
    return b;
}

std::unique_ptr<ProcessObject> FakeProcesses::StartProgram(const std::wstring& path, const std::wstring& parameters,
                                                           StartWindow window, StartEnvironment environment,
                                                           const FileId* image) {
    starts.push_back({path, parameters, window, currentFolder ? *currentFolder : std::wstring(), environment,
                      image ? std::optional<FileId>(*image) : std::nullopt});
    // Started held back and ended unrun: it never did anything.
    if (image && startedImage && !(*startedImage == *image)) return nullptr;
    startTimes.push_back(slept);
    ToolBehaviour behaviour = defaultBehaviour;
    if (!behaviours.empty()) {
        behaviour = behaviours.front();
        behaviours.pop_front();
    }
    if (behaviour.refuse) return nullptr;
    if (behaviour.effect) behaviour.effect();
    return std::make_unique<FakeToolProcess>(behaviour, runHandles, runWaits);
}

// ---- shell -------------------------------------------------------------------------------

ShellExecuteResult FakeShell::Execute(const ShellExecuteRequest& request) {
    launches.push_back(request);
    ToolBehaviour behaviour = defaultBehaviour;
    if (!behaviours.empty()) {
        behaviour = behaviours.front();
        behaviours.pop_front();
    }
    ShellExecuteResult result;
    if (behaviour.refuse) {
        result.error = 1223; // the user cancelled, or the file cannot be run
        return result;
    }
    if (behaviour.effect) behaviour.effect();
    result.succeeded = true;
    if ((request.mask & SeeMask::NoCloseProcess) != 0)
        result.process = std::make_unique<FakeToolProcess>(behaviour, processHandles, waits);
    return result;
}

// ---- driver store ------------------------------------------------------------------------

namespace {

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towupper(static_cast<std::wint_t>(x)) == std::towupper(static_cast<std::wint_t>(y));
           });
}

// The word after the command, without its quotes: an INF name or a device's instance ID.
std::wstring Subject(const std::wstring& arguments, const std::wstring& command) {
    std::size_t at = arguments.find(command);
    if (at == std::wstring::npos) return {};
    at += command.size();
    while (at < arguments.size() && arguments[at] == L' ') ++at;
    if (at < arguments.size() && arguments[at] == L'"') return arguments.substr(at + 1, arguments.find(L'"', at + 1) - at - 1);
    return arguments.substr(at, arguments.find(L' ', at) - at);
}

} // namespace

std::optional<std::vector<DriverPackage>>
FakeDriverStore::PackagesListing(const std::vector<std::wstring>& hardwareIds) {
    if (unreadable) return std::nullopt;
    std::vector<DriverPackage> found;
    for (const auto& [inf, models] : packages) {
        DriverPackage package{inf, {}};
        for (const PackageModel& model : models)
            if (std::any_of(model.hardwareIds.begin(), model.hardwareIds.end(), [&](const std::wstring& id) {
                    return std::any_of(hardwareIds.begin(), hardwareIds.end(),
                                       [&](const std::wstring& wanted) { return SameIgnoringCase(id, wanted); });
                }))
                package.models.push_back(model);
        if (!package.models.empty()) found.push_back(std::move(package));
    }
    return found;
}

std::unique_ptr<ProcessObject> FakeDriverStore::StartPnpUtil(const std::wstring& arguments,
                                                             StartEnvironment environment) {
    runs.push_back(arguments);
    runEnvironments.push_back(environment);
    if (behaviour.refuse) return nullptr;
    if (behaviour.effect) behaviour.effect();
    const bool does = !changesNothing && !behaviour.hang && (behaviour.exitCode == 0u || behaviour.exitCode == 3010u);
    if (does) {
        if (const std::wstring node = Subject(arguments, L"/remove-device"); !node.empty() && devices_.known)
            std::erase_if(*devices_.known, [&](const PresentDevice& d) { return d.instanceId == node; });
        for (const wchar_t* command : {L"/delete-driver", L"-d"})
            if (const std::wstring inf = Subject(arguments, command); !inf.empty()) packages.erase(inf);
    }
    return std::make_unique<FakeToolProcess>(behaviour, processHandles, waits);
}

// ---- resources ---------------------------------------------------------------------------

namespace {

class FakeResource final : public Resource {
public:
    FakeResource(const std::vector<std::uint8_t>& bytes, HandleCount& count) : bytes_(bytes), counted_(count) {}
    std::span<const std::uint8_t> Bytes() const override { return bytes_; }

private:
    const std::vector<std::uint8_t>& bytes_;
    CountedObject counted_;
};

} // namespace

std::unique_ptr<Resource> FakeResources::FindRcData(const std::wstring& name) {
    requested.push_back(name);
    if (throwOnFind) throw std::runtime_error("resource section unreadable");
    if (!payload || name != L"WDISIMPLE") return nullptr;
    return std::make_unique<FakeResource>(*payload, handles);
}

// ---- file system -------------------------------------------------------------------------

namespace {

class FakeOutputFile final : public OutputFile {
public:
    FakeOutputFile(FakeFileSystem& files, std::wstring key) : files_(files), key_(std::move(key)) { ++files_.openFiles; }
    ~FakeOutputFile() override { --files_.openFiles; }

    std::size_t Write(std::span<const std::uint8_t> bytes) override {
        auto& content = files_.nodes[key_].content;
        std::size_t count = bytes.size();
        if (files_.writeLimit) count = std::min(count, *files_.writeLimit - std::min(*files_.writeLimit, content.size()));
        content.insert(content.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
        return count;
    }

private:
    FakeFileSystem& files_;
    std::wstring key_;
};

} // namespace

std::wstring FakeFileSystem::Key(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

bool FakeFileSystem::ParentExists(const std::wstring& key) const {
    const std::size_t slash = key.find_last_of(L'\\');
    if (slash == std::wstring::npos) return false;
    const std::wstring parent = key.substr(0, slash);
    if (parent.size() == 2 && parent[1] == L':') return true; // a drive root always exists
    return IsDirectory(parent);
}

void FakeFileSystem::AddDirectory(const std::wstring& path) {
    const std::wstring key = Key(path);
    const std::size_t slash = key.find_last_of(L'\\');
    if (slash != std::wstring::npos && slash > 2) AddDirectory(key.substr(0, slash));
    if (!nodes[key].directory) nodes[key].security = AdministratorsOwn();
    nodes[key].directory = true;
}

void FakeFileSystem::AddFile(const std::wstring& path, std::vector<std::uint8_t> content) {
    const std::wstring key = Key(path);
    AddDirectory(key.substr(0, key.find_last_of(L'\\')));
    Node node;
    node.content = std::move(content);
    nodes[key] = node;
}

bool FakeFileSystem::IsDirectory(const std::wstring& path) const {
    const auto it = nodes.find(Key(path));
    return it != nodes.end() && it->second.directory;
}

bool FakeFileSystem::IsFile(const std::wstring& path) const {
    const auto it = nodes.find(Key(path));
    return it != nodes.end() && !it->second.directory;
}

const std::vector<std::uint8_t>* FakeFileSystem::Content(const std::wstring& path) const {
    const auto it = nodes.find(Key(path));
    return it == nodes.end() || it->second.directory ? nullptr : &it->second.content;
}

std::vector<std::wstring> FakeFileSystem::FilesIn(const std::wstring& folder) const {
    const std::wstring prefix = Key(folder) + L"\\";
    std::vector<std::wstring> names;
    for (const auto& [key, node] : nodes)
        if (key.rfind(prefix, 0) == 0 && key.find(L'\\', prefix.size()) == std::wstring::npos)
            names.push_back(key.substr(prefix.size()));
    return names;
}

FileAttributes FakeFileSystem::GetAttributes(const std::wstring& path) {
    FileAttributes result;
    const std::wstring key = Key(path);
    if (const auto error = attributeErrors.find(key); error != attributeErrors.end()) {
        result.error = error->second;
        return result;
    }
    const auto it = nodes.find(key);
    if (it == nodes.end()) {
        result.error = ParentExists(key) ? ErrorCode::FileNotFound : ErrorCode::PathNotFound;
        return result;
    }
    result.valid = true;
    result.directory = it->second.directory;
    result.link = it->second.link;
    return result;
}

std::uint32_t FakeFileSystem::OpenLinkTarget(const std::wstring& path, bool) {
    const auto it = nodes.find(Key(path));
    if (it == nodes.end()) return ErrorCode::FileNotFound;
    return it->second.linkTargetError;
}

bool FakeFileSystem::SearchFindsFile(const std::wstring& path) {
    const auto it = searchFinds.find(Key(path));
    return it != searchFinds.end() && it->second;
}

std::uint32_t FakeFileSystem::ChangeDirectory(const std::wstring& path) {
    const std::wstring key = Key(path);
    log.push_back(L"cd " + key);
    if (const auto error = setCurrentDirectoryErrors.find(key); error != setCurrentDirectoryErrors.end())
        return error->second;
    if (!IsDirectory(key)) return ParentExists(key) ? ErrorCode::FileNotFound : ErrorCode::PathNotFound;
    currentDirectory = key;
    return 0;
}

std::uint32_t FakeFileSystem::ListFolder(const std::wstring& path, std::vector<std::wstring>& names) {
    const std::wstring key = Key(path);
    if (const auto error = listErrors.find(key); error != listErrors.end()) return error->second;
    if (!IsDirectory(key)) return ParentExists(key) ? ErrorCode::FileNotFound : ErrorCode::PathNotFound;
    names = FilesIn(key);
    return 0;
}

namespace {

// Holding marks the node, so that changes by anyone fail until it is let go.
class FakeHold {
public:
    FakeHold(FakeFileSystem& files, std::wstring key, HandleCount& count)
        : files_(files), key_(std::move(key)), counted_(count) {
        ++files_.nodes[key_].holds;
    }
    ~FakeHold() {
        if (const auto it = files_.nodes.find(key_); it != files_.nodes.end()) --it->second.holds;
    }
    FakeFileSystem::Node& Node() { return files_.nodes[key_]; }
    FakeFileSystem& Files() { return files_; }
    const std::wstring& Key() const { return key_; }

private:
    FakeFileSystem& files_;
    std::wstring key_;
    CountedObject counted_;
};

class FakeHeldFile final : public HeldFile {
public:
    FakeHeldFile(FakeFileSystem& files, std::wstring key) : hold_(files, std::move(key), files.heldFiles) {}
    bool IsLink() override { return hold_.Node().link; }
    std::uint32_t ReadId(FileId& id) override {
        id = hold_.Files().IdOf(hold_.Key());
        return 0;
    }
    ContentCheck CompareContent(std::span<const std::uint8_t> bytes) override {
        const auto& content = hold_.Node().content;
        return std::equal(bytes.begin(), bytes.end(), content.begin(), content.end()) ? ContentCheck::Same
                                                                                     : ContentCheck::Different;
    }

private:
    FakeHold hold_;
};

class FakeHeldFolder final : public HeldFolder {
public:
    FakeHeldFolder(FakeFileSystem& files, std::wstring key) : hold_(files, std::move(key), files.heldFolders) {}
    bool IsLink() override { return hold_.Node().link; }
    std::uint32_t ReadSecurity(FolderSecurity& security) override {
        if (Files().onJudge) Files().onJudge();
        const auto& errors = Files().readSecurityErrors;
        if (const auto error = errors.find(hold_.Key()); error != errors.end()) return error->second;
        security = hold_.Node().security;
        return 0;
    }
    std::uint32_t ReadVolume(VolumeTraits& volume) override {
        volume = Files().VolumeOf(hold_.Key());
        return 0;
    }
    std::uint32_t ReadId(FileId& id) override {
        id = Files().IdOf(hold_.Key());
        return 0;
    }
    std::wstring FinalPath() override { return hold_.Key(); }

    FileAttributes Attributes(const std::wstring& name) override { return Files().GetAttributes(Inside(name)); }
    std::uint32_t List(std::vector<std::wstring>& names) override { return Files().ListFolder(hold_.Key(), names); }
    std::unique_ptr<HeldFolder> MakeFolder(const std::wstring& name, std::uint32_t& error) override {
        return Files().MakeHeldFolder(Inside(name), error);
    }
    std::unique_ptr<HeldFolder> OpenFolder(const std::wstring& name, std::uint32_t& error) override {
        return Files().OpenHeldFolder(Inside(name), error);
    }
    std::uint32_t RenameEntry(const std::wstring& name, const FileId& id, const std::wstring& newName) override {
        const std::wstring key = Inside(name);
        if (!Files().nodes.count(key) || !(Files().IdOf(key) == id)) return ErrorCode::FileNotFound;
        return Files().Rename(key, Inside(newName));
    }
    std::unique_ptr<HeldFile> HoldFile(const std::wstring& name, std::uint32_t& error) override {
        return Files().HoldFile(Inside(name), error);
    }
    std::unique_ptr<OutputFile> CreateOutputFile(const std::wstring& name, std::uint32_t& error) override {
        return Files().CreateOutputFile(Inside(name), error);
    }
    std::uint32_t MoveOver(const std::wstring& from, const std::wstring& to) override {
        return Files().MoveOver(Inside(from), Inside(to));
    }
    std::uint32_t RemoveFile(const std::wstring& name) override { return Files().RemoveFile(Inside(name)); }

private:
    FakeFileSystem& Files() { return hold_.Files(); }
    std::wstring Inside(const std::wstring& name) const { return hold_.Key() + L"\\" + name; }

    FakeHold hold_;
};

} // namespace

FileId FakeFileSystem::IdOf(const std::wstring& key) {
    Node& node = nodes[key];
    if (node.id == 0) node.id = ++lastId_;
    FileId id;
    id.volume = 1;
    for (std::size_t i = 0; i < sizeof(node.id); ++i) id.file[i] = static_cast<std::uint8_t>(node.id >> (8 * i));
    return id;
}

std::wstring FakeFileSystem::FullPathName(const std::wstring& path) {
    // As the system does it: each name loses its trailing dots and blanks.
    std::wstring full;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find(L'\\', start);
        std::wstring name = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        while (!name.empty() && (name.back() == L'.' || name.back() == L' ') && name != L"." && name != L"..")
            name.pop_back();
        full += name;
        if (end == std::wstring::npos) return full;
        full += L'\\';
        start = end + 1;
    }
}

std::uint32_t FakeFileSystem::FileIdAt(const std::wstring& path, FileId& id) {
    std::wstring key = Key(FullPathName(path));
    if (const auto it = nameOpens.find(key); it != nameOpens.end()) key = it->second;
    if (!nodes.count(key)) return ParentExists(key) ? ErrorCode::FileNotFound : ErrorCode::PathNotFound;
    id = IdOf(key);
    return 0;
}

FolderSecurity FakeFileSystem::AdministratorsOwn() {
    FolderSecurity security;
    security.owner = Trustee::Administrators;
    const std::uint32_t all = 0x1F01FF;
    security.entries = {{true, Trustee::Administrators, all}, {true, Trustee::System, all}, {true, Trustee::Other, 0x1200A9}};
    return security;
}

VolumeTraits FakeFileSystem::VolumeOf(const std::wstring& key) const {
    VolumeTraits volume{true, false};
    std::size_t longest = 0;
    for (const auto& [prefix, traits] : volumes)
        if (key.rfind(prefix, 0) == 0 && prefix.size() >= longest) {
            longest = prefix.size();
            volume = traits;
        }
    return volume;
}

std::unique_ptr<HeldFolder> FakeFileSystem::MakeHeldFolder(const std::wstring& path, std::uint32_t& error) {
    const std::wstring key = Key(path);
    log.push_back(L"make " + key);
    error = 0;
    if (const auto injected = createDirectoryErrors.find(key); injected != createDirectoryErrors.end()) {
        // Said to be there already: someone else made it a moment ago.
        if (injected->second == ErrorCode::AlreadyExists && !nodes.count(key)) AddDirectory(key);
        error = injected->second;
    } else if (nodes.count(key)) {
        error = ErrorCode::AlreadyExists;
    } else if (!ParentExists(key)) {
        error = ErrorCode::PathNotFound;
    }
    if (error != 0) return nullptr;
    nodes[key].directory = true;
    nodes[key].security = AdministratorsOwn();
    return std::make_unique<FakeHeldFolder>(*this, key);
}

std::uint32_t FakeFileSystem::Rename(const std::wstring& from, const std::wstring& to) {
    const std::wstring source = Key(from);
    const std::wstring target = Key(to);
    log.push_back(L"rename " + source + L" -> " + target);
    if (const auto injected = renameErrors.find(source); injected != renameErrors.end()) return injected->second;
    if (!nodes.count(source)) return ParentExists(source) ? ErrorCode::FileNotFound : ErrorCode::PathNotFound;
    if (nodes.count(target)) return ErrorCode::AlreadyExists;
    // Whatever lies inside goes along; anything held in it keeps the whole where it is.
    std::vector<std::wstring> moving;
    for (const auto& [key, node] : nodes)
        if (key == source || key.rfind(source + L"\\", 0) == 0) {
            if (node.holds > 0 || node.heldByAnother) return ErrorCode::SharingViolation;
            moving.push_back(key);
        }
    for (const std::wstring& key : moving) {
        nodes[target + key.substr(source.size())] = nodes[key];
        nodes.erase(key);
    }
    return 0;
}

std::uint32_t FakeFileSystem::HoldError(const std::wstring& key, bool directory) const {
    const auto it = nodes.find(key);
    if (it == nodes.end()) return ErrorCode::FileNotFound;
    // A folder is held as it is, a link among them, never what the link points to.
    if (it->second.directory != directory && !(directory && it->second.link)) return ErrorCode::AccessDenied;
    return it->second.lockedExclusively ? ErrorCode::SharingViolation : 0;
}

std::unique_ptr<HeldFolder> FakeFileSystem::HoldFolder(const std::wstring& path, std::uint32_t& error) {
    // Held by path, a folder is the one the links on the way lead to.
    std::wstring key = Key(path);
    if (const auto it = finalPaths.find(key); it != finalPaths.end()) key = it->second;
    if (const auto it = nodes.find(key); it != nodes.end() && it->second.link) {
        error = it->second.linkTargetError ? it->second.linkTargetError : ErrorCode::FileNotFound;
        return nullptr;
    }
    return OpenHeldFolder(key, error);
}

std::unique_ptr<HeldFolder> FakeFileSystem::OpenHeldFolder(const std::wstring& path, std::uint32_t& error) {
    const std::wstring key = Key(path);
    if ((error = HoldError(key, true)) != 0) return nullptr;
    return std::make_unique<FakeHeldFolder>(*this, key);
}

std::unique_ptr<HeldFile> FakeFileSystem::HoldFile(const std::wstring& path, std::uint32_t& error) {
    const std::wstring key = Key(path);
    if ((error = HoldError(key, false)) != 0) return nullptr;
    auto held = std::make_unique<FakeHeldFile>(*this, key);
    return held;
}

std::unique_ptr<OutputFile> FakeFileSystem::CreateOutputFile(const std::wstring& path, std::uint32_t& error) {
    const std::wstring key = Key(path);
    log.push_back(L"create " + key);
    error = 0;
    if (const auto injected = createFileErrors.find(key); injected != createFileErrors.end()) error = injected->second;
    else if (!ParentExists(key)) error = ErrorCode::PathNotFound;
    else if (const auto it = nodes.find(key); it != nodes.end() && (it->second.directory || it->second.lockedExclusively || it->second.holds > 0))
        error = it->second.directory ? ErrorCode::AccessDenied : ErrorCode::SharingViolation;
    if (error != 0) return nullptr;
    nodes[key] = Node{};
    return std::make_unique<FakeOutputFile>(*this, key);
}

std::uint32_t FakeFileSystem::MoveOver(const std::wstring& from, const std::wstring& to) {
    const std::wstring source = Key(from);
    const std::wstring target = Key(to);
    log.push_back(L"replace " + source + L" -> " + target);
    if (const auto injected = replaceErrors.find(target); injected != replaceErrors.end()) return injected->second;
    if (!IsFile(source)) return ErrorCode::FileNotFound;
    if (nodes[source].holds > 0) return ErrorCode::SharingViolation;
    if (const auto it = nodes.find(target); it != nodes.end() && (it->second.directory || it->second.lockedExclusively))
        return ErrorCode::AccessDenied;
    if (const auto it = nodes.find(target); it != nodes.end() && it->second.holds > 0) return ErrorCode::SharingViolation;
    nodes[target] = nodes[source];
    nodes.erase(source);
    return 0;
}

std::uint32_t FakeFileSystem::RemoveFile(const std::wstring& path) {
    const std::wstring key = Key(path);
    log.push_back(L"delete " + key);
    if (!IsFile(key)) return ErrorCode::FileNotFound;
    if (nodes[key].holds > 0) return ErrorCode::SharingViolation;
    nodes.erase(key);
    return 0;
}

std::wstring FakeFileSystem::ErrorText(std::uint32_t code) {
    // Shaped like the system's texts: a sentence with a full stop and a line break.
    return L"System text " + std::to_wstring(code) + L".\r\n";
}

// ---- screen ------------------------------------------------------------------------------

void FakeUserInterface::SetLabelText(const std::wstring& text) {
    label = text;
    labels.push_back(text);
    events.push_back(L"label: " + text);
}

void FakeUserInterface::SetStatusText(const std::wstring& text) {
    status = text;
    statuses.push_back(text);
    events.push_back(L"status: " + text);
}

void FakeUserInterface::EnableButton(bool enabled) {
    buttonEnabled = enabled;
    events.push_back(enabled ? L"button: on" : L"button: off");
}

void FakeUserInterface::SetButtonText(const std::wstring& text) {
    buttonText = text;
    events.push_back(L"button text: " + text);
}

void FakeUserInterface::StopTimer() {
    timerRunning = false;
    events.push_back(L"timer: stopped");
}

void FakeUserInterface::SetInstalling(bool on) {
    if (on && !installing) ++installRuns;
    installing = on;
}

void FakeUserInterface::SetProgress(TaskbarProgress state) {
    progress = state;
    static const wchar_t* const names[] = {L"none", L"indeterminate", L"error"};
    events.push_back(std::wstring(L"progress: ") + names[static_cast<int>(state)]);
}

bool FakeUserInterface::GoOnBesideAnotherInstall() {
    events.push_back(L"another install");
    return goOnBesideAnotherInstall;
}

void FakeUserInterface::InstallFinished(InstallVerdict verdict, const std::wstring& reason) {
    static const wchar_t* const names[] = {L"finished: done | ", L"finished: restart | ", L"finished: failed | "};
    events.push_back(names[static_cast<int>(verdict)] + reason);
}

void FakeUserInterface::CloseMainWindow() {
    closed = true;
    events.push_back(L"close");
}

void FakeUserInterface::PostQuit() {
    quitPosted = true;
    events.push_back(L"quit");
}

void FakeUserInterface::ShowErrorBox(const std::wstring& text, const std::wstring& caption) {
    events.push_back(L"error box: " + text + L" | " + caption);
    if (onDialog) onDialog();
}

void FakeUserInterface::ShowMessageDialog(const std::wstring& text, const std::wstring& caption) {
    events.push_back(L"dialog: " + text + L" | " + caption);
    if (onDialog) onDialog();
}

std::wstring FakeUserInterface::LowerCase(const std::wstring& text) {
    std::wstring lower = text;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    return lower;
}

} // namespace juv::test
