// UTF-8 <-> UTF-16 conversion for the places where Windows names and paths live.
// Invalid input (malformed or overlong sequences, surrogates encoded in UTF-8, unpaired
// surrogates in UTF-16) is an error; nothing is replaced silently.
#pragma once

#include <string>

#include "platform/status.h"

namespace platform {

// On failure `out` is left empty and the status is invalid_argument.
Status utf8ToUtf16(const std::string& in, std::u16string& out);
Status utf16ToUtf8(const std::u16string& in, std::string& out);

}  // namespace platform
