// The program's entry: starts the support unit and COM, wires the real services to the main
// window, runs the message loop, and shuts everything down in reverse order.
#include "app/InstDriverForm.h"
#include "app/JUVDriverFormWindow.h"
#include "app/SilentMode.h"
#include "errlog32/CommandLine.h"
#include "errlog32/SupportUnit.h"
#include "platform/ScopeExit.h"
#include "platform/win32/SystemLibrary.h"
#include "platform/win32/Win32Services.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>

#ifdef JUV_SIMULATE_UNELEVATED
#include "tests/win32/UnelevatedShell.h"
using InstallerShell = juv::test::UnelevatedShell;
#else
using InstallerShell = juv::Win32Shell;
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    using namespace juv;

    // Before anything can load a DLL: nothing that lies beside the program gets to run in it.
    RestrictDllSearch();

    // COM first, as the window library needs it, then the support unit; they end in reverse.
    const bool oleStarted = SUCCEEDED(::OleInitialize(nullptr));
    const ScopeExit endOle([&] {
        if (oleStarted) ::OleUninitialize();
    });

    Win32Clock clock;
    Win32Sync sync;
    SupportUnit support(clock, sync);
    support.Startup();
    const ScopeExit endSupport([&] { support.Shutdown(); });

    // The shell calls run on this thread, which must be a single-threaded apartment.
    const bool comStarted = SUCCEEDED(::CoInitialize(nullptr));
    const ScopeExit endCom([&] {
        if (comStarted) ::CoUninitialize();
    });

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    Win32CommandLine commandLine;
    InstallerShell shell;
    Win32Processes processes;
    Win32Resources resources(instance);
    Win32FileSystem files;
    Win32Devices devices;
    Win32DriverStore store;
    Win32Reports reports;

    // A deployment engine judges a silent run by its exit code alone, and nobody sees it.
    const bool silent = CmdParamPresent(commandLine, SilentSwitch);
    if (silent) {
        if (const std::optional<SilentResult> refusal = SilentStartRefusal(shell)) {
            ReportSilentResult(reports, *refusal);
            return refusal->exitCode;
        }
    }

    SilentResult silentResult;
    {
        JUVDriverFormWindow window(instance, commandLine, showCommand, !silent);
        SilentUserInterface silentWindow(window);
        UserInterface& ui = silent ? static_cast<UserInterface&>(silentWindow) : window;
        TJUVDriverForm form({commandLine, shell, processes, resources, files, ui, devices, sync, store});
        JUVDriverForm = &form;
        const ScopeExit clearReference([] { JUVDriverForm = nullptr; });
        window.Attach(form, ui);
        RunMainWindow(window, ui, commandLine);
        silentResult = silentWindow.Result();
    }
    if (!silent) return 0;
    ReportSilentResult(reports, silentResult);
    return silentResult.exitCode;
}
