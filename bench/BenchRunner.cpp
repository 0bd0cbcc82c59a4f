// Measures the installer against its baselines under the running system and prints a table of
// medians. Each figure runs at least ten times, installer and baseline in turn.
// Usage: bench_runner.exe RUNS [OUTPUT-FILE [answers]]; with "answers" only the answer times
// through an install are measured, as in a second Windows prefix.
#include "tests/win32/DoubleSettings.h"
#include "tests/win32/ProgramDriver.h"
#include "tests/win32/Win32Helpers.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

namespace juv::test {
namespace {

double Now() {
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double CpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    const auto seconds = [](FILETIME t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

double PeakMegabytes(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(process, &counters, sizeof(counters))) return -1;
    return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

struct Row {
    const char* figure;
    double installer;
    double baseline; // negative: no baseline
    const char* unit;
    const char* goal;
    bool met;
};

} // namespace
} // namespace juv::test

int wmain(int argc, wchar_t** argv) {
    using namespace juv::test;
    const int runs = argc > 1 ? std::max(10, static_cast<int>(std::wcstol(argv[1], nullptr, 10))) : 10;
    const std::wstring bin = ProgramFolder();
    ScratchFolder scratch(L"juv-bench");
    const std::wstring installer = scratch.Path() + L"ZoroDerERIDovudi.exe";
    const std::wstring unattended = scratch.Path() + L"auto\\";
    ::CreateDirectoryW(unattended.c_str(), nullptr);
    CopyTo(bin + L"ZoroDerERIDovudi.exe", installer);
    CopyTo(bin + L"installer_e2e.exe", unattended + L"ZoroDerERIDovudi.exe");
    // The baselines run the tool from a folder of their own; the installer makes its DARORED
    // afresh each time, as a folder found there is moved aside.
    const std::wstring tool = scratch.Path() + L"tool\\wdi-simple.exe";
    ::CreateDirectoryW((scratch.Path() + L"tool").c_str(), nullptr);
    CopyTo(bin + L"tool_double.exe", tool);
    SetDoubleSetting(L"ToolLog", scratch.Path() + L"tool-log.bin");
    std::vector<Row> rows;
    const bool answersOnly = argc > 3 && std::wstring(argv[3]) == L"answers";
    const char* const windows = answersOnly ? "64-bit Windows" : "32-bit Windows";
    std::vector<double> peakInstaller, peakBaseline, peakSame, idleSlow, idleFast;
    if (!answersOnly) {

    // Start-up: launch to the main window visible and answering, the installer's with its
    // status text set; every program is measured to the same point. Each program stays up a
    // moment longer so that its peak working set includes its first seconds of work (the
    // installer's sequence runs meanwhile).
    std::vector<double> startInstaller, startBaseline, startSame;
    const auto measureStart = [](const std::wstring& exe, const wchar_t* className, bool withStatus,
                                 std::vector<double>& times, std::vector<double>& peaks) {
        const double t0 = Now();
        RunningProgram p(exe, L"");
        const auto up = [&] {
            const HWND window = p.FindVisibleWindow(className);
            if (window == nullptr) return false;
            if (withStatus) return p.StatusText().rfind(L"TEST wdi-simple", 0) == 0;
            DWORD_PTR answer = 0;
            return ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer) != 0;
        };
        while (!up()) ::Sleep(1);
        times.push_back(Now() - t0);
        ::Sleep(2500);
        peaks.push_back(PeakMegabytes(p.Process()));
    };
    for (int i = 0; i < runs; ++i) {
        measureStart(installer, L"TJUVDriverForm", true, startInstaller, peakInstaller);
        measureStart(bin + L"minimal_window.exe", L"MinimalWindow", false, startBaseline, peakBaseline);
        measureStart(bin + L"same_services.exe", L"SameServices", false, startSame, peakSame);
    }
    const double startRatio = Median(startInstaller) / Median(startBaseline);
    rows.push_back({"Start-up to window with status", Median(startInstaller) * 1000, Median(startBaseline) * 1000, "ms",
                    "ratio <= 1.10", startRatio <= 1.10});
    rows.push_back({"Start-up, against the same services", Median(startInstaller) * 1000, Median(startSame) * 1000,
                    "ms", "ratio <= 1.15", Median(startInstaller) / Median(startSame) <= 1.15});

    // Unattended: launch with /AUTO to exit, with a tool that ends at once.
    std::vector<double> autoInstaller, autoBaseline, autoSame;
    const auto measureRun = [](const std::wstring& exe, const std::wstring& arguments, std::vector<double>& times) {
        const double t0 = Now();
        RunningProgram p(exe, arguments);
        ::WaitForSingleObject(p.Process(), 120000);
        times.push_back(Now() - t0);
    };
    SetDoubleSetting(L"ToolMode", L"ok");
    for (int i = 0; i < runs; ++i) {
        RemoveTree(unattended + L"DARORED");
        measureRun(unattended + L"ZoroDerERIDovudi.exe", L"/AUTO", autoInstaller);
        measureRun(bin + L"minimal_auto.exe", L"\"" + tool + L"\"", autoBaseline);
        measureRun(bin + L"same_services.exe", L"/auto \"" + tool + L"\"", autoSame);
    }
    const double autoRatio = Median(autoInstaller) / Median(autoBaseline);
    rows.push_back({"Unattended run to exit", Median(autoInstaller) * 1000, Median(autoBaseline) * 1000, "ms",
                    "ratio <= 1.05", autoRatio <= 1.05});
    rows.push_back({"Unattended, against the same services", Median(autoInstaller) * 1000, Median(autoSame) * 1000, "ms",
                    "(floor)", Median(autoInstaller) / Median(autoSame) <= 1.05});

    // Idle while waiting: the CPU time a 5 s tool run adds to the installer's own.
    std::vector<double> idle;
    for (int i = 0; i < runs; ++i) {
        double cpu[2];
        const wchar_t* modes[2] = {L"ok|hang:5000", L"ok"};
        for (int m = 0; m < 2; ++m) {
            RemoveTree(unattended + L"DARORED");
            SetDoubleSetting(L"ToolMode", modes[m]);
            RunningProgram p(unattended + L"ZoroDerERIDovudi.exe", L"/AUTO");
            ::WaitForSingleObject(p.Process(), 120000);
            cpu[m] = CpuSeconds(p.Process());
        }
        idle.push_back(cpu[0] - cpu[1]);
        idleSlow.push_back(cpu[0]);
        idleFast.push_back(cpu[1]);
    }
    rows.push_back({"CPU while a tool runs 5 s", Median(idle) * 1000, -1, "ms", "< 50 ms", Median(idle) < 0.050});

    }

