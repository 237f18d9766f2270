// Dynamic libraries on POSIX through dlopen.
#include "platform/dynlib.h"

#include <dlfcn.h>

#include <cerrno>

#include "platform/posix/path.h"

namespace platform {

Status loadLibrary(const std::u16string& path, LibraryHandle& out) {
    out = nullptr;
    std::string native;
    Status st = posix::nativePath(path, native);
    if (!st.ok()) {
        return Status(StatusCode::invalid_argument, EINVAL, st.message());
    }
    out = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (out == nullptr) {
        const char* why = ::dlerror();
        return Status(StatusCode::not_found, 0, why != nullptr ? why : "dlopen failed");
    }
    return Status::success();
}

Status findSymbol(LibraryHandle library, const char* name, void*& out) {
    out = nullptr;
    if (library == nullptr || name == nullptr) {
        return Status(StatusCode::invalid_argument, EINVAL, "no library or no symbol name");
    }
    ::dlerror();
    out = ::dlsym(library, name);
    if (out == nullptr) {
        const char* why = ::dlerror();
        return Status(StatusCode::not_found, 0, why != nullptr ? why : "symbol is null");
    }
    return Status::success();
}

Status freeLibrary(LibraryHandle library) {
    if (library == nullptr) {
        return Status(StatusCode::invalid_argument, EINVAL, "no library");
    }
    if (::dlclose(library) != 0) {
        const char* why = ::dlerror();
        return Status(StatusCode::io_error, 0, why != nullptr ? why : "dlclose failed");
    }
    return Status::success();
}

}  // namespace platform
