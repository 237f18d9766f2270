// Announcements of the running stand-in renderers: one "<pid>.xml" per renderer in the runtime
// folder, written by the renderer and read by the stand-in live library's query object; beside
// it the renderer's log "<pid>.log".
//
//   <renderer><version_major>7</version_major><process_id>123</process_id>
//     <livelink_port>9001</livelink_port>
//     <scene><modelsets><modelset name="x" modelset="active"><group name="x"/></modelset>
//     </modelsets></scene></renderer>
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace raydeck::live {

struct Announcement {
    int versionMajor = 0;
    std::int64_t processId = 0;
    int livelinkPort = 0;
    std::vector<std::string> modelSets;  // root group names of the scenes held, in arrival order
};

// RAYDECK_RUNTIME_DIR, else $XDG_RUNTIME_DIR/raydeck, else <temp>/raydeck-<uid>.
std::string runtimeFolder();
// Creates the folder and its parents (new ones private to the user); true when it exists.
bool ensureFolder(const std::string& path);

std::string announcementPath(const std::string& folder, std::int64_t processId);
// "<pid>.log" beside the announcement: the renderer's log, kept after it exits.
std::string logPath(const std::string& folder, std::int64_t processId);
// fopen with a UTF-8 path (opened by its UTF-16 name on every system); null on failure.
FILE* openUtf8(const std::string& path, const char16_t* mode);
std::string announcementXml(const Announcement& announcement);
// False when the text is not an announcement (missing or non-numeric fields).
bool parseAnnouncement(const std::string& text, Announcement& out);
// Writes the file through a temporary file and a rename, so readers never see half of it.
bool writeAnnouncement(const std::string& folder, const Announcement& announcement);
bool removeAnnouncement(const std::string& folder, std::int64_t processId);

// Whether a process with that id exists (a process of another user counts).
bool processAlive(std::int64_t processId);

// The announcements in `folder` that parse, whose file name is their process id and whose
// process exists; in increasing process id order.
std::vector<Announcement> liveAnnouncements(const std::string& folder);
// The one of `processId`, under the same conditions.
bool findAnnouncement(const std::string& folder, std::int64_t processId, Announcement& out);

// The scene description the renderer link reads: <scene><modelsets>...</modelsets></scene>,
// one <modelset name=".." modelset="active"> with a <group name=".."/> per set.
std::string sceneInfoXml(const std::vector<std::string>& modelSets);
// <instances><instance>version, process id, port</instance>...</instances>
std::string instanceListXml(const std::vector<Announcement>& announcements);

}  // namespace raydeck::live
