// HostReport: the lines raydeck-host adds after a command (see HostReport.h).
#include "tools/host/HostReport.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "Installation.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/utf.h"
#include "tools/rdk/RdkSummary.h"

namespace raydeck::hostsim {
namespace fs = std::filesystem;

namespace {

std::string count(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string size(size_t bytes) {
    char text[64];
    if (bytes < 10 * 1024) {
        std::snprintf(text, sizeof text, "%zu bytes", bytes);
    } else if (bytes < 10 * 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    }
    return text;
}

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", s);
    return text;
}

}  // namespace

namespace {

// Counts what passes, and what is left after a reader that stopped early.
class CountingSource : public rdk::ByteSource {
  public:
    explicit CountingSource(rdk::ByteSource& inner) : inner_(inner) {}
    size_t read(char* buffer, size_t size) override {
        const size_t n = inner_.read(buffer, size);
        count_ += n;
        return n;
    }
    bool failed() const override { return inner_.failed(); }
    uint64_t drain() {
        char chunk[65536];
        while (read(chunk, sizeof chunk) > 0) {
        }
        return count_;
    }

  private:
    rdk::ByteSource& inner_;
    uint64_t count_ = 0;
};

std::string loadTime(double loadSeconds) {
    return loadSeconds < 0 ? std::string() : " (document loaded in " + seconds(loadSeconds) + ")";
}

}  // namespace

std::string exportSummary(const std::string& where, rdk::ByteSource& written, double time,
                          double loadSeconds) {
    CountingSource counted(written);
    rdk::Summary s;
    rdk::ReadError error;
    // Textures are looked up relative to the scene's folder; the counts here do not use them.
    const bool read = rdk::summarize(counted, std::string(), s, error, false);
    const size_t total = static_cast<size_t>(counted.drain());
    if (!read) {
        return where + ": " + size(total) + " in " + seconds(time) + loadTime(loadSeconds) +
               " (not read back as a scene: offset " + std::to_string(error.offset) + ": " +
               error.message + ")";
    }
    return where + ": " + size(total) + ", " + count(s.objects, "object", "objects") + ", " +
           count(s.triangles, "triangle", "triangles") + ", " +
           count(s.materials, "material", "materials") + ", " +
           count(s.cameras.size(), "camera", "cameras") + ", " +
           count(s.lights.size(), "light", "lights") + " in " + seconds(time) +
           loadTime(loadSeconds);
}

std::string exportTimes(const std::string& where, double time, double loadSeconds) {
    return where + " in " + seconds(time) + loadTime(loadSeconds) +
           " (not a regular file: not read back)";
}

std::string outputProblem(const std::string& path) {
    std::error_code ec;
    // UTF-8 names on every system: on Windows a plain path would read them in the ANSI code page,
    // and the checks below would look at another file than the one opened.
    const fs::path target = fs::u8path(path);
    if (fs::is_directory(target, ec)) {
        return "is a folder";
    }
    const fs::path parent = target.parent_path();
    if (!parent.empty()) {
        const fs::file_status status = fs::status(parent, ec);
        if (!fs::exists(status)) {
            return "the folder " + parent.u8string() + " does not exist";
        }
        if (!fs::is_directory(status)) {
            return parent.u8string() + " is not a folder";
        }
    }
    // Ask the system: an existing file is opened without changing it; a new one is made and
    // removed again.
    const bool existed = fs::exists(target, ec);
    std::u16string wide;
    FILE* f = nullptr;
    if (!platform::utf8ToUtf16(path, wide).ok()) {
        return "not a valid file name";
    }
    const platform::Status opened = platform::openFile(wide, existed ? u"r+b" : u"wb", f);
    if (!opened.ok()) {
        return opened.message();
    }
    std::fclose(f);
    if (!existed) {
        fs::remove(target, ec);
    }
    return std::string();
}

bool findRendererNews(const std::string& runtimeFolder, fs::file_time_type since,
                      RendererNews& out) {
    std::error_code ec;
    fs::path newest;
    fs::file_time_type newestTime = since;
    for (fs::directory_iterator it(fs::u8path(runtimeFolder), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() != ".log") {
            continue;
        }
        std::error_code timeError;
        const fs::file_time_type t = fs::last_write_time(it->path(), timeError);
        if (!timeError && t >= newestTime) {
            newest = it->path();
            newestTime = t;
        }
    }
    if (newest.empty()) {
        return false;
    }
    out.log = newest.u8string();
    out.scene.clear();
    // The last scene is near the end; a long-running renderer's log can be long.
    constexpr std::streamoff kTail = 64 * 1024;
    std::ifstream in(newest, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : 0;
    in.seekg(size > kTail ? size - kTail : 0);
    const std::string marker = "scene complete: ";
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(marker);
        if (at != std::string::npos) {
            out.scene = line.substr(at);
        }
    }
    return true;
}

std::string missingInstallation(int minVersion, int maxVersion) {
    if (!trv::link::Installation::instance().binName(minVersion, maxVersion).empty()) {
        return std::string();
    }
    const std::string what = "no Raydeck " + std::to_string(minVersion) + " to " +
                             std::to_string(maxVersion) + " installation";
    std::string file;
    if (!platform::registryFile(file).ok()) {
        return what + " in the registry";
    }
    std::error_code ec;
    if (!fs::exists(file, ec)) {
        return what + ": the registry file " + file +
               " does not exist (RAYDECK_REGISTRY names the file to read)";
    }
    return what + " whose BinName names an existing file in the registry file " + file;
}

}  // namespace raydeck::hostsim
