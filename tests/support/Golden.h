// Golden files under tests/data: a test's whole output compared byte for byte with the file
// kept in the repository. After a deliberate change of the output, run the test with
// RAYDECK_REGENERATE_GOLDEN=1 to rewrite the file (the test then skips), and review the diff.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

// `name` is the file's path under tests/data, such as "sceneapi/typical_packed.rdk".
inline void compareWithGolden(const std::string& text, const std::string& name) {
    const std::string path = std::string(RAYDECK_TEST_DATA) + "/" + name;
    const char* regenerate = std::getenv("RAYDECK_REGENERATE_GOLDEN");
    if (regenerate != nullptr && std::string(regenerate) == "1") {
        std::ofstream out(path, std::ios::binary);
        out << text;
        out.close();
        if (!out) {
            ADD_FAILURE() << "cannot write golden file " << path;
            return;
        }
        GTEST_SKIP() << "regenerated " << path;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in.good()) << "missing golden file " << path
                           << " (run with RAYDECK_REGENERATE_GOLDEN=1 to write it)";
    std::ostringstream content;
    content << in.rdbuf();
    ASSERT_FALSE(in.bad()) << "cannot read golden file " << path;
    const std::string golden = content.str();
    if (text == golden) {
        return;
    }
    // Where they part, rather than both texts whole.
    const auto differ = std::mismatch(text.begin(), text.end(), golden.begin(), golden.end());
    const std::size_t at = static_cast<std::size_t>(differ.first - text.begin());
    const std::size_t line = 1 + std::count(text.begin(), differ.first, '\n');
    const std::size_t start = text.rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    ADD_FAILURE() << "differs from " << path << " at byte " << at << " (line " << line
                  << "): sizes " << text.size() << " and " << golden.size()
                  << "\n  written: " << text.substr(from, at - from + 60)
                  << "\n  golden:  " << golden.substr(from, at - from + 60);
}
