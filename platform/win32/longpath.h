// Shared by the Windows backends: paths beyond MAX_PATH, and UTF-8 text as the wide strings the
// system calls take.
#pragma once

#include <string>

namespace platform {
namespace win32 {

// `path` with `/` turned into `\`; when it is 260 units or longer it is made absolute and given
// the `\\?\` (or `\\?\UNC\`) prefix, which lifts the MAX_PATH limit of the file functions.
std::wstring extendedPath(const std::u16string& path);

// UTF-8 `text` as UTF-16; empty when it is no valid UTF-8.
std::wstring wide(const std::string& text);

}  // namespace win32
}  // namespace platform
