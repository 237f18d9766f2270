// Shared by the Windows backends: paths beyond MAX_PATH.
#pragma once

#include <string>

namespace platform {
namespace win32 {

// `path` with `/` turned into `\`; when it is 260 units or longer it is made absolute and given
// the `\\?\` (or `\\?\UNC\`) prefix, which lifts the MAX_PATH limit of the file functions.
std::wstring extendedPath(const std::u16string& path);

}  // namespace win32
}  // namespace platform
