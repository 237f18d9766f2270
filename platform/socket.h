// Loopback TCP for the stand-ins (BSD sockets on POSIX, Winsock on Windows). Every function
// starts the socket library on first use. Waits return early when a termination was requested
// (platform/program.h), with `ready` false.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/status.h"

namespace platform {

using Socket = std::intptr_t;
constexpr Socket kNoSocket = -1;

// Listens on 127.0.0.1:port (0: the system picks); `boundPort` is the port taken.
Status listenLoopback(int port, Socket& out, int& boundPort);
Status acceptConnection(Socket listener, Socket& out);
// Connects to 127.0.0.1:port, waiting at most `waitMs` for the connection. The socket is
// non-blocking (accepted ones block).
Status connectLoopback(int port, int waitMs, Socket& out);
// Waits until the socket can be read (or has a pending connection) or written.
Status waitReadable(Socket s, int timeoutMs, bool& ready);
Status waitWritable(Socket s, int timeoutMs, bool& ready);
// One send or receive; never raises SIGPIPE. sendSome on a full non-blocking socket succeeds with
// `done` 0 (wait and try again). receiveSome after waitReadable: `done` 0 means the peer closed.
Status sendSome(Socket s, const char* data, std::size_t size, std::size_t& done);
Status receiveSome(Socket s, char* data, std::size_t size, std::size_t& done);
Status shutdownSending(Socket s);
Status closeSocket(Socket s);

}  // namespace platform
