// Windows-style paths on POSIX: `\` is a separator, like `/`.
#include "platform/posix/path.h"

#include <algorithm>

#include "platform/utf.h"

namespace platform {
namespace posix {

Status nativePath(const std::u16string& path, std::string& out) {
    Status st = utf16ToUtf8(path, out);
    if (!st.ok()) {
        return st;
    }
    std::replace(out.begin(), out.end(), '\\', '/');
    return Status::success();
}

}  // namespace posix
}  // namespace platform
