// Ending a command-line program on an interrupt without leaving a half-written file behind.
#pragma once

#include <string>

#include "platform/status.h"

namespace platform {

// From now on an interrupt (SIGINT or SIGTERM; on Windows Ctrl-C, Ctrl-Break, the console
// closing, or the stop event of platform::stopChild) ends the program at once: the temporaries that
// this process's ReplacingFiles hold for the watched targets are removed, "<program>: interrupted"
// goes to standard error as one line, and the exit code is 130 for SIGINT (Ctrl-C) and 143 for the
// others. For programs only: a library leaves its host's signal handling alone.
Status exitOnInterrupt(const std::string& program);

// Adds `target` (UTF-8, as given to ReplacingFile::open) to the watched targets; at most eight.
// Fails (invalid_argument) when the path cannot be held.
Status removeTemporariesOnInterrupt(const std::string& target);

}  // namespace platform
