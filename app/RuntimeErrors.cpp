// GNU runtime only. The string class reports misuse through a handful of helper functions; the
// runtime's own versions build std::logic_error objects, whose copy-on-write strings pull two
// more complete string implementations into the executable (about 80 KB, a third of it).
// These versions raise the program's own error type instead, which the window's default error
// display shows like any other failure. They are never reached in correct use.
#include "platform/Error.h"

#include <cstdlib>
#include <new>
#include <string>

namespace {

[[noreturn]] void Raise(const char* what) {
    std::wstring message = L"Internal error: ";
    for (const char* c = what; c != nullptr && *c != '\0'; ++c) message += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    throw juv::Error(message);
}

} // namespace

namespace std {
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_alloc(); }
void __throw_length_error(const char* what) { Raise(what); }
void __throw_logic_error(const char* what) { Raise(what); }
void __throw_out_of_range_fmt(const char* what, ...) { Raise(what); }
} // namespace std

// The runtime's default handler for an exception nobody caught prints its demangled type name,
// which brings a whole demangler (46 KB) along. Nothing escapes the handlers here: the window
// procedure catches everything, so ending at once is all this needs to do.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
} // namespace __gnu_cxx
