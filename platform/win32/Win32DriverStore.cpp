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

std::wstring WindowsFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = ::GetWindowsDirectoryW(folder, MAX_PATH + 1);
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

    // The values of field index of every line of a section, or of its lines with that key.
    std::vector<std::vector<std::wstring>> Lines(const std::wstring& section, const wchar_t* key = nullptr) const {
        std::vector<std::vector<std::wstring>> lines;
        INFCONTEXT line{};
        bool more = api_.firstLine(handle_, section.c_str(), key, &line);
        while (more) {
            std::vector<std::wstring> fields;
            const DWORD count = api_.fieldCount(&line);
            for (DWORD i = 1; i <= count; ++i) fields.push_back(Field(api_, line, i));
            lines.push_back(std::move(fields));
            more = key ? api_.nextMatch(&line, key, &line) : api_.nextLine(&line, &line);
        }
        return lines;
    }

    // Whether a models line lists the hardware ID, for an install that adds the service.
    bool Installs(const std::wstring& hardwareId, const std::wstring& service) const {
        for (const auto& manufacturer : Lines(L"Manufacturer")) {
            if (manufacturer.empty()) continue;
            // The models section, plain and with each platform it is decorated for.
            std::vector<std::wstring> models{manufacturer[0]};
            for (std::size_t i = 1; i < manufacturer.size(); ++i) models.push_back(manufacturer[0] + L"." + manufacturer[i]);
            for (const std::wstring& section : models)
                for (const auto& model : Lines(section)) {
                    if (model.empty()) continue;
                    for (std::size_t i = 1; i < model.size(); ++i)
                        if (SameText(model[i], hardwareId) && AddsService(model[0], service)) return true;
                }
        }
        return false;
    }

private:
    bool AddsService(const std::wstring& install, const std::wstring& service) const {
        for (const wchar_t* platform : {L"", L".NT", L".NTx86", L".NTamd64", L".NTarm64"})
            for (const auto& add : Lines(install + platform + L".Services", L"AddService"))
                if (!add.empty() && SameText(add[0], service)) return true;
        return false;
    }

    const InfApi& api_;
    HINF handle_;
};

// Every package whose INF installs the service for the hardware ID.
std::optional<std::vector<std::wstring>> ReadPackages(const std::wstring& hardwareId, const std::wstring& service) {
    const InfApi api;
    const std::wstring folder = WindowsFolder();
    if (!api.Complete() || folder.empty()) return std::nullopt;
    WIN32_FIND_DATAW data;
    UniqueFindHandle search(NullIfInvalid(::FindFirstFileW((folder + L"\\INF\\oem*.inf").c_str(), &data)));
    std::vector<std::wstring> packages;
    if (!search) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) return packages;
        return std::nullopt;
    }
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const InfFile inf(api, folder + L"\\INF\\" + data.cFileName);
        if (inf.IsOpen() && inf.Installs(hardwareId, service)) packages.emplace_back(data.cFileName);
    } while (::FindNextFileW(search.get(), &data));
    return packages;
}

bool RunningUnderWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

} // namespace

std::optional<std::vector<std::wstring>> Win32DriverStore::PackagesFor(const std::wstring& hardwareId,
                                                                       const std::wstring& service) {
    // One INF file after another, hundreds on a machine that has seen many devices: read on a
    // thread of its own while the window answers; one that outlasts the limit finishes alone.
    struct Read final : ThreadWork {
        Read(const std::wstring& hardwareId, const std::wstring& service) : hardwareId(hardwareId), service(service) {}
        void Run() override { packages = ReadPackages(hardwareId, service); }
        std::wstring hardwareId, service;
        std::optional<std::vector<std::wstring>> packages;
    };
    const auto read = RunOffTheWindowThread(std::make_unique<Read>(hardwareId, service), StoreReadLimit);
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

std::unique_ptr<ProcessObject> Win32DriverStore::StartPnpUtil(const std::wstring& arguments) {
    const std::wstring program = PnpUtilPath();
    if (program.empty()) return nullptr;
    return StartProcess(program, arguments, StartWindow::Hidden, nullptr);
}

std::optional<std::wstring> Win32DriverStore::PnpUtilUsage() {
    const std::wstring program = PnpUtilPath();
    if (program.empty()) return std::nullopt;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readRaw = nullptr, writeRaw = nullptr;
    if (!::CreatePipe(&readRaw, &writeRaw, &inherit, UsagePipeSize)) return std::nullopt;
    UniqueHandle readEnd(readRaw), writeEnd(writeRaw);
    ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    const std::unique_ptr<ProcessObject> process = StartProcess(program, L"/?", StartWindow::Hidden, writeEnd.get());
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
