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
    // The library's exported function, or nullptr.
    template <typename Function> Function function(const char* name) const
    {
        if (module_ == nullptr) {
            return nullptr;
        }
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

private:
    HMODULE module_;
};

} // namespace quellan
