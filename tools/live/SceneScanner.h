// SceneScanner: reads a scene text stream incrementally, in pieces of any size, and picks out
// what the stand-in renderer shows and keeps: the name of the first top-level group (the model
// set) and the progress lines. Packed array blocks are skipped by their 8-byte header, so their
// bytes are never taken for text. It also keeps the stream's last bytes for the end line check.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace raydeck::live {

class SceneScanner {
  public:
    using ProgressSink = std::function<void(const std::string& text, double fraction)>;

    explicit SceneScanner(ProgressSink onProgress = {}) : onProgress_(std::move(onProgress)) {}

    void feed(const char* data, std::size_t size);

    // The first top-level `group` name, hex forms decoded; empty until one was seen.
    const std::optional<std::string>& modelSetName() const { return modelSet_; }
    std::uint64_t bytes() const { return bytes_; }
    // The last bytes fed (at most kTailBytes).
    const std::string& tail() const { return tail_; }
    static constexpr std::size_t kTailBytes = 64;

  private:
    void textByte(char c);
    void endOfLine();
    bool verbatimLine() const;

    ProgressSink onProgress_;
    std::optional<std::string> modelSet_;
    std::uint64_t bytes_ = 0;
    std::string tail_;

    // Text state: the current line's first bytes (binary blocks left out) and its last byte.
    std::string line_;
    char last_ = '\0';
    bool inQuote_ = false;
    int depth_ = 0;

    // Packed block state: header bytes gathered so far, then payload bytes still to skip.
    unsigned char header_[8] = {};
    int headerBytes_ = 0;
    std::uint64_t skip_ = 0;
};

}  // namespace raydeck::live
