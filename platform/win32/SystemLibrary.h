#pragma once

// The program runs with administrator rights from wherever it was saved, often the Downloads
// folder, where anything may lie beside it. Windows looks for many DLLs in the program's own
// folder first, so every DLL beyond the few the executable imports is loaded from the system
// folder only, by name, and its functions are looked up by name.
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace juv {

using UniqueModule = UniqueAny<HMODULE, &::FreeLibrary>;

// Makes the system folder the only place this process loads DLLs from, for itself and for the
// DLLs it loads. The first thing the program does.
void RestrictDllSearch();

// A DLL of the system folder by its file name; empty when it cannot be loaded.
UniqueModule LoadSystemLibrary(const wchar_t* name);

// A security descriptor written in the system's descriptor language; empty when the system
// cannot make it.
UniqueLocal SecurityDescriptorFromText(const wchar_t* text);

// The system's text for an error code, in the user's language, without the line break it ends
// with; empty when the system has none.
std::wstring SystemErrorText(DWORD code);

// A function of a loaded DLL by its name; null when the DLL has none of that name.
template <typename Function>
Function LookUp(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    // Through void(*)() so that the compiler accepts the change of function type.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

} // namespace juv
