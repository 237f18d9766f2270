// What each system's backend (posix/, win32/) provides to the code that platform/ shares between
// them: the C runtime's numbered descriptors as taking over and tapping standard output use them
// (descriptor.cpp), the system calls of a replacing file (file.cpp), the wait on a socket
// (socket.cpp), and the file checks of the program search (child.cpp). The logic around them
// (stdstream.cpp, stdtap.cpp, file.cpp, socket.cpp, child.cpp) exists once, as does the
// environment a child gets, which child.cpp works out for both backends. For platform/ only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/child.h"
#include "platform/socket.h"
#include "platform/status.h"

namespace platform::backend {

int standardOutput();
int standardError();

// A new descriptor for what `fd` refers to, numbered above standard error. -1 (errno) on failure.
int duplicate(int fd);
// Makes `to` refer to what `from` refers to. False (errno) on failure.
bool replace(int from, int to);
void close(int fd);
// A pipe in binary mode whose ends processes started later do not inherit. False (errno) on
// failure.
bool openPipe(int ends[2]);
// Reads up to `size` bytes, again when interrupted: the count, 0 at the end, -1 (errno) on failure.
long readSome(int fd, char* buffer, std::size_t size);
// Writes up to `size` bytes, again when interrupted: the count, or -1 (errno) on failure.
long writeSome(int fd, const char* data, std::size_t size);
// A binary write stream on `fd`, which then belongs to the stream. nullptr (errno) on failure,
// with `fd` still open.
std::FILE* openWriteStream(int fd);

// Makes what was written through `stream` durable: its file's data and size on the disk. 0, or
// the system's error number.
int syncToDisk(std::FILE* stream);
// A failed file operation's status: not_found for ENOENT, else io_error; 0 counts as EIO.
Status fileFailure(int err);
// A failed operation's status: io_error with the system's error number and its text; 0 counts as
// EIO.
Status systemError(int err);
// A failed call's status: `what`, then the text of the C runtime's error number `err` (none for
// 0), which the status keeps as its number.
Status failure(StatusCode code, int err, const std::string& what);
// Waits until the socket can be read (or accepts) or, with `write`, be written. A termination
// request, also one that arrived before the wait, ends it with `ready` false (POSIX watches the
// termination pipe; Windows waits in slices that check the request between them).
Status waitSocket(Socket s, bool write, int timeoutMs, bool& ready);

// A replacing file's temporary: ".<name>.<process id, 8 hex><attempt, 4 hex>.partial" beside the
// target named `name` (no folder), so that what a killed process left behind says what it is and
// whose it was. `name` is shortened at a character boundary until the whole holds at most
// `maxUnits` units of its string type (UTF-8 bytes, UTF-16 units): a target whose own name is as
// long as the system allows still gets one. Names are tried in attempt order, so that an
// interrupt can find this process's temporaries without listing the folder.
constexpr unsigned kTemporaryAttempts = 100;
std::string temporaryName(const std::string& name, std::int64_t pid, unsigned attempt,
                          std::size_t maxUnits);
std::u16string temporaryName(const std::u16string& name, std::int64_t pid, unsigned attempt,
                             std::size_t maxUnits);

// What the replace policy (ReplacingFile::open, file.cpp) needs to know of a target.
struct TargetFacts {
    // The path the content goes to, in the system's own form: the file a symbolic link names
    // (POSIX: also a dangling one's name), else the target. POSIX gives its native bytes as
    // UTF-16, `\` included, so that only the backend turns it back.
    std::u16string resolved;
    bool exists = false;        // something is there (a link followed)
    bool folder = false;        // ... and it is a folder
    bool device = false;        // ... and it holds nothing to keep: a device, a pipe
    bool danglingLink = false;  // a symbolic link that names nothing (POSIX only)
    int writeRefusal = 0;       // the error number that opening it for writing would give, or 0
    unsigned mode = 0;          // POSIX: the permissions the replacement gets; unused on Windows
};
// Examines `target` (a caller's UTF-16 path, `\` a separator); invalid_argument for a path that
// is no valid UTF-16.
Status examineTarget(const std::u16string& target, TargetFacts& out);
// The temporary number `attempt` of this process beside the resolved target.
std::u16string temporaryPath(const std::u16string& resolved, unsigned attempt);
// Creates the file `path` for reading and writing only when nothing has that name, as a binary
// stream, private to the user until it has `mode` (POSIX). 0, EEXIST when the name is taken, or
// the error number.
int createExclusive(const std::u16string& path, unsigned mode, std::FILE*& out);
// Opens the resolved path as it is ("wb+"), for a device, a pipe or a dangling link. 0, or the
// error number.
int openDirectly(const std::u16string& resolved, std::FILE*& out);
// Puts the file at `temporary` in the place of `target`, durably. 0, or the error number.
int moveOnto(const std::u16string& temporary, const std::u16string& target);
void removeFile(const std::u16string& path);

// The environment a child gets: `current` ("NAME=value" entries) with the settings of `options`
// applied (a name set replaces its entry or is added, the last setting of a name counts, an empty
// value drops it), or those settings alone when they replace it. With `ignoreCase` names compare
// without regard to ASCII case, as Windows compares them.
std::vector<std::string> childEnvironment(const std::vector<std::string>& current,
                                          const ChildOptions& options, bool ignoreCase);

// The separator between the folders of PATH.
extern const char kPathListSeparator;
// `candidate` as a file this process may run, in `out`: itself or (Windows) with ".exe" added to
// a name without an extension. False when there is none.
bool runnableFile(const std::string& candidate, std::string& out);

}  // namespace platform::backend
