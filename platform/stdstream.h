// Taking over standard output for a binary data stream.
#pragma once

#include <cstdio>

#include "platform/status.h"

namespace platform {

// Opens a new binary write stream ("wb") on a duplicate of the standard-output descriptor, then
// makes the standard-output descriptor a duplicate of standard error, so that whatever else the
// process prints afterwards lands on standard error and not in the data. Pending output of
// `stdout` is flushed first. On success `out` is the new stream (the caller closes it).
Status takeStandardOutput(FILE*& out);

}  // namespace platform
