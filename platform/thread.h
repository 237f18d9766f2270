// Running a piece of work on a thread with a stack of a given size, for work whose depth the
// caller does not control (a third-party reader that recurses along its input).
#pragma once

#include <cstddef>
#include <functional>

#include "platform/status.h"

namespace platform {

// Runs `work` on a new thread with a stack of `stackBytes` and waits for it. Fails, without
// running it, when no such thread can be started.
Status runWithStack(std::size_t stackBytes, const std::function<void()>& work);

}  // namespace platform
