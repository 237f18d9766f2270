// A per-test registry: a `.reg` file in a fresh temporary folder, named by RAYDECK_REGISTRY for
// the length of the test, and helpers to write installations with real executable files.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "tests/support/RegistryFile.h"
#include "tests/support/TempDir.h"

class RegistryFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        ::setenv("RAYDECK_REGISTRY", (dir_.path() + "/registry.reg").c_str(), 1);
    }
    void TearDown() override { ::unsetenv("RAYDECK_REGISTRY"); }

    const std::string& dir() const { return dir_.path(); }

    // Writes the registry file: the REGEDIT4 header, then `body`.
    void writeRegistry(const std::string& body) {
        std::ofstream(dir_.path() + "/registry.reg", std::ios::trunc) << "REGEDIT4\n\n" << body;
    }

    // An executable file in the test folder; returns its path.
    std::string makeProgram(const std::string& name, const std::string& script = "exit 0\n") {
        const std::string path = dir_.path() + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << script;
        ::chmod(path.c_str(), 0755);
        return path;
    }

    // A section for SOFTWARE\Tarvik\<key> under `root` with the BinName and extra value lines.
    static std::string installation(const std::string& root, const std::string& key,
                                    const std::string& binName, const std::string& extra = "") {
        return "[" + root + "\\SOFTWARE\\Tarvik\\" + key + "]\n\"BinName\"=" + regQuoted(binName) +
               "\n" + extra + "\n";
    }

    static constexpr const char* kUser = "HKEY_CURRENT_USER";
    static constexpr const char* kMachine = "HKEY_LOCAL_MACHINE";

  private:
    TempDir dir_;
};
