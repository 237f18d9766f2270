// Shared by the Windows backends: paths beyond MAX_PATH, and UTF-8 text as the wide strings the
// system calls take.
#pragma once

#include <string>

namespace platform {
namespace win32 {

// `path` with `/` turned into `\`; when it is 260 units or longer it is made absolute and given
// the `\\?\` (or `\\?\UNC\`) prefix, which lifts the MAX_PATH limit of the file functions.
std::wstring extendedPath(const std::u16string& path);

// The file a replacing file puts its content in for `target`: the file a symbolic link names,
// else `target` itself.
std::u16string resolvedTarget(const std::u16string& target);
// The path of this process's temporary number `attempt` for the resolved `target`.
std::u16string temporaryPath(const std::u16string& target, unsigned attempt);

// UTF-8 `text` as UTF-16; empty when it is no valid UTF-8.
std::wstring wide(const std::string& text);

}  // namespace win32
}  // namespace platform
