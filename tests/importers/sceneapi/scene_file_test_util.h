// Helpers for tests of the scene text writer and of the tools that read its output: a writer on
// a read-back stream.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "tests/support/ScratchStream.h"
#include "trvScene_api_file.h"

// A writer whose output lands in a scratch stream, read back with text().
class MemoryScene {
  public:
    explicit MemoryScene(bool packArrays = false)
        : writer_(std::make_unique<trvScene_api_file>(scratch_.file(), packArrays)) {}
    ~MemoryScene() { writer_.reset(); }
    MemoryScene(const MemoryScene&) = delete;
    MemoryScene& operator=(const MemoryScene&) = delete;

    trvScene_api_file& w() { return *writer_; }
    trvScene_api_file* operator->() { return writer_.get(); }

    // Everything written so far.
    std::string text() { return scratch_.text(); }
    // Ends the writer (its destructor restores the numeric locale) and returns all it wrote.
    std::string finish() {
        writer_.reset();
        return text();
    }
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
    std::unique_ptr<trvScene_api_file> writer_;
};

// What the writer writes for the calls made by `calls`.
inline std::string writtenBy(bool packArrays,
                             const std::function<void(trvScene_api_file&)>& calls) {
    MemoryScene scene(packArrays);
    calls(scene.w());
    return scene.finish();
}

inline std::string bytes(const void* p, size_t n) {
    return std::string(static_cast<const char*>(p), n);
}
