// What each system's backend (posix/, win32/) provides to the code that platform/ shares between
// them: the C runtime's numbered descriptors as taking over and tapping standard output use them
// (descriptor.cpp), the steps of a replacing file that differ (file.cpp), and the wait on a
// socket (socket.cpp). The logic around them (stdstream.cpp, stdtap.cpp, file.cpp, socket.cpp)
// exists once. For platform/ only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

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
// A failed operation's status: io_error with the system's error number and its text.
Status systemError(int err);
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

// Puts the file at `temporary` in the place of `target`, durably. 0, or the error number.
int moveOnto(const std::u16string& temporary, const std::u16string& target);
void removeFile(const std::u16string& path);

}  // namespace platform::backend
