// UTF-8 <-> UTF-16 conversion for the places where Windows names and paths live.
// Invalid input (malformed or overlong sequences, surrogates encoded in UTF-8, unpaired
// surrogates in UTF-16) is an error; nothing is replaced silently.
#pragma once

#include <cstddef>
#include <string>

#include "platform/status.h"

namespace platform {

// What is wrong with the bytes that decodeUtf8 could not read, and at which offset.
struct Utf8Fault {
    const char* what = nullptr;
    std::size_t at = 0;
};

// The well-formed UTF-8 sequence that starts at byte `at` of `text`: its length in bytes, with
// its code point in `cp`; 0 when the bytes there are none (a stray or invalid lead byte, a cut,
// overlong or surrogate sequence, or one beyond U+10FFFF), with `fault`, when given, saying why.
std::size_t decodeUtf8(const std::string& text, std::size_t at, char32_t& cp,
                       Utf8Fault* fault = nullptr);

// On failure `out` is left empty and the status is invalid_argument.
Status utf8ToUtf16(const std::string& in, std::u16string& out);
Status utf16ToUtf8(const std::u16string& in, std::string& out);

}  // namespace platform
