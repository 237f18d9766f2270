// The whole content of a file as bytes, for tests that compare what a program wrote; empty when
// the file does not open (the comparison then fails and says so).
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
