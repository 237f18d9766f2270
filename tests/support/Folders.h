// What a test's folder holds, and a filesystem small enough to fill: for the tests that check
// that a failed write leaves the older file alone and no temporary behind. POSIX only.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

// The names in `folder`, sorted.
inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A 16 KiB tmpfs mounted at `at` (made here) while it lives. Only root may mount one: mounted()
// says whether it is there, and the test skips otherwise.
class SmallTmpfs {
  public:
    explicit SmallTmpfs(std::string at) : at_(std::move(at)) {
        std::filesystem::create_directory(at_);
        mounted_ = geteuid() == 0 && mount("tmpfs", at_.c_str(), "tmpfs", 0, "size=16k") == 0;
    }
    ~SmallTmpfs() {
        if (mounted_) {
            umount(at_.c_str());
        }
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& path() const { return at_; }

  private:
    std::string at_;
    bool mounted_ = false;
};
