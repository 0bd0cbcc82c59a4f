#pragma once

#include "HeldObject.h"

#include <memory>
#include <string>

namespace juv {

class SyncService {
public:
    virtual ~SyncService() = default;

    // Creates or opens the named mutex, not owned. Null when the system refused, for example
    // because an object of another kind already holds the name.
    virtual std::unique_ptr<HeldObject> CreateNamedMutex(const std::wstring& name) = 0;
};

} // namespace juv
