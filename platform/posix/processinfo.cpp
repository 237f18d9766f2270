// The process's own facts on POSIX: isatty, /proc/self/statm, and malloc_trim where the C library
// has it.
#include "platform/processinfo.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "platform/backend.h"

namespace platform {

bool standardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

Status residentBytes(std::uint64_t& bytes) {
    bytes = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) {
        return backend::failure(StatusCode::not_found, errno, "cannot open /proc/self/statm");
    }
    unsigned long long total = 0, resident = 0;
    const int read = std::fscanf(statm, "%llu %llu", &total, &resident);
    std::fclose(statm);
    if (read != 2) {
        return Status(StatusCode::io_error, 0, "cannot read /proc/self/statm");
    }
    bytes = resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    return Status::success();
}

void releaseFreeMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace platform
