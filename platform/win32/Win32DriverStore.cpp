// The driver store as Windows' INF folder shows it, read with SetupAPI's INF functions, and
// Windows' own pnputil, started without a console window.
#include "platform/win32/Win32Services.h"

#include "platform/win32/LiveWait.h"
#include "platform/win32/SystemLibrary.h"
#include "platform/win32/UniqueHandle.h"

#include <setupapi.h>

#include <memory>
#include <string>
#include <vector>

namespace juv {

namespace {

using namespace std::chrono_literals;

// pnputil's usage text fits many times over: it is read once pnputil has ended.
constexpr DWORD UsagePipeSize = 256 * 1024;
constexpr auto UsageWait = 60000ms;
// A driver store Windows has not let us read within this long counts as unreadable.
constexpr auto StoreReadLimit = 60000ms;

// The system's own Windows folder: on a Remote Desktop server the plain call may give a program a
// folder of the user's instead.
std::wstring WindowsFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(folder, MAX_PATH + 1);
    return length > 0 && length <= MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

// The SetupAPI INF functions, from the system folder.
struct InfApi {
    UniqueModule module = LoadSystemLibrary(L"setupapi.dll");
    decltype(&::SetupOpenInfFileW) open = LookUp<decltype(open)>(module.get(), "SetupOpenInfFileW");
    decltype(&::SetupCloseInfFile) close = LookUp<decltype(close)>(module.get(), "SetupCloseInfFile");
    decltype(&::SetupFindFirstLineW) firstLine = LookUp<decltype(firstLine)>(module.get(), "SetupFindFirstLineW");
    decltype(&::SetupFindNextLine) nextLine = LookUp<decltype(nextLine)>(module.get(), "SetupFindNextLine");
    decltype(&::SetupFindNextMatchLineW) nextMatch =
        LookUp<decltype(nextMatch)>(module.get(), "SetupFindNextMatchLineW");
    decltype(&::SetupGetFieldCount) fieldCount = LookUp<decltype(fieldCount)>(module.get(), "SetupGetFieldCount");
    decltype(&::SetupGetStringFieldW) stringField =
        LookUp<decltype(stringField)>(module.get(), "SetupGetStringFieldW");

    bool Complete() const { return open && close && firstLine && nextLine && nextMatch && fieldCount && stringField; }
};

std::wstring Field(const InfApi& api, INFCONTEXT& line, DWORD index) {
    wchar_t value[1024] = {};
    return api.stringField(&line, index, value, 1024, nullptr) ? std::wstring(value) : std::wstring();
}

// A line of an INF section: its key (empty when it has none) and its fields, every %string%
// substituted as Windows substitutes them.
struct InfLine {
    std::wstring key;
    std::vector<std::wstring> fields;
};

bool ListsAny(const std::vector<std::wstring>& listed, const std::vector<std::wstring>& wanted) {
    for (const std::wstring& id : listed)
        for (const std::wstring& want : wanted)
            if (SameText(id, want)) return true;
    return false;
}

// One open INF file, closed with it.
class InfFile {
public:
    InfFile(const InfApi& api, const std::wstring& path)
        : api_(api), handle_(api.open(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr)) {}
    ~InfFile() {
        if (handle_ != INVALID_HANDLE_VALUE) api_.close(handle_);
    }
    InfFile(const InfFile&) = delete;
    InfFile& operator=(const InfFile&) = delete;

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

    // Every line of a section, or its lines with that key.
    std::vector<InfLine> Lines(const std::wstring& section, const wchar_t* key = nullptr) const {
        std::vector<InfLine> lines;
        INFCONTEXT line{};
        bool more = api_.firstLine(handle_, section.c_str(), key, &line);
        while (more) {
            // Field 0 is the key, empty for a line without one.
            InfLine read{Field(api_, line, 0), {}};
            const DWORD count = api_.fieldCount(&line);
            for (DWORD i = 1; i <= count; ++i) read.fields.push_back(Field(api_, line, i));
            lines.push_back(std::move(read));
            more = key ? api_.nextMatch(&line, key, &line) : api_.nextLine(&line, &line);
        }
        return lines;
    }

