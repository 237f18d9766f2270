// Helpers for the scene text writer tests: a writer on an in-memory stream.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "tests/platform/ScratchStream.h"
#include "trvScene_api_file.h"

// A writer whose output lands in a scratch stream, read back with text().
class MemoryScene {
  public:
    explicit MemoryScene(bool packArrays = false) {
        stream_ = scratch_.file();
        writer_ = std::make_unique<trvScene_api_file>(stream_, packArrays);
    }
    ~MemoryScene() { writer_.reset(); }
    MemoryScene(const MemoryScene&) = delete;
    MemoryScene& operator=(const MemoryScene&) = delete;

    trvScene_api_file& w() { return *writer_; }
    trvScene_api_file* operator->() { return writer_.get(); }

    // Everything written so far.
    std::string text() { return scratch_.text(); }
    // What was written since the last call of fresh().
    std::string fresh() {
        std::string all = text();
        std::string tail = all.substr(mark_);
        mark_ = all.size();
        return tail;
    }

  private:
    ScratchStream scratch_;
    size_t mark_ = 0;
    FILE* stream_ = nullptr;
    std::unique_ptr<trvScene_api_file> writer_;
};

inline std::string bytes(const void* p, size_t n) {
    return std::string(static_cast<const char*>(p), n);
}
