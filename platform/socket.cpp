// The socket waits, alike on every system around the backend's one wait.
#include "platform/socket.h"

#include "platform/backend.h"

namespace platform {

Status waitReadable(Socket s, int timeoutMs, bool& ready) {
    return backend::waitSocket(s, false, timeoutMs, ready);
}

Status waitWritable(Socket s, int timeoutMs, bool& ready) {
    return backend::waitSocket(s, true, timeoutMs, ready);
}

}  // namespace platform
