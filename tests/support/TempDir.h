// A per-test temporary folder, removed with everything in it. Header-only and built on
// std::filesystem alone, so that every test can use it on every platform. path() is UTF-8.
#pragma once

#include <filesystem>
#include <random>
#include <string>

class TempDir {
  public:
    TempDir() {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        if (ec) {
            return;
        }
        static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::random_device seed;
        std::mt19937 pick(seed());
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = "raydeck-test-";
            for (int i = 0; i < 8; ++i) {
                name += kLetters[pick() % (sizeof kLetters - 1)];
            }
            const fs::path candidate = base / name;
            if (fs::create_directory(candidate, ec)) {  // false when it exists: try another
                fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, ec);
                path_ = candidate.u8string();
                return;
            }
        }
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) {
            std::filesystem::remove_all(std::filesystem::u8path(path_), ec);
        }
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};
