// Shared by the POSIX backends: a UTF-16 Windows-style path as a native path.
#pragma once

#include <string>

#include "platform/status.h"

namespace platform {
namespace posix {

// UTF-8 form of `path` with every `\` turned into `/`.
Status nativePath(const std::u16string& path, std::string& out);

}  // namespace posix
}  // namespace platform
