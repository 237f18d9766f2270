// Dynamic libraries on Windows through LoadLibraryW.
#include "platform/dynlib.h"

#include <windows.h>

#include <algorithm>

namespace platform {

Status loadLibrary(const std::u16string& path, LibraryHandle& out) {
    out = nullptr;
    // LoadLibraryW wants backslashes.
    std::wstring p(path.begin(), path.end());
    std::replace(p.begin(), p.end(), L'/', L'\\');
    HMODULE module = LoadLibraryW(p.c_str());
    if (module == nullptr) {
        return Status(StatusCode::not_found, static_cast<int>(GetLastError()),
                      "LoadLibraryW failed");
    }
    out = reinterpret_cast<LibraryHandle>(module);
    return Status::success();
}

Status findSymbol(LibraryHandle library, const char* name, void*& out) {
    out = nullptr;
    if (library == nullptr || name == nullptr) {
        return Status(StatusCode::invalid_argument, ERROR_INVALID_PARAMETER,
                      "no library or no symbol name");
    }
    FARPROC proc = GetProcAddress(reinterpret_cast<HMODULE>(library), name);
    if (proc == nullptr) {
        return Status(StatusCode::not_found, static_cast<int>(GetLastError()),
                      "GetProcAddress failed");
    }
    out = reinterpret_cast<void*>(proc);
    return Status::success();
}

Status freeLibrary(LibraryHandle library) {
    if (library == nullptr) {
        return Status(StatusCode::invalid_argument, ERROR_INVALID_PARAMETER, "no library");
    }
    if (!FreeLibrary(reinterpret_cast<HMODULE>(library))) {
        return Status(StatusCode::io_error, static_cast<int>(GetLastError()), "FreeLibrary failed");
    }
    return Status::success();
}

}  // namespace platform
