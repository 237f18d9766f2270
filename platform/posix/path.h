// Shared by the POSIX backends: a UTF-16 Windows-style path as a native path.
#pragma once

#include <string>

#include "platform/status.h"

namespace platform {
namespace posix {

// UTF-8 form of `path` with every `\` turned into `/`.
Status nativePath(const std::u16string& path, std::string& out);

// The file a replacing file puts its content in for the native path `target`: the file a
// symbolic link names, else `target` itself.
std::string resolvedTarget(const std::string& target);
// The native path of this process's temporary number `attempt` for the resolved `target`.
std::string temporaryPath(const std::string& target, unsigned attempt);

}  // namespace posix
}  // namespace platform
