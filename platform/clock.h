// Sleeping, millisecond ticks and the local wall-clock time as text.
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace platform {

Status sleepMs(std::uint32_t milliseconds);

// Milliseconds since an arbitrary fixed point; wraps around like a 32-bit counter.
std::uint32_t tickMs();

// The current local time as "HH:MM:SS" (24-hour clock, two digits each).
Status localTimeText(std::string& out);

}  // namespace platform
