// SceneScanner: model-set name and progress lines from a scene text stream.
#include "tools/live/SceneScanner.h"

#include <cstdlib>
#include <string_view>

#include "trvSceneFormat.h"

namespace raydeck::live {
namespace {

namespace kw = trvFormat::keyword;

// Only the beginning of a line is ever read (keywords and names); the rest is not kept.
constexpr std::size_t kLineKeep = 64 * 1024;

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
    while (at + 1 < line.size()) {
        const int high = trvFormat::hexDigitValue(line[at]);
        const int low = trvFormat::hexDigitValue(line[at + 1]);
        if (high < 0 || low < 0) {
            break;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        at += 2;
    }
    return true;
}

bool startsWith(const std::string& line, std::string_view prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

// The line starts with the keyword and a blank; the position after them, or 0.
std::size_t afterKeyword(const std::string& line, std::string_view keyword) {
    return startsWith(line, keyword) && line.size() > keyword.size() && line[keyword.size()] == ' '
               ? keyword.size() + 1
               : 0;
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
            if (headerBytes_ <= 3 && c != trvFormat::kPackedMagic[headerBytes_ - 1]) {
                headerBytes_ = 0;  // not a block after all: treat as text
                textByte(static_cast<char>(c));
            } else if (headerBytes_ == 4 && !trvFormat::isPackedKind(static_cast<char>(c))) {
                headerBytes_ = 0;
                textByte(static_cast<char>(c));
            } else if (headerBytes_ == static_cast<int>(trvFormat::kPackedHeaderBytes)) {
                skip_ = trvFormat::packedPayloadBytes(static_cast<char>(header_[3]),
                                                      trvFormat::packedCount(header_ + 4));
                headerBytes_ = 0;
            }
            continue;
        }
        if (c == trvFormat::kPackedMagic[0] && !inQuote_ && !verbatimLine()) {
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
    return afterKeyword(line_, kw::print) > 0 || afterKeyword(line_, kw::error) > 0 ||
           startsWith(line_, kw::comment);
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
    std::size_t at = 0;
    if (opens && depth_ == 0 && !modelSet_ && (at = afterKeyword(line_, kw::group)) > 0) {
        if (readName(line_, at, name)) {
            modelSet_ = name;
        }
    } else if (onProgress_ && (at = afterKeyword(line_, kw::progress)) > 0) {
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
