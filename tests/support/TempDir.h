// A per-test temporary folder, removed with everything in it. The folder comes from
// platform::makeTempFolder, so every test target links raydeck_platform. path() is UTF-8 and
// empty when the folder could not be made.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/program.h"

class TempDir {
  public:
    TempDir() { (void)platform::makeTempFolder("raydeck-test-", path_); }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) {
            std::filesystem::remove_all(std::filesystem::u8path(path_), ec);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};
