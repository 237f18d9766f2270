// Standard output tap on Windows through the C runtime's descriptor calls: a binary pipe in front
// of the standard-output descriptor and a thread that passes its bytes on. In a file of its own,
// so that the plug-in, which takes standard output over but never taps it, links no thread code.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/stdstream.h"

namespace platform {

class StandardOutputTap {
  public:
    std::function<void(const char*, std::size_t)> onBytes;
    int original = -1;  // the standard output from before the tap
    int readEnd = -1;
    int writeError = 0;
    std::thread pump;

    void run() {
        char buffer[1 << 16];
        for (;;) {
            const int n = _read(readEnd, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            onBytes(buffer, static_cast<std::size_t>(n));
            if (!writeAll(buffer, static_cast<unsigned>(n))) {
                writeError = errno != 0 ? errno : EIO;
                break;
            }
        }
        // Writers now get the error they would have got from the original output.
        _close(readEnd);
        readEnd = -1;
    }

  private:
    bool writeAll(const char* data, unsigned size) {
        while (size > 0) {
            const int n = _write(original, data, size);
            if (n <= 0) {
                return false;
            }
            data += n;
            size -= static_cast<unsigned>(n);
        }
        return true;
    }
};

Status tapStandardOutput(std::function<void(const char*, std::size_t)> onBytes,
                         StandardOutputTap*& tap) {
    tap = nullptr;
    std::fflush(stdout);
    int ends[2];
    // Binary, so that the bytes pass unchanged; not inherited by processes started meanwhile.
    if (_pipe(ends, 1 << 16, _O_BINARY | _O_NOINHERIT) != 0) {
        const int err = errno;
        return Status(StatusCode::io_error, err, std::strerror(err));
    }
    const int original = _dup(_fileno(stdout));
    if (original < 0 || _dup2(ends[1], _fileno(stdout)) != 0) {
        const int err = errno;
        if (original >= 0) {
            _close(original);
        }
        _close(ends[0]);
        _close(ends[1]);
        return Status(StatusCode::io_error, err, std::strerror(err));
    }
    _close(ends[1]);
    auto* t = new StandardOutputTap;
    t->onBytes = std::move(onBytes);
    t->original = original;
    t->readEnd = ends[0];
    t->pump = std::thread([t] { t->run(); });
    tap = t;
    return Status::success();
}

Status untapStandardOutput(StandardOutputTap* tap) {
    if (tap == nullptr) {
        return Status(StatusCode::invalid_argument, EINVAL, "no tap");
    }
    std::fflush(stdout);
    // Closes the tapped descriptor: the pump sees the end once every duplicate is closed too.
    const bool restored = _dup2(tap->original, _fileno(stdout)) == 0;
    const int restoreError = errno;
    if (!restored) {
        _close(_fileno(stdout));
    }
    tap->pump.join();
    _close(tap->original);
    const int writeError = tap->writeError;
    delete tap;
    if (!restored) {
        return Status(StatusCode::io_error, restoreError, std::strerror(restoreError));
    }
    return writeError != 0 ? Status(StatusCode::io_error, writeError, std::strerror(writeError))
                           : Status::success();
}

}  // namespace platform
