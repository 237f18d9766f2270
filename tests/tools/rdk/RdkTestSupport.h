// Helpers of the rdk-inspect tests: packed blocks spelled by hand, and the parse of a text that
// must succeed. Scene text made by the real writer comes from writtenBy (scene_file_test_util.h).
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/importers/sceneapi/scene_file_test_util.h"
#include "tools/rdk/RdkReader.h"
#include "trvScene_api_file.h"

namespace rdktest {

// The header and version line that every exported file starts with.
inline std::string fileStart() {
    return "//---tarvik:dal:7---\n//---import:dal:1---\n#print \"test\"\nversion 8\n\n";
}

// A packed block: 01 02 03, kind, count, then the raw elements.
template <typename T>
std::string packed(char kind, const std::vector<T>& values) {
    std::string s("\x01\x02\x03", 3);
    s.push_back(kind);
    uint32_t n = static_cast<uint32_t>(values.size());
    for (int i = 0; i < 4; ++i) {
        s.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    }
    s.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
    return s;
}

inline std::string floats(const std::vector<float>& v, char kind = 'c') {
    return packed(kind, v);
}
inline std::string ints(const std::vector<int32_t>& v) {
    return packed('i', v);
}

inline void parseOk(const std::string& text, rdk::Scene& scene) {
    rdk::ReadError error;
    ASSERT_TRUE(rdk::parseScene(text, scene, error))
        << "offset " << error.offset << ": " << error.message;
}

inline rdk::ReadError parseFails(const std::string& text) {
    rdk::Scene scene;
    rdk::ReadError error;
    EXPECT_FALSE(rdk::parseScene(text, scene, error)) << text;
    return error;
}

}  // namespace rdktest
