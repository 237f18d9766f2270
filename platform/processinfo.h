// What a program asks about its own process: whether standard error shows on a terminal (so that
// a progress line may redraw itself), how much memory it holds resident, and giving the memory
// its allocator keeps free back to the system.
#pragma once

#include <cstdint>

#include "platform/status.h"

namespace platform {

// True when standard error is a terminal or console window, where "\r" redraws a line.
bool standardErrorIsTerminal();

// The process's resident memory in bytes (the working set on Windows).
Status residentBytes(std::uint64_t& bytes);

// Hands the free memory that the C allocator keeps back to the system, as far as it can.
void releaseFreeMemory();

}  // namespace platform
