#pragma once

#include "HeldObject.h"

#include <memory>
#include <string>

namespace juv {

class SyncService {
public:
    virtual ~SyncService() = default;

    // Creates or opens the named mutex, not owned; existed tells whether it was there before.
    // Null when the system refused, for example because an object of another kind already
    // holds the name.
    virtual std::unique_ptr<HeldObject> CreateNamedMutex(const std::wstring& name, bool& existed) = 0;
};

} // namespace juv
