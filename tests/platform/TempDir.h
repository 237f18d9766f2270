// A per-test temporary folder, removed with everything in it.
#pragma once

#include <filesystem>
#include <string>

#include "platform/program.h"

class TempDir {
  public:
    TempDir() { platform::makeTempFolder("raydeck-test-", path_); }
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
