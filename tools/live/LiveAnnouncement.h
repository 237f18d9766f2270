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

// The largest announcement read; larger files are skipped. A renderer holding ten thousand
// model sets with long names still fits.
constexpr std::uintmax_t kMaxAnnouncementBytes = 4u << 20;
// How much later than its announcement's last write a process may seem to have started (the
// system tells start times to about a second) and still be the renderer that wrote it.
constexpr std::int64_t kStartTimeSlackSeconds = 2;

// RAYDECK_RUNTIME_DIR, else $XDG_RUNTIME_DIR/raydeck, else <temp>/raydeck-<uid>.
std::string runtimeFolder();
// Creates the runtime folder when missing and checks that it is private: owned by this user and
// writable by no one else. False with the reason in `why` otherwise: announcements there could
// be another user's, and scenes sent on their word would go to that user.
bool privateRuntimeFolder(const std::string& path, std::string& why);
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
// Whether the announcement at `path` can be the one of process `processId`: the process runs
// and did not start after the file was last written (then its id was reused).
bool announcementCurrent(const std::string& path, std::int64_t processId);

// The announcements in `folder` that are regular files of at most kMaxAnnouncementBytes, parse,
// are named by their process id and are current; in increasing process id order. Announcements
// that are not current are removed.
std::vector<Announcement> liveAnnouncements(const std::string& folder);
// The one of `processId`, under the same conditions.
bool findAnnouncement(const std::string& folder, std::int64_t processId, Announcement& out);

// The scene description the renderer link reads: <scene><modelsets>...</modelsets></scene>,
// one <modelset name=".." modelset="active"> with a <group name=".."/> per set.
std::string sceneInfoXml(const std::vector<std::string>& modelSets);
// <instances><instance>version, process id, port</instance>...</instances>
std::string instanceListXml(const std::vector<Announcement>& announcements);

}  // namespace raydeck::live
