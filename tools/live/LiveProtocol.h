// The wire between the stand-in live library and the stand-in renderer, beyond the scene text
// itself: the line that marks a complete scene, and the renderer's acknowledgement.
//
// The stream is the scene text exactly as the file writer produces it, followed by one end line
// "\n//---end:<n>---\n" where n is the number of scene bytes before it. A scene comment, so even
// a file that kept it would read, but the renderer cuts it off again: only with it can a stream
// that was complete be told from one whose sender died (both end in a plain end of file). After
// storing the scene the renderer answers "stored <n>\n" and closes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace raydeck::live {

inline std::string endOfSceneLine(std::uint64_t sceneBytes) {
    return "\n//---end:" + std::to_string(sceneBytes) + "---\n";
}

// The longest end line (20 digits): the renderer keeps this many trailing bytes to check it.
constexpr std::size_t kEndOfSceneMax = 10 + 20 + 4;

// True when `tail`, the last bytes of a stream of `totalBytes` bytes, is an end line that counts
// exactly the bytes before it; `sceneBytes` then gets that count.
inline bool parseEndOfScene(std::string_view tail, std::uint64_t totalBytes,
                            std::uint64_t& sceneBytes) {
    constexpr std::string_view prefix = "\n//---end:";
    constexpr std::string_view suffix = "---\n";
    if (tail.size() < prefix.size() + suffix.size() + 1 ||
        tail.substr(tail.size() - suffix.size()) != suffix) {
        return false;
    }
    std::size_t at = tail.rfind(prefix);
    if (at == std::string_view::npos) {
        return false;
    }
    std::string_view digits =
        tail.substr(at + prefix.size(), tail.size() - suffix.size() - at - prefix.size());
    if (digits.empty() || digits.size() > 20) {
        return false;
    }
    std::uint64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    std::uint64_t lineBytes = tail.size() - at;
    if (n + lineBytes != totalBytes) {
        return false;
    }
    sceneBytes = n;
    return true;
}

inline std::string acknowledgement(std::uint64_t sceneBytes) {
    return "stored " + std::to_string(sceneBytes) + "\n";
}

inline bool parseAcknowledgement(std::string_view text, std::uint64_t& sceneBytes) {
    constexpr std::string_view prefix = "stored ";
    if (text.size() < prefix.size() + 2 || text.substr(0, prefix.size()) != prefix ||
        text.back() != '\n') {
        return false;
    }
    std::string digits(text.substr(prefix.size(), text.size() - prefix.size() - 1));
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    sceneBytes = std::strtoull(digits.c_str(), nullptr, 10);
    return true;
}

}  // namespace raydeck::live
