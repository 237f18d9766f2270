// What a test's folder holds, whether it holds only an older file as it was, and a filesystem
// small enough to fill: for the tests that check that a failed write leaves the older file alone
// and no temporary behind. POSIX only.
#pragma once

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/FileText.h"

// The names in `folder`, sorted.
inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Whether `folder` holds the file `name` with `content`, and besides it only `others` (sorted):
// what a failed write must leave behind.
inline ::testing::AssertionResult holdsOnly(const std::string& folder, const std::string& name,
                                            const std::string& content,
                                            std::vector<std::string> others = {}) {
    const std::string text = readFile(folder + "/" + name);
    if (text != content) {
        return ::testing::AssertionFailure() << name << " holds \"" << text.substr(0, 80)
                                             << "\" instead of \"" << content << "\"";
    }
    others.push_back(name);
    std::sort(others.begin(), others.end());
    const std::vector<std::string> names = namesIn(folder);
    if (names != others) {
        std::string list;
        for (const std::string& n : names) {
            list += " " + n;
        }
        return ::testing::AssertionFailure() << folder << " holds" << list;
    }
    return ::testing::AssertionSuccess();
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
