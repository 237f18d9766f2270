// Wide-character file facilities. Paths are UTF-16 and may use `\` as the separator on every
// platform (the product builds Windows-style paths such as `folder\sceneapi.log`); paths longer
// than 260 UTF-16 units are supported.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/status.h"

namespace platform {

// fopen with a UTF-16 path and a UTF-16 stdio mode ("wb+", "r", "a", ...). On failure `out` is
// null and sysError() holds the errno of the failed open.
Status openFile(const std::u16string& path, const std::u16string& mode, FILE*& out);

// Size in bytes of the file at `path`; not_found when it does not exist.
Status fileSize(const std::u16string& path, std::uint64_t& size);

}  // namespace platform
