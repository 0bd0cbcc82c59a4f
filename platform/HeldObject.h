#pragma once

namespace juv {

// A system object the program holds a handle to. Destroying it closes the handle, exactly once.
class HeldObject {
public:
    virtual ~HeldObject() = default;
};

} // namespace juv
