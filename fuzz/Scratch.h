// One scratch folder per process for targets whose entry point reads a file: made by
// platform::makeTempFolder under the system's temporary folder (TMPDIR), removed when the process
// exits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/program.h"

namespace raydeck::fuzz {

// Empty when no folder could be made.
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        std::string made;
        if (!platform::makeTempFolder("raydeck-fuzz-", made).ok()) {
            return std::filesystem::path();
        }
        return std::filesystem::u8path(made);
    }();
    static const bool cleanup = [] {
        return std::atexit([] {
                   std::error_code ec;
                   if (!scratchFolder().empty()) {
                       std::filesystem::remove_all(scratchFolder(), ec);
                   }
               }) == 0;
    }();
    (void)cleanup;
    return folder;
}

// Writes the input into the file at `path` (replacing it); false when that failed, and the input
// is then skipped.
inline bool writeScratchFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    if (scratchFolder().empty()) {
        return false;
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool written = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written;
}

}  // namespace raydeck::fuzz
