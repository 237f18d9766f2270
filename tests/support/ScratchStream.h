// A read-back write stream for tests of writers that take a FILE*: a file in its own temporary
// folder, opened "w+b", so that the same code runs where there is no open_memstream (Windows).
#pragma once

#include <cstdio>
#include <string>

#include "platform/file.h"
#include "platform/utf.h"
#include "tests/support/TempDir.h"

class ScratchStream {
  public:
    ScratchStream() {
        std::u16string path;
        if (platform::utf8ToUtf16(dir_.path() + "/stream.bin", path).ok()) {
            platform::openFile(path, u"w+b", file_);
        }
    }
    ~ScratchStream() { close(); }
    ScratchStream(const ScratchStream&) = delete;
    ScratchStream& operator=(const ScratchStream&) = delete;

    FILE* file() const { return file_; }

    // Everything written so far; writing goes on at the end.
    std::string text() {
        std::string out;
        if (file_ == nullptr || std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
            return out;
        }
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
            out.append(buffer, n);
        }
        std::fseek(file_, 0, SEEK_END);
        return out;
    }

    void close() {
        if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
        }
    }

  private:
    TempDir dir_;
    FILE* file_ = nullptr;
};
