// Hex digits as the registry's .reg files and the scene text write them; here because the
// registry file reader below everything else needs them as much as the scene readers above.
#pragma once

namespace platform {

// The value of a hex digit of either case; -1 for any other byte.
inline int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace platform
