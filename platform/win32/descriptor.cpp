// The descriptor calls on Windows, through the C runtime's low-level I/O.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>

#include "platform/backend.h"

namespace platform::backend {

int standardOutput() {
    return _fileno(stdout);
}
int standardError() {
    return _fileno(stderr);
}

// A duplicate inherits its original's text mode; everything written through one here is data
// (the tap passes a scene on), so it is binary: no LF becomes CR LF.
int duplicate(int fd) {
    const int copy = _dup(fd);
    if (copy >= 0) {
        _setmode(copy, _O_BINARY);
    }
    return copy;
}

bool replace(int from, int to) {
    return _dup2(from, to) == 0;
}

void close(int fd) {
    _close(fd);
}

bool openPipe(int ends[2]) {
    return _pipe(ends, 1 << 16, _O_BINARY | _O_NOINHERIT) == 0;
}

// The runtime counts in unsigned int: larger requests go in parts, as short reads and writes.
long readSome(int fd, char* buffer, std::size_t size) {
    return _read(fd, buffer, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
}

long writeSome(int fd, const char* data, std::size_t size) {
    return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
}

// The scene holds packed bytes: no newline translation.
std::FILE* openWriteStream(int fd) {
    return _setmode(fd, _O_BINARY) == -1 ? nullptr : _fdopen(fd, "wb");
}

}  // namespace platform::backend
