// Taking over standard output for a binary data stream, and tapping it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>

#include "platform/status.h"

namespace platform {

// Opens a new binary write stream ("wb") on a duplicate of the standard-output descriptor, then
// makes the standard-output descriptor a duplicate of standard error, so that whatever else the
// process prints afterwards lands on standard error and not in the data. Pending output of
// `stdout` is flushed first. On success `out` is the new stream (the caller closes it).
Status takeStandardOutput(FILE*& out);

// A pipe put in front of the standard-output descriptor (see tapStandardOutput).
class StandardOutputTap;

// From now on, every byte written to the standard-output descriptor (by anyone in the process,
// also through descriptors duplicated from it later) goes to `onBytes`, called on a thread of the
// tap's own, and then on to the original standard output. When the original output refuses a
// write, the tap stops reading, so writers see the failure as they would without the tap.
// Processes started while the tap is in place must not inherit it (startProcess does not).
Status tapStandardOutput(std::function<void(const char*, std::size_t)> onBytes,
                         StandardOutputTap*& tap);

// Puts the original standard output back, waits until every byte written before was passed on
// and frees the tap. Every duplicate of the tapped descriptor must be closed by then. Fails when
// the original output refused a write (the system's error).
Status untapStandardOutput(StandardOutputTap* tap);

}  // namespace platform
