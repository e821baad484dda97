// Functions of a system library looked up when first needed, so that a
// program which never needs them never loads the library as it starts.
#pragma once

#include <windows.h>

// `name` from `library`, as the function type it has; null when either is
// missing. The library stays loaded.
template <typename Function>
Function LibraryFunction(const wchar_t* library, const char* name)
{
    const HMODULE module = LoadLibraryW(library);
    if (module == nullptr)
        return nullptr;
    // Through void*: a FARPROC is declared without the function's parameters.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
