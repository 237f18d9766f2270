// Loopback TCP on Windows: Winsock 2, started once (WSAStartup) on first use; non-inheritable
// sockets; select for the waits, in slices so that a termination request ends a wait.
#include "platform/socket.h"

#include <winsock2.h>
// After winsock2.h:
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "platform/backend.h"
#include "platform/program.h"
#include "platform/win32/error.h"

namespace platform {
namespace {

bool started() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        WSADATA data;
        ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return ok;
}

Status failure(const char* what) {
    return win32::socketStatus(StatusCode::io_error, what);
}

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// A new TCP socket that processes started later do not inherit; Winsock is started first.
Status newSocket(SOCKET& s) {
    s = INVALID_SOCKET;
    if (!started()) {
        return failure("WSAStartup failed");
    }
    s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);  // systems without that flag
        if (s != INVALID_SOCKET) {
            SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
        }
    }
    return s == INVALID_SOCKET ? failure("socket failed") : Status::success();
}

// One select on one socket; > 0 ready, 0 timed out, < 0 failed.
int selectOne(SOCKET s, bool write, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int r = ::select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, &tv);
    return r > 0 && FD_ISSET(s, &errors) && !FD_ISSET(s, &set) ? -1 : r;
}

}  // namespace

Status backend::waitSocket(Socket s, bool write, int timeoutMs, bool& ready) {
    ready = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (terminationRequested()) {
            return Status::success();
        }
        int slice = 100;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            slice = static_cast<int>(std::max<long long>(0, std::min<long long>(left, 100)));
        }
        const int r = selectOne(static_cast<SOCKET>(s), write, slice);
        if (r < 0) {
            ready = true;  // the error shows in the next call on the socket
            return Status::success();
        }
        if (r > 0) {
            ready = !terminationRequested();
            return Status::success();
        }
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) {
            return Status::success();
        }
    }
}

Status listenLoopback(int port, Socket& out, int& boundPort) {
    out = kNoSocket;
    SOCKET s = INVALID_SOCKET;
    const Status opened = newSocket(s);
    if (!opened.ok()) {
        return opened;
    }
    // Windows lets SO_REUSEADDR steal a port in use; exclusive use is what POSIX's default is.
    BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in addr = loopback(port);
    int len = sizeof addr;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 8) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const Status st = failure("bind or listen failed");
        ::closesocket(s);
        return st;
    }
    boundPort = ntohs(addr.sin_port);
    out = static_cast<Socket>(s);
    return Status::success();
}

Status acceptConnection(Socket listener, Socket& out) {
    const SOCKET s = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        out = kNoSocket;
        return failure("accept failed");
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    // An accepted socket inherits the listener's mode; make sure it blocks.
    u_long blocking = 0;
    ::ioctlsocket(s, FIONBIO, &blocking);
    out = static_cast<Socket>(s);
    return Status::success();
}

Status connectLoopback(int port, int waitMs, Socket& out) {
    out = kNoSocket;
    SOCKET s = INVALID_SOCKET;
    const Status opened = newSocket(s);
    if (!opened.ok()) {
        return opened;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in addr = loopback(port);
    int error = 0;
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            error = WSAETIMEDOUT;
            if (selectOne(s, true, waitMs) != 0) {
                int len = sizeof error;
                ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len);
                if (error == 0 && selectOne(s, true, 0) <= 0) {
                    error = WSAECONNREFUSED;
                }
            }
        }
    }
    if (error != 0) {
        ::closesocket(s);
        return win32::systemStatus(StatusCode::io_error, static_cast<unsigned long>(error),
                                   "connect failed");
    }
    out = static_cast<Socket>(s);
    return Status::success();
}

Status sendSome(Socket s, const char* data, std::size_t size, std::size_t& done) {
    done = 0;
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 1u << 30));
    const int n = ::send(static_cast<SOCKET>(s), data, chunk, 0);
    if (n >= 0) {
        done = static_cast<std::size_t>(n);
        return Status::success();
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? Status::success() : failure("send failed");
}

Status receiveSome(Socket s, char* data, std::size_t size, std::size_t& done) {
    done = 0;
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 1u << 30));
    const int n = ::recv(static_cast<SOCKET>(s), data, chunk, 0);
    if (n < 0) {
        return failure("recv failed");
    }
    done = static_cast<std::size_t>(n);
    return Status::success();
}

Status shutdownSending(Socket s) {
    return ::shutdown(static_cast<SOCKET>(s), SD_SEND) == 0 ? Status::success()
                                                            : failure("shutdown failed");
}

Status closeSocket(Socket s) {
    if (s == kNoSocket) {
        return Status::success();
    }
    return ::closesocket(static_cast<SOCKET>(s)) == 0 ? Status::success()
                                                      : failure("closesocket failed");
}

}  // namespace platform
