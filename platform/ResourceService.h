#pragma once

#include "HeldObject.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace juv {

// A loaded resource of the program's own module. Destroying it releases the resource.
class Resource : public HeldObject {
public:
    virtual std::span<const std::uint8_t> Bytes() const = 0;
};

class ResourceService {
public:
    virtual ~ResourceService() = default;

    // The RCDATA resource of that name; null when the module has none.
    virtual std::unique_ptr<Resource> FindRcData(const std::wstring& name) = 0;
};

} // namespace juv
