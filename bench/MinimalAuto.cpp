// Baseline for the unattended figure: waits one second, then starts the given tool twice
// through the shell, waiting for each run, as the installer's sequence does at the least.
// Usage: MinimalAuto.exe TOOL-PATH
#include "bench/Baseline.h"

#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    ::Sleep(1000);
    return juv::RunToolTwice(argv[1]) ? 0 : 1;
}
