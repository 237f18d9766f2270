// Every input under tests/data/fuzz/<target>/ through its fuzz target: the seeds, and each crash
// or slow input the fuzzers found, so that a fault once mended stays mended.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "tests/support/TempDir.h"

// Some of Assimp's readers leak what they allocate for a file they refuse; not ours to fix.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libassimp.so\n";
}

namespace raydeck::fuzz {
// Test names and messages show the target's name.
void PrintTo(const Target& target, std::ostream* os) {
    *os << target.name;
}
}  // namespace raydeck::fuzz

namespace {

namespace fs = std::filesystem;

// The targets that read files write them under TMPDIR: point it at a folder of this process.
const TempDir& processScratch() {
    static const TempDir dir;
    static const bool set = setenv("TMPDIR", dir.path().c_str(), 1) == 0;
    (void)set;
    return dir;
}

std::vector<fs::path> inputsOf(const std::string& target) {
    std::vector<fs::path> files;
    const fs::path folder = fs::path(RAYDECK_TEST_DATA) / "fuzz" / target;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzReplay : public testing::TestWithParam<raydeck::fuzz::Target> {};

TEST_P(FuzzReplay, EveryStoredInputRunsThroughTheTarget) {
    ASSERT_FALSE(processScratch().path().empty());
    const raydeck::fuzz::Target& target = GetParam();
    const std::vector<fs::path> files = inputsOf(target.name);
    ASSERT_FALSE(files.empty()) << "no inputs for " << target.name;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        ASSERT_TRUE(in.eof() || in.good()) << file;
        SCOPED_TRACE(file.string());
        EXPECT_EQ(target.run(bytes.data(), bytes.size()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, testing::ValuesIn(raydeck::fuzz::kTargets),
                         [](const testing::TestParamInfo<raydeck::fuzz::Target>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
