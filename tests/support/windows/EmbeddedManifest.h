#pragma once
// The application manifest an executable carries (resource 1 of type
// RT_MANIFEST), read from the file without running it; empty when it has none.

#include <windows.h>

#include <string>

namespace vyktest {

inline std::string EmbeddedManifest(const std::wstring& program) {
    const HMODULE module = ::LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return {};
    std::string text;
    if (const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        if (const HGLOBAL loaded = ::LoadResource(module, found))
            text.assign(static_cast<const char*>(::LockResource(loaded)),
                        ::SizeofResource(module, found));
    }
    ::FreeLibrary(module);
    return text;
}

} // namespace vyktest
