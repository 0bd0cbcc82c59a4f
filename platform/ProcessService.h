#pragma once

#include "HeldObject.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace juv {

struct ProcessEntry {
    std::uint32_t processId = 0;
    std::wstring exeFile; // image name up to the first NUL
};

// One snapshot of the running processes. Destroying it closes the snapshot.
class ProcessSnapshot : public HeldObject {
public:
    virtual bool First(ProcessEntry& entry) = 0;
    virtual bool Next(ProcessEntry& entry) = 0;
};

enum class WaitResult { Ended, Timeout, Failed };

// An open process handle. Destroying it closes the handle.
class ProcessObject : public HeldObject {
public:
    virtual void Terminate(std::uint32_t exitCode) = 0;
    virtual WaitResult Wait(std::chrono::milliseconds timeout) = 0;
    // Empty when the code cannot be read.
    virtual std::optional<std::uint32_t> ExitCode() = 0;
};

// How a started program's window shows: a console tool's window normally, Windows' own tools
// not at all.
enum class StartWindow { Normal, Hidden };

class ProcessService {
public:
    virtual ~ProcessService() = default;

    // Null when the tool-help functions are missing or the snapshot cannot be taken.
    virtual std::unique_ptr<ProcessSnapshot> TakeSnapshot() = 0;

    // Opens a process with the rights to end it and to wait for it; null on failure.
    virtual std::unique_ptr<ProcessObject> OpenForTermination(std::uint32_t processId) = 0;

    // Starts the program at path, which names it in full, with the command line the path in
    // double quotes, a blank and parameters; it inherits the current directory. Started by the
    // system itself, not the shell, which would ask the user's part of the registry how to open
    // it. Null when it cannot start.
    virtual std::unique_ptr<ProcessObject> StartProgram(const std::wstring& path, const std::wstring& parameters,
                                                        StartWindow window) = 0;

    virtual void Sleep(std::chrono::milliseconds duration) = 0;
    virtual std::uint32_t CurrentProcessId() = 0;
};

} // namespace juv
