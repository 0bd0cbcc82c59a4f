#pragma once

#include "HeldObject.h"
#include "platform/FileId.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace juv {

struct ProcessEntry {
    std::uint32_t processId = 0;
    std::wstring exeFile; // image name up to the first NUL
    // The Windows session it runs in; empty when the system does not say.
    std::optional<std::uint32_t> session;
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
    // The full path of the program the process runs, read from the open handle: a process id
    // in a snapshot may belong to another program by the time it is opened. Empty when it
    // cannot be read.
    virtual std::wstring ImageName() = 0;
};

// How a started program's window shows: a console tool's window normally, Windows' own tools
// not at all.
enum class StartWindow { Normal, Hidden };

// The environment a started program gets. The installer's own is built from the user's
// variables, which any program of the user's may set; a program run with administrator rights
// gets the machine's, as Windows gives it to a program started without a user's profile.
enum class StartEnvironment { Machine, Inherited };

class ProcessService {
public:
    virtual ~ProcessService() = default;

    // Null when the tool-help functions are missing or the snapshot cannot be taken.
    virtual std::unique_ptr<ProcessSnapshot> TakeSnapshot() = 0;

    // Opens a process with the rights to end it, to wait for it and to read its image name;
    // null on failure.
    virtual std::unique_ptr<ProcessObject> OpenForTermination(std::uint32_t processId) = 0;

    // Starts the program at path, which names it in full, with the command line the path in
    // double quotes, a blank and parameters; it inherits the current directory. Started by the
    // system itself, not the shell, which would ask the user's part of the registry how to open
    // it. Null when it cannot start, also when the environment asked for cannot be made: it is
    // then not started with another. With an image, the program is held back until the file the
    // system started it from shows that id, and ended unrun (null) when it does not: a path only
    // names a file, and may name another by the time the system opens it.
    virtual std::unique_ptr<ProcessObject> StartProgram(const std::wstring& path, const std::wstring& parameters,
                                                        StartWindow window, StartEnvironment environment,
                                                        const FileId* image) = 0;

    virtual void Sleep(std::chrono::milliseconds duration) = 0;
    virtual std::uint32_t CurrentProcessId() = 0;
    // The Windows session this process runs in; empty when the system does not say.
    virtual std::optional<std::uint32_t> CurrentSessionId() = 0;
};

} // namespace juv
