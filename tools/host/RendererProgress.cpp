// RendererProgress: polls the runtime folder's logs a few times a second; a log that was there at
// the start is read from its end then, a new one (a renderer launched by the command) from its
// beginning.
#include "tools/host/RendererProgress.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

namespace raydeck::hostsim {

namespace fs = std::filesystem;

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(100);

}  // namespace

RendererProgress::RendererProgress(std::string runtimeFolder, Sink sink)
    : folder_(std::move(runtimeFolder)), sink_(std::move(sink)) {
    std::error_code ec;
    for (fs::directory_iterator it(fs::u8path(folder_), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() == ".log") {
            std::error_code sizeError;
            const std::uintmax_t size = fs::file_size(it->path(), sizeError);
            logs_[it->path().u8string()].offset = sizeError ? 0 : size;
        }
    }
    thread_ = std::thread([this] { run(); });
}

void RendererProgress::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void RendererProgress::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kPollInterval, [this] { return stopping_; })) {
        lock.unlock();
        poll();
        lock.lock();
    }
}

void RendererProgress::poll() {
    std::error_code ec;
    for (fs::directory_iterator it(fs::u8path(folder_), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() == ".log") {
            const std::string path = it->path().u8string();
            follow(path, logs_[path]);
        }
    }
}

void RendererProgress::follow(const std::string& path, Followed& log) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in) {
        return;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) <= log.offset) {
        return;
    }
    // Only the last stretch matters for a progress line: skip whatever piled up before it.
    constexpr std::uint64_t kMostPerPoll = 256 * 1024;
    std::uint64_t from = log.offset;
    if (static_cast<std::uint64_t>(size) - from > kMostPerPoll) {
        from = static_cast<std::uint64_t>(size) - kMostPerPoll;
        log.partial = "\n";  // the first line read is cut: never parse it
    }
    std::string chunk(static_cast<size_t>(static_cast<std::uint64_t>(size) - from), '\0');
    in.seekg(static_cast<std::streamoff>(from));
    in.read(&chunk[0], static_cast<std::streamsize>(chunk.size()));
    chunk.resize(static_cast<size_t>(in.gcount()));
    log.offset = from + chunk.size();
    std::string text = log.partial + chunk;
    size_t start = 0;
    std::string name;
    int percent = 0;
    bool found = false;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string candidate;
        int candidatePercent = 0;
        if (parseImportLine(text.substr(start, nl - start), candidate, candidatePercent)) {
            name = std::move(candidate);
            percent = candidatePercent;
            found = true;
        }
    }
    log.partial = text.substr(start);
    if (log.partial.size() > 4096) {
        log.partial = "\n";  // no line is that long: drop it whole
    }
    if (found && sink_) {
        sink_(name, percent);  // the newest is all a progress line shows
    }
}

bool RendererProgress::parseImportLine(const std::string& line, std::string& name, int& percent) {
    static const std::string marker = " raydeck-renderer: importing \"";
    const size_t at = line.find(marker);
    const size_t close = line.rfind("\" ");
    if (at == std::string::npos || close == std::string::npos || close < at + marker.size()) {
        return false;
    }
    // The fraction as the renderer prints it ("%.3f", "C" locale): digits, a point, digits.
    const std::string number = line.substr(close + 2);
    double whole = 0, part = 0, scale = 1;
    bool digits = false, point = false;
    for (char c : number) {
        if (c >= '0' && c <= '9') {
            digits = true;
            if (point) {
                scale /= 10;
                part += (c - '0') * scale;
            } else if (whole < 10) {
                whole = whole * 10 + (c - '0');
            }
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!digits) {
        return false;
    }
    name = line.substr(at + marker.size(), close - at - marker.size());
    percent = static_cast<int>(std::min(whole + part, 1.0) * 100.0 + 0.5);
    return true;
}

}  // namespace raydeck::hostsim
