// A per-test temporary folder, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "raydeck-test-XXXXXX").string();
        if (mkdtemp(&pattern[0]) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ec);
        }
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};