    // Answering during the install: a message every 50 ms from here, timed, through two tool
    // runs of 4 s each. Inside the runs' waits is what the waits decide; the whole install also
    // takes in everything between them: the tool's starts, the checks of the folder, the look
    // at the device.
    std::vector<double> worstInWaits, worstWhole;
    SetDoubleSetting(L"ToolMode", L"hang:4000|hang:4000");
    for (int i = 0; i < runs; ++i) {
        RemoveTree(unattended + L"DARORED");
        RunningProgram p(unattended + L"ZoroDerERIDovudi.exe", L"/AUTO");
        AnswerWatch answers(scratch.Path() + L"tool-log.bin.running");
        while (::WaitForSingleObject(p.Process(), 0) == WAIT_TIMEOUT) {
            // The window counts once the tick has started the install.
            const HWND window = p.FindVisibleWindow();
            if (window != nullptr && p.LabelText() != L"Initializing...") answers.Sample(window);
            ::Sleep(50);
        }
        worstInWaits.push_back(answers.worstInRunsMs / 1000);
        worstWhole.push_back(answers.worstOverallMs / 1000);
    }
    std::sort(worstInWaits.begin(), worstInWaits.end());
    std::sort(worstWhole.begin(), worstWhole.end());
    static char inWaits[128], whole[128];
    std::snprintf(inWaits, sizeof(inWaits), "Worst answer time inside the tool runs' waits, %s", windows);
    std::snprintf(whole, sizeof(whole), "Worst answer time through the whole install, %s", windows);
    rows.push_back({inWaits, worstInWaits.back() * 1000, -1, "ms", "< 100 ms", worstInWaits.back() < 0.100});
    rows.push_back({whole, worstWhole.back() * 1000, -1, "ms", "< 100 ms", worstWhole.back() < 0.100});

    if (!answersOnly) {
        const double size = static_cast<double>(ReadBytes(bin + L"installer_nopayload.exe").size()) / 1024.0;
        rows.push_back({"Executable without payload", size, -1, "KB", "<= 200 KB", size <= 200});

        rows.push_back({"Peak working set", Median(peakInstaller), Median(peakBaseline), "MB", "<= 8 MB",
                        Median(peakInstaller) <= 8});
        rows.push_back({"Peak working set, against the same services", Median(peakInstaller), Median(peakSame), "MB",
                        "(floor)", Median(peakInstaller) <= 8});
    }

    // Rows alone when they are to join another prefix's table.
    std::string table = answersOnly ? "" : "| Figure | Installer | Baseline | Ratio | Goal | Met |\n|---|---|---|---|---|---|\n";
    char line[512];
    for (const Row& r : rows) {
        if (r.baseline >= 0)
            std::snprintf(line, sizeof(line), "| %s | %.1f %s | %.1f %s | %.3f | %s | %s |\n", r.figure, r.installer, r.unit,
                          r.baseline, r.unit, r.installer / r.baseline, r.goal, r.met ? "yes" : "no");
        else
            std::snprintf(line, sizeof(line), "| %s | %.1f %s | | | %s | %s |\n", r.figure, r.installer, r.unit, r.goal,
                          r.met ? "yes" : "no");
        table += line;
    }
    if (!answersOnly)
        std::snprintf(line, sizeof(line),
                  "\nRuns per figure: %d each, installer and baseline in turn; medians. CPU with a 5 s tool run: "
                  "%.1f ms, with an instant one: %.1f ms.\n",
                  runs, Median(idleSlow) * 1000, Median(idleFast) * 1000);
    if (!answersOnly) table += line;
    std::fputs(table.c_str(), stdout);
    if (argc > 2) WriteBytes(argv[2], std::vector<std::uint8_t>(table.begin(), table.end()));
    DeleteDoubleSettings();
    return 0;
}
