// Starting a program in the background; write failures as errors instead of signals.
#pragma once

#include <string>

#include "platform/status.h"

namespace platform {

// Starts the program at `path` (UTF-16; `\` is a separator on every platform) with no arguments.
// It inherits the environment and the current folder, but no open files or sockets of the caller:
// on POSIX its standard streams are /dev/null. The program is not waited for, and no zombie is
// left behind when it ends. Fails (not_found, io_error) when the program cannot be started.
Status startProcess(const std::u16string& path);

// Makes a write past the file-size limit or into a pipe whose reader has gone fail with an error
// (EFBIG, EPIPE) that the writer reports, instead of ending the whole process (SIGXFSZ, SIGPIPE
// ignored). For programs only: a library must leave its host's signal handling alone. Windows
// has no such signals; there it does nothing.
Status reportWriteFailuresAsErrors();

// Bounds the memory this process may take to `bytes` from now on (POSIX: its address space;
// Windows: its committed memory, through a job object): an allocation beyond it fails
// (std::bad_alloc) instead of paging the machine to a halt. For a program that runs work it does
// not trust, such as a file reader in a child process of its own.
Status limitOwnMemory(unsigned long long bytes);

// Has this process's allocator keep the memory it frees for its next allocations, large blocks
// included, instead of handing it back and faulting fresh pages in again. For a child process
// that does one large job and ends. Where the allocator offers no such setting it does nothing.
Status keepFreedMemory();

}  // namespace platform
