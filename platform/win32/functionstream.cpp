// A stdio stream on a function, on Windows, where the C runtime has no custom streams: the
// stream writes into an anonymous pipe, and a thread hands what it reads to the function.
#include "platform/functionstream.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <thread>

#include "platform/backend.h"

namespace platform {
namespace {

constexpr unsigned kPipeBytes = 1u << 20;

struct Pump {
    std::thread thread;
};

std::mutex pumpsMutex;
std::map<FILE*, Pump>& pumps() {
    static std::map<FILE*, Pump> all;
    return all;
}

void pump(int readFd, StreamWrite write, void* context) {
    static constexpr unsigned kChunk = 1u << 20;
    char* buffer = new char[kChunk];
    for (;;) {
        const int n = _read(readFd, buffer, kChunk);
        if (n <= 0) {
            break;
        }
        write(context, buffer, static_cast<std::size_t>(n));
    }
    delete[] buffer;
    _close(readFd);
}

}  // namespace

Status openFunctionStream(StreamWrite write, void* context, FILE*& out) {
    out = nullptr;
    int fds[2];
    if (_pipe(fds, kPipeBytes, _O_BINARY | _O_NOINHERIT) != 0) {
        return backend::failure(StatusCode::io_error, errno, "_pipe failed");
    }
    FILE* stream = _fdopen(fds[1], "wb");
    if (stream == nullptr) {
        const int err = errno;
        _close(fds[0]);
        _close(fds[1]);
        return backend::failure(StatusCode::io_error, err, "_fdopen failed");
    }
    try {
        std::lock_guard<std::mutex> lock(pumpsMutex);
        pumps()[stream].thread = std::thread(pump, fds[0], write, context);
    } catch (...) {
        std::fclose(stream);
        _close(fds[0]);
        return Status(StatusCode::io_error, EAGAIN, "cannot start the stream's thread");
    }
    out = stream;
    return Status::success();
}

Status closeFunctionStream(FILE* stream) {
    if (stream == nullptr) {
        return Status::success();
    }
    const int closed = std::fclose(stream);  // the pump then reads the end of the pipe
    const int err = errno;
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(pumpsMutex);
        auto it = pumps().find(stream);
        if (it != pumps().end()) {
            thread = std::move(it->second.thread);
            pumps().erase(it);
        }
    }
    if (thread.joinable()) {
        thread.join();
    }
    return closed == 0 ? Status::success()
                       : backend::failure(StatusCode::io_error, err, "fclose failed");
}

}  // namespace platform
