#pragma once

#include "HeldObject.h"

#include <memory>
#include <string>

namespace juv {

// What became of an attempt to own a shared mutex.
enum class MutexOwnership {
    Owned,          // ours until the held object goes; one whose owner died without releasing it counts as free
    OwnedElsewhere, // another process owns it right now
    Unavailable,    // the system would not open or make it
};

class SyncService {
public:
    virtual ~SyncService() = default;

    // Creates or opens the named mutex, not owned. Null when the system refused, for example
    // because an object of another kind already holds the name.
    virtual std::unique_ptr<HeldObject> CreateNamedMutex(const std::wstring& name) = 0;

    // Creates or opens the named mutex, which administrators and the system account of every
    // session may open, and takes ownership of it without waiting. It is named in a namespace
    // only administrators' processes can make, so no other program can make it first and hold
    // it. Non-null only when owned; destroying the result gives the ownership back and closes
    // the handle.
    virtual std::unique_ptr<HeldObject> OwnSharedMutex(const std::wstring& name, MutexOwnership& ownership) = 0;
};

} // namespace juv
