#pragma once

namespace juv {

// A private namespace of named objects whose boundary only an administrator's process lies in:
// no other process can make it first and squat on what is named in it. Several installers make
// or open the same one; it lasts while any of them holds it.
class ObjectNamespace {
public:
    enum class Entry {
        Made,        // made here
        Opened,      // another installer had made it
        Exists,      // Make: another installer has made it
        Gone,        // Open: nobody holds it any more
        Unsupported, // the system has no private namespaces
        Failed,
    };

    virtual ~ObjectNamespace() = default;
    virtual Entry Make() = 0;
    virtual Entry Open() = 0;
};

// Makes the namespace or opens the one another installer made; one that goes away in between is
// made anew. Made or Opened when it is held, Unsupported or Failed otherwise.
inline ObjectNamespace::Entry EnterNamespace(ObjectNamespace& space) {
    using Entry = ObjectNamespace::Entry;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const Entry made = space.Make();
        if (made != Entry::Exists) return made;
        const Entry opened = space.Open();
        if (opened != Entry::Gone) return opened;
    }
    return Entry::Failed;
}

} // namespace juv
