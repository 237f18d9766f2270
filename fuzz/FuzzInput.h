// Reading a fuzz input as a stream of small decisions: bytes, bounded numbers and strings. Past
// the end every read gives zero, so any input decodes to a valid sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace raydeck::fuzz {

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    // A number below `limit` (limit > 0).
    unsigned below(unsigned limit) { return byte() % limit; }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        }
        return v;
    }
    // `n` bytes of raw data, zero-filled past the end.
    std::vector<std::uint8_t> bytes(std::size_t n) {
        std::vector<std::uint8_t> out(n, 0);
        const std::size_t k = std::min(n, size_ - std::min(at_, size_));
        if (k > 0) {
            std::memcpy(out.data(), data_ + at_, k);
        }
        at_ += k;
        return out;
    }
    // A length-prefixed string of at most 255 bytes (it may hold any byte, NUL included).
    std::string text() {
        const std::size_t n = byte();
        std::vector<std::uint8_t> b = bytes(n);
        return std::string(b.begin(), b.end());
    }
    // What is left, as text.
    std::string rest() {
        std::string out;
        if (at_ < size_) {
            out.assign(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
        }
        at_ = size_;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// The input split at NUL bytes.
inline std::vector<std::string> splitAtNul(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            parts.emplace_back();
        } else {
            parts.back() += static_cast<char>(data[i]);
        }
    }
    return parts;
}

}  // namespace raydeck::fuzz