    // The models lines that list one of the hardware IDs, under their manufacturer's name.
    std::vector<PackageModel> Models(const std::vector<std::wstring>& hardwareIds) const {
        std::vector<PackageModel> found;
        for (const InfLine& manufacturer : Lines(L"Manufacturer")) {
            if (manufacturer.fields.empty()) continue;
            // The models section, plain and with each platform it is decorated for.
            const std::wstring& plain = manufacturer.fields[0];
            std::vector<std::wstring> sections{plain};
            for (std::size_t i = 1; i < manufacturer.fields.size(); ++i)
                sections.push_back(plain + L"." + manufacturer.fields[i]);
            for (const std::wstring& section : sections)
                for (const InfLine& model : Lines(section)) {
                    if (model.fields.empty()) continue;
                    std::vector<std::wstring> ids(model.fields.begin() + 1, model.fields.end());
                    if (!ListsAny(ids, hardwareIds)) continue;
                    found.push_back({manufacturer.key, model.key, std::move(ids), Services(model.fields[0])});
                }
        }
        return found;
    }

private:
    // The services an install section adds, plain and for each platform it may be decorated for.
    std::vector<std::wstring> Services(const std::wstring& install) const {
        std::vector<std::wstring> services;
        for (const wchar_t* platform : {L"", L".NT", L".NTx86", L".NTamd64", L".NTarm64"})
            for (const InfLine& add : Lines(install + platform + L".Services", L"AddService"))
                if (!add.fields.empty()) services.push_back(add.fields[0]);
        return services;
    }

    const InfApi& api_;
    HINF handle_;
};

// Every package with a models line for one of the hardware IDs.
std::optional<std::vector<DriverPackage>> ReadPackages(const std::vector<std::wstring>& hardwareIds) {
    const InfApi api;
    const std::wstring folder = WindowsFolder();
    if (!api.Complete() || folder.empty()) return std::nullopt;
    WIN32_FIND_DATAW data;
    UniqueFindHandle search(NullIfInvalid(::FindFirstFileW((folder + L"\\INF\\oem*.inf").c_str(), &data)));
    std::vector<DriverPackage> packages;
    if (!search) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) return packages;
        return std::nullopt;
    }
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const InfFile inf(api, folder + L"\\INF\\" + data.cFileName);
        if (!inf.IsOpen()) continue;
        std::vector<PackageModel> models = inf.Models(hardwareIds);
        if (!models.empty()) packages.push_back({data.cFileName, std::move(models)});
    } while (::FindNextFileW(search.get(), &data));
    return packages;
}

bool RunningUnderWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

} // namespace

std::optional<std::vector<DriverPackage>>
Win32DriverStore::PackagesListing(const std::vector<std::wstring>& hardwareIds) {
    // One INF file after another, hundreds on a machine that has seen many devices: read on a
    // thread of its own while the window answers; one that outlasts the limit finishes alone.
    struct Read final : ThreadWork {
        explicit Read(const std::vector<std::wstring>& hardwareIds) : hardwareIds(hardwareIds) {}
        void Run() override { packages = ReadPackages(hardwareIds); }
        std::vector<std::wstring> hardwareIds;
        std::optional<std::vector<DriverPackage>> packages;
    };
    const auto read = RunOffTheWindowThread(std::make_unique<Read>(hardwareIds), StoreReadLimit);
    if (!read) return std::nullopt;
    return std::move(read->packages);
}

std::wstring Win32DriverStore::PnpUtilPath() {
    const std::wstring folder = WindowsFolder();
    if (folder.empty()) return {};
    // A 32-bit program on 64-bit Windows is shown the 32-bit system folder under System32's
    // name; the 64-bit pnputil, the one that may change devices, is reached as Sysnative.
    return folder + (RunningUnderWow64() ? L"\\Sysnative\\pnputil.exe" : L"\\System32\\pnputil.exe");
}

std::unique_ptr<ProcessObject> Win32DriverStore::StartPnpUtil(const std::wstring& arguments,
                                                              StartEnvironment environment) {
    const std::wstring program = PnpUtilPath();
    if (program.empty()) return nullptr;
    return StartProcess(program, arguments, StartWindow::Hidden, environment, nullptr);
}

std::optional<std::wstring> Win32DriverStore::PnpUtilUsage() {
    const std::wstring program = PnpUtilPath();
    if (program.empty()) return std::nullopt;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readRaw = nullptr, writeRaw = nullptr;
    if (!::CreatePipe(&readRaw, &writeRaw, &inherit, UsagePipeSize)) return std::nullopt;
    UniqueHandle readEnd(readRaw), writeEnd(writeRaw);
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    const std::unique_ptr<ProcessObject> process =
        StartProcess(program, L"/?", StartWindow::Hidden, StartEnvironment::Machine, writeEnd.get());
    // Only the child may hold the writing end now, so the pipe ends when the child does.
    writeEnd.reset();
    if (!process || process->Wait(UsageWait) != WaitResult::Ended) return std::nullopt;
    // The names of its commands are the same in every language: plain ASCII is all that is read.
    std::wstring usage;
    char buffer[4096];
    DWORD read = 0;
    DWORD available = 0;
    while (::PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ::ReadFile(readEnd.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        for (DWORD i = 0; i < read; ++i) usage += static_cast<wchar_t>(static_cast<unsigned char>(buffer[i]));
    return usage;
}

} // namespace juv
