#pragma once

#include <windows.h>

namespace quellan {

// A DLL loaded for the life of the owner, for the window classes it registers.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const char* name) : module_(LoadLibraryA(name)) {}
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    ~LoadedLibrary()
    {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    explicit operator bool() const { return module_ != nullptr; }

private:
    HMODULE module_;
};

} // namespace quellan
