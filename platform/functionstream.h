// A stdio write stream whose bytes go to a function, so that a writer that takes a FILE* can
// write into a socket.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/status.h"

namespace platform {

// `write` takes every byte it is given (it drops what it cannot deliver) and returns nothing.
using StreamWrite = void (*)(void* context, const char* data, std::size_t size);

// Opens a binary write stream on `write`; close it with closeFunctionStream (not fclose), which
// flushes it and returns once `write` has had every byte.
Status openFunctionStream(StreamWrite write, void* context, FILE*& out);
Status closeFunctionStream(FILE* stream);

}  // namespace platform
