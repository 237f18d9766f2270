// Dynamic libraries by UTF-16 path; `\` and `/` are both path separators.
#pragma once

#include <string>

#include "platform/status.h"

namespace platform {

// Opaque handle of a loaded library; null means none.
using LibraryHandle = void*;

// On failure `out` is null; message() carries the loader's text where the system has one.
Status loadLibrary(const std::u16string& path, LibraryHandle& out);
// not_found when the library has no such export; `out` is then null.
Status findSymbol(LibraryHandle library, const char* name, void*& out);
Status freeLibrary(LibraryHandle library);

}  // namespace platform
