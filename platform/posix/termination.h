// Shared by the POSIX backends: the descriptor that becomes readable once a termination request
// has arrived, so that a wait can include it and miss no request that lands just before it.
#pragma once

namespace platform {
namespace posix {

// The read end of the termination pipe; -1 before catchTermination() set it up. It stays
// readable from the first request on: nothing drains it.
int terminationDescriptor();

}  // namespace posix
}  // namespace platform
