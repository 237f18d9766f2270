// SceneScanner: model-set name and progress lines from a scene text stream.
#include "tools/live/SceneScanner.h"

#include <cstdlib>
#include <cstring>

namespace raydeck::live {
namespace {

// Only the beginning of a line is ever read (keywords and names); the rest is not kept.
constexpr std::size_t kLineKeep = 64 * 1024;

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// A name as the writer spells it at `at`: "text" or xX<hex>. Moves `at` past it.
bool readName(const std::string& line, std::size_t& at, std::string& out) {
    out.clear();
    if (at < line.size() && line[at] == '"') {
        std::size_t close = line.find('"', at + 1);
        if (close == std::string::npos) {
            return false;
        }
        out = line.substr(at + 1, close - at - 1);
        at = close + 1;
        return true;
    }
    if (line.compare(at, 2, "xX") != 0) {
        return false;
    }
    at += 2;
    while (at + 1 < line.size() && hexValue(line[at]) >= 0 && hexValue(line[at + 1]) >= 0) {
        out.push_back(static_cast<char>(hexValue(line[at]) * 16 + hexValue(line[at + 1])));
        at += 2;
    }
    return true;
}

bool startsWith(const std::string& line, const char* prefix) {
    return line.compare(0, std::strlen(prefix), prefix) == 0;
}

std::uint64_t payloadBytes(char kind, std::uint32_t count) {
    return static_cast<std::uint64_t>(count) * (kind == 'r' ? 8u : 4u);
}

}  // namespace

void SceneScanner::feed(const char* data, std::size_t size) {
    bytes_ += size;
    if (size >= kTailBytes) {
        tail_.assign(data + size - kTailBytes, kTailBytes);
    } else {
        tail_.append(data, size);
        if (tail_.size() > kTailBytes) {
            tail_.erase(0, tail_.size() - kTailBytes);
        }
    }
    const char* end = data + size;
    while (data < end) {
        if (skip_ > 0) {
            std::uint64_t n =
                std::min<std::uint64_t>(skip_, static_cast<std::uint64_t>(end - data));
            skip_ -= n;
            data += n;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(*data++);
        if (headerBytes_ > 0) {
            header_[headerBytes_++] = c;
            static const unsigned char magic[3] = {1, 2, 3};
            if (headerBytes_ <= 3 && c != magic[headerBytes_ - 1]) {
                headerBytes_ = 0;  // not a block after all: treat as text
                textByte(static_cast<char>(c));
            } else if (headerBytes_ == 4 && c != 'c' && c != 'f' && c != 'r' && c != 'i') {
                headerBytes_ = 0;
                textByte(static_cast<char>(c));
            } else if (headerBytes_ == 8) {
                const std::uint32_t count = static_cast<std::uint32_t>(header_[4]) |
                                            static_cast<std::uint32_t>(header_[5]) << 8 |
                                            static_cast<std::uint32_t>(header_[6]) << 16 |
                                            static_cast<std::uint32_t>(header_[7]) << 24;
                skip_ = payloadBytes(static_cast<char>(header_[3]), count);
                headerBytes_ = 0;
            }
            continue;
        }
        if (c == 1 && !inQuote_ && !verbatimLine()) {
            header_[0] = c;
            headerBytes_ = 1;
            continue;
        }
        textByte(static_cast<char>(c));
    }
}

// Lines whose text is written verbatim (messages and comments): quotes and bytes in them mean
// nothing.
bool SceneScanner::verbatimLine() const {
    return startsWith(line_, "#print ") || startsWith(line_, "#error ") || startsWith(line_, "//");
}

void SceneScanner::textByte(char c) {
    if (c == '\n') {
        endOfLine();
        return;
    }
    if (c == '"' && !verbatimLine()) {
        inQuote_ = !inQuote_;
    }
    if (line_.size() < kLineKeep) {
        line_.push_back(c);
    }
    last_ = c;
}

// Blocks open on a line ending in "{" and close on a line starting with "}" (the writer puts
// every brace of the structure there), so the depth follows whole lines.
void SceneScanner::endOfLine() {
    const bool opens = last_ == '{' && !verbatimLine();
    if (!verbatimLine() && !line_.empty() && line_[0] == '}' && depth_ > 0) {
        --depth_;
    }
    std::string name;
    if (opens && depth_ == 0 && !modelSet_ && startsWith(line_, "group ")) {
        std::size_t at = 6;
        if (readName(line_, at, name)) {
            modelSet_ = name;
        }
    } else if (startsWith(line_, "progress ") && onProgress_) {
        std::size_t at = 9;
        if (readName(line_, at, name) && at < line_.size() && line_[at] == ' ') {
            char* stop = nullptr;
            double fraction = std::strtod(line_.c_str() + at + 1, &stop);
            if (stop != line_.c_str() + at + 1) {
                onProgress_(name, fraction);
            }
        }
    }
    if (opens) {
        ++depth_;
    }
    line_.clear();
    last_ = '\0';
    inQuote_ = false;
}

}  // namespace raydeck::live
