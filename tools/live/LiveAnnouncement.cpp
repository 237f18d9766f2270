// Announcements of the running stand-in renderers (see LiveAnnouncement.h).
#include "tools/live/LiveAnnouncement.h"

#include <tinyxml2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "platform/program.h"
#include "platform/utf.h"

namespace raydeck::live {
namespace {

namespace fs = std::filesystem;

bool readInt64(const tinyxml2::XMLElement* parent, const char* name, std::int64_t& out) {
    const tinyxml2::XMLElement* e = parent->FirstChildElement(name);
    if (e == nullptr || e->GetText() == nullptr) {
        return false;
    }
    return e->QueryInt64Text(&out) == tinyxml2::XML_SUCCESS;
}

void writeModelSets(tinyxml2::XMLPrinter& p, const std::vector<std::string>& modelSets) {
    p.OpenElement("scene", true);
    p.OpenElement("modelsets", true);
    for (const std::string& name : modelSets) {
        p.OpenElement("modelset", true);
        p.PushAttribute("name", name.c_str());
        p.PushAttribute("modelset", "active");
        p.OpenElement("group", true);
        p.PushAttribute("name", name.c_str());
        p.CloseElement(true);
        p.CloseElement(true);
    }
    p.CloseElement(true);
    p.CloseElement(true);
}

void writeNumber(tinyxml2::XMLPrinter& p, const char* name, std::int64_t value) {
    p.OpenElement(name, true);
    p.PushText(value);
    p.CloseElement(true);
}

// Paths are UTF-8; fs::u8path keeps them so where a narrow path would be the ANSI code page.
fs::path fsPath(const std::string& path) {
    return fs::u8path(path);
}

// Only regular files up to kMaxAnnouncementBytes: a FIFO would block the reader and a huge file
// would be read whole on every query.
bool readFile(const std::string& path, std::string& out) {
    std::error_code ec;
    const fs::path p = fsPath(path);
    if (!fs::is_regular_file(fs::status(p, ec))) {
        return false;
    }
    const std::uintmax_t size = fs::file_size(p, ec);
    if (ec || size > kMaxAnnouncementBytes) {
        return false;
    }
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        return false;
    }
    // One byte more than the size said: a file that grew since is read no further than that.
    out.resize(static_cast<size_t>(size) + 1);
    in.read(&out[0], static_cast<std::streamsize>(out.size()));
    out.resize(static_cast<size_t>(in.gcount()));
    return out.size() <= kMaxAnnouncementBytes;
}

// The file's last write in seconds since 1970, through the file clock's distance from now.
bool writtenAt(const fs::path& p, std::int64_t& unixSeconds) {
    std::error_code ec;
    const fs::file_time_type written = fs::last_write_time(p, ec);
    if (ec) {
        return false;
    }
    const auto age = fs::file_time_type::clock::now() - written;
    const auto at = std::chrono::system_clock::now() -
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(age);
    unixSeconds = std::chrono::duration_cast<std::chrono::seconds>(at.time_since_epoch()).count();
    return true;
}

// "123.xml" gives 123; anything else (temporary files included) gives 0.
std::int64_t pidOfFileName(const std::string& name) {
    if (name.size() < 5 || name.compare(name.size() - 4, 4, ".xml") != 0) {
        return 0;
    }
    std::string digits = name.substr(0, name.size() - 4);
    if (digits.empty() || digits.size() > 18 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    return std::strtoll(digits.c_str(), nullptr, 10);
}

bool loadAnnouncement(const std::string& path, std::int64_t processId, Announcement& out) {
    std::string text;
    Announcement a;
    if (!announcementCurrent(path, processId) || !readFile(path, text) ||
        !parseAnnouncement(text, a) || a.processId != processId) {
        return false;
    }
    out = std::move(a);
    return true;
}

}  // namespace

std::string runtimeFolder() {
    std::string dir;
    if (platform::getEnvironment("RAYDECK_RUNTIME_DIR", dir) && !dir.empty()) {
        return dir;
    }
    if (platform::getEnvironment("XDG_RUNTIME_DIR", dir) && !dir.empty()) {
        return (fsPath(dir) / "raydeck").u8string();
    }
    std::string perUser;
    platform::perUserTempFolder("raydeck", perUser);
    return perUser;
}

bool ensureFolder(const std::string& path) {
    std::error_code ec;
    fs::path p = fsPath(path);
    fs::path walked = p.root_path();  // a drive ("Z:") is no folder to test or make
    for (const fs::path& part : p.relative_path()) {
        walked /= part;
        if (!fs::exists(walked, ec)) {
            if (fs::create_directory(walked, ec)) {
                fs::permissions(walked, fs::perms::owner_all, fs::perm_options::replace, ec);
            } else if (!fs::is_directory(walked, ec)) {
                return false;
            }
        }
    }
    return fs::is_directory(p, ec);
}

bool privateRuntimeFolder(const std::string& path, std::string& why) {
    if (!ensureFolder(path)) {
        why = "cannot create the runtime folder " + path;
        return false;
    }
    const platform::Status st = platform::checkPrivateFolder(path);
    if (!st.ok()) {
        why = "the runtime folder is not private: " + st.message();
        return false;
    }
    return true;
}

std::string announcementPath(const std::string& folder, std::int64_t processId) {
    return (fsPath(folder) / (std::to_string(processId) + ".xml")).u8string();
}

std::string logPath(const std::string& folder, std::int64_t processId) {
    return (fsPath(folder) / (std::to_string(processId) + ".log")).u8string();
}

FILE* openUtf8(const std::string& path, const char16_t* mode) {
    std::u16string wide;
    FILE* f = nullptr;
    if (!platform::utf8ToUtf16(path, wide).ok() || !platform::openFile(wide, mode, f).ok()) {
        return nullptr;
    }
    return f;
}

std::string announcementXml(const Announcement& a) {
    tinyxml2::XMLPrinter p(nullptr, true);
    p.OpenElement("renderer", true);
    writeNumber(p, "version_major", a.versionMajor);
    writeNumber(p, "process_id", a.processId);
    writeNumber(p, "livelink_port", a.livelinkPort);
    writeModelSets(p, a.modelSets);
    p.CloseElement(true);
    return std::string(p.CStr()) + "\n";
}

bool parseAnnouncement(const std::string& text, Announcement& out) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
        return false;
    }
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (root == nullptr) {
        return false;
    }
    std::int64_t version = 0;
    std::int64_t pid = 0;
    std::int64_t port = 0;
    if (!readInt64(root, "version_major", version) || !readInt64(root, "process_id", pid) ||
        !readInt64(root, "livelink_port", port) || pid <= 0 || port < 0 || port > 65535) {
        return false;
    }
    Announcement a;
    a.versionMajor = static_cast<int>(version);
    a.processId = pid;
    a.livelinkPort = static_cast<int>(port);
    const tinyxml2::XMLElement* scene = root->FirstChildElement("scene");
    const tinyxml2::XMLElement* sets = scene ? scene->FirstChildElement("modelsets") : nullptr;
    for (const tinyxml2::XMLElement* s = sets ? sets->FirstChildElement("modelset") : nullptr;
         s != nullptr; s = s->NextSiblingElement("modelset")) {
        const char* name = s->Attribute("name");
        if (name != nullptr) {
            a.modelSets.emplace_back(name);
        }
    }
    out = std::move(a);
    return true;
}

