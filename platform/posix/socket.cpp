// Loopback TCP on POSIX: BSD sockets, close-on-exec, MSG_NOSIGNAL, poll for the waits.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/backend.h"
#include "platform/posix/termination.h"
#include "platform/program.h"

namespace platform {
namespace {

Status socketFailure(const char* what) {
    return backend::failure(StatusCode::io_error, errno, what);
}

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

}  // namespace

Status backend::waitSocket(Socket s, bool write, int timeoutMs, bool& ready) {
    ready = false;
    // The termination pipe (-1, which poll skips, until requests are caught) ends the wait for a
    // request that arrived before it as well as during it.
    pollfd p[2] = {{static_cast<int>(s), static_cast<short>(write ? POLLOUT : POLLIN), 0},
                   {posix::terminationDescriptor(), POLLIN, 0}};
    const int r = ::poll(p, 2, timeoutMs);
    if (r < 0 && errno != EINTR) {
        return socketFailure("poll failed");
    }
    ready = r > 0 && p[0].revents != 0 && !terminationRequested();
    return Status::success();
}

Status listenLoopback(int port, Socket& out, int& boundPort) {
    out = kNoSocket;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return socketFailure("socket failed");
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr = loopback(port);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const Status s = socketFailure("bind or listen failed");
        ::close(fd);
        return s;
    }
    boundPort = ntohs(addr.sin_port);
    out = fd;
    return Status::success();
}

Status acceptConnection(Socket listener, Socket& out) {
    const int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    out = fd < 0 ? kNoSocket : fd;
    return fd < 0 ? socketFailure("accept failed") : Status::success();
}

Status connectLoopback(int port, int waitMs, Socket& out) {
    out = kNoSocket;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return socketFailure("socket failed");
    }
    sockaddr_in addr = loopback(port);
    int r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int error = r == 0 ? 0 : errno;
    if (r != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        error = ETIMEDOUT;
        socklen_t len = sizeof error;
        if (::poll(&p, 1, waitMs) == 1) {
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
        }
    }
    if (error != 0) {
        ::close(fd);
        return backend::failure(StatusCode::io_error, error, "connect failed");
    }
    out = fd;
    return Status::success();
}

Status sendSome(Socket s, const char* data, std::size_t size, std::size_t& done) {
    done = 0;
    const ssize_t n = ::send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
    if (n >= 0) {
        done = static_cast<size_t>(n);
        return Status::success();
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return Status::success();
    }
    return socketFailure("send failed");
}

Status receiveSome(Socket s, char* data, std::size_t size, std::size_t& done) {
    done = 0;
    ssize_t n;
    do {
        n = ::recv(static_cast<int>(s), data, size, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return socketFailure("recv failed");
    }
    done = static_cast<size_t>(n);
    return Status::success();
}

Status shutdownSending(Socket s) {
    return ::shutdown(static_cast<int>(s), SHUT_WR) == 0 ? Status::success()
                                                         : socketFailure("shutdown failed");
}

Status closeSocket(Socket s) {
    if (s == kNoSocket) {
        return Status::success();
    }
    return ::close(static_cast<int>(s)) == 0 ? Status::success() : socketFailure("close failed");
}

}  // namespace platform
