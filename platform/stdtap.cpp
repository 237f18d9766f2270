// Standard output tap: a pipe in front of the standard-output descriptor and a thread that passes
// its bytes on. In a file of its own, so that the plug-in, which takes standard output over but
// never taps it, links no thread code.
#include <cerrno>
#include <thread>

#include "platform/backend.h"
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
            const long n = backend::readSome(readEnd, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            onBytes(buffer, static_cast<std::size_t>(n));
            if (!writeAll(buffer, static_cast<std::size_t>(n))) {
                writeError = errno != 0 ? errno : EIO;
                break;
            }
        }
        // Writers now get the error they would have got from the original output.
        backend::close(readEnd);
        readEnd = -1;
    }

  private:
    bool writeAll(const char* data, std::size_t size) {
        while (size > 0) {
            const long n = backend::writeSome(original, data, size);
            if (n <= 0) {
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
};

Status tapStandardOutput(std::function<void(const char*, std::size_t)> onBytes,
                         StandardOutputTap*& tap) {
    tap = nullptr;
    std::fflush(stdout);
    int ends[2];
    if (!backend::openPipe(ends)) {
        return backend::systemError(errno);
    }
    const int original = backend::duplicate(backend::standardOutput());
    if (original < 0 || !backend::replace(ends[1], backend::standardOutput())) {
        const int err = errno;
        if (original >= 0) {
            backend::close(original);
        }
        backend::close(ends[0]);
        backend::close(ends[1]);
        return backend::systemError(err);
    }
    backend::close(ends[1]);
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
    const bool restored = backend::replace(tap->original, backend::standardOutput());
    const int restoreError = errno;
    if (!restored) {
        backend::close(backend::standardOutput());
    }
    tap->pump.join();
    backend::close(tap->original);
    const int writeError = tap->writeError;
    delete tap;
    return !restored         ? backend::systemError(restoreError)
           : writeError != 0 ? backend::systemError(writeError)
                             : Status::success();
}

}  // namespace platform