bool writeAnnouncement(const std::string& folder, const Announcement& announcement) {
    if (!ensureFolder(folder)) {
        return false;
    }
    const std::string path = announcementPath(folder, announcement.processId);
    const std::string temp = path + ".tmp";
    const std::string text = announcementXml(announcement);
    FILE* f = openUtf8(temp, u"wb");
    if (f == nullptr) {
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok) {
        fs::rename(fsPath(temp), fsPath(path), ec);  // replaces the old one, on Windows too
    }
    if (!ok || ec) {
        fs::remove(fsPath(temp), ec);
        return false;
    }
    return true;
}

bool removeAnnouncement(const std::string& folder, std::int64_t processId) {
    std::error_code ec;
    return fs::remove(fsPath(announcementPath(folder, processId)), ec);
}

bool processAlive(std::int64_t processId) {
    return platform::processRunning(processId);
}

bool announcementCurrent(const std::string& path, std::int64_t processId) {
    if (!processAlive(processId)) {
        return false;
    }
    // A renderer writes its announcement after it starts; a process that started well after the
    // last write has only been given the id of a renderer that is gone.
    std::int64_t started = 0, written = 0;
    return !platform::processStartTime(processId, started).ok() ||
           !writtenAt(fsPath(path), written) || started <= written + kStartTimeSlackSeconds;
}

std::vector<Announcement> liveAnnouncements(const std::string& folder) {
    std::vector<Announcement> found;
    std::vector<fs::path> stale;
    std::error_code ec;
    for (fs::directory_iterator it(fsPath(folder), ec), end; !ec && it != end; it.increment(ec)) {
        const std::int64_t pid = pidOfFileName(it->path().filename().u8string());
        if (pid <= 0) {
            continue;
        }
        Announcement a;
        std::error_code typeError;
        if (!announcementCurrent(it->path().u8string(), pid)) {
            // Left by a renderer that died without removing it: every later query would read
            // it again.
            if (it->symlink_status(typeError).type() == fs::file_type::regular) {
                stale.push_back(it->path());
            }
        } else if (loadAnnouncement(it->path().u8string(), pid, a)) {
            found.push_back(std::move(a));
        }
    }
    for (const fs::path& p : stale) {
        fs::remove(p, ec);
    }
    std::sort(found.begin(), found.end(), [](const Announcement& x, const Announcement& y) {
        return x.processId < y.processId;
    });
    return found;
}

bool findAnnouncement(const std::string& folder, std::int64_t processId, Announcement& out) {
    return loadAnnouncement(announcementPath(folder, processId), processId, out);
}

std::string sceneInfoXml(const std::vector<std::string>& modelSets) {
    tinyxml2::XMLPrinter p(nullptr, true);
    writeModelSets(p, modelSets);
    return p.CStr();
}

std::string instanceListXml(const std::vector<Announcement>& announcements) {
    tinyxml2::XMLPrinter p(nullptr, true);
    p.OpenElement("instances", true);
    for (const Announcement& a : announcements) {
        p.OpenElement("instance", true);
        writeNumber(p, "version_major", a.versionMajor);
        writeNumber(p, "process_id", a.processId);
        writeNumber(p, "livelink_port", a.livelinkPort);
        p.CloseElement(true);
    }
    p.CloseElement(true);
    return p.CStr();
}

}  // namespace raydeck::live
