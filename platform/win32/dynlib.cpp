// Dynamic libraries on Windows through LoadLibraryW.
#include "platform/dynlib.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/error.h"

namespace platform {

Status loadLibrary(const std::u16string& path, LibraryHandle& out) {
    out = nullptr;
    // LoadLibraryW wants backslashes.
    std::wstring p(path.begin(), path.end());
    std::replace(p.begin(), p.end(), L'/', L'\\');
    HMODULE module = LoadLibraryW(p.c_str());
    if (module == nullptr) {
        return win32::lastErrorStatus(StatusCode::not_found, "LoadLibraryW failed");
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
        return win32::lastErrorStatus(StatusCode::not_found, "GetProcAddress failed");
    }
    out = reinterpret_cast<void*>(proc);
    return Status::success();
}

Status freeLibrary(LibraryHandle library) {
    if (library == nullptr) {
        return Status(StatusCode::invalid_argument, ERROR_INVALID_PARAMETER, "no library");
    }
    if (!FreeLibrary(reinterpret_cast<HMODULE>(library))) {
        return win32::lastErrorStatus(StatusCode::io_error, "FreeLibrary failed");
    }
    return Status::success();
}

}  // namespace platform
