// ProgressLine: "\r", the text, and "erase to the end of the line", flushed at once.
#include "tools/host/ProgressLine.h"

namespace raydeck::hostsim {

namespace {

constexpr size_t kWidth = 79;  // what any terminal shows without wrapping

}  // namespace

std::string ProgressLine::format(const std::string& text, int percent, size_t width) {
    std::string line = "raydeck-host: " + std::to_string(percent) + "% ";
    if (line.size() >= width) {
        return line;
    }
    std::string name = text;
    const size_t room = width - line.size();
    if (name.size() > room) {
        size_t cut = room;
        // Back to the first byte of a character: never half of a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    // Control bytes in a name would move the cursor.
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = ' ';
        }
    }
    return line + name;
}

void ProgressLine::update(const std::string& text, int percent) {
    if (!terminal_) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (percent < 0) {
        clearLocked();
        return;
    }
    out_ << '\r' << format(text, percent, kWidth) << "\x1b[K" << std::flush;
    shown_ = true;
}

void ProgressLine::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    clearLocked();
}

void ProgressLine::clearLocked() {
    if (shown_) {
        out_ << "\r\x1b[K" << std::flush;
        shown_ = false;
    }
}

}  // namespace raydeck::hostsim
