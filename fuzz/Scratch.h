// One scratch folder per process for targets whose entry point reads a file: under the system's
// temporary folder (TMPDIR), removed when the process exits.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace raydeck::fuzz {

inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        std::random_device random;
        std::error_code ec;
        std::filesystem::path p =
            std::filesystem::temp_directory_path(ec) /
            ("raydeck-fuzz-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(p, ec);
        return p;
    }();
    static const bool cleanup = [] {
        return std::atexit([] {
                   std::error_code ec;
                   std::filesystem::remove_all(scratchFolder(), ec);
               }) == 0;
    }();
    (void)cleanup;
    return folder;
}

}  // namespace raydeck::fuzz
