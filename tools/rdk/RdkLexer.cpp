// RdkLexer: numbers and hex forms of scene words.
#include "tools/rdk/RdkLexer.h"

#include <charconv>
#include <cstdio>

namespace rdk::lex {

bool parseNumber(const char* b, const char* e, double& out) {
    if (b == e) {
        return false;
    }
    // from_chars does not take a leading '+'.
    if (*b == '+' && e - b > 1) {
        ++b;
    }
    auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e;
}

std::string hexByte(unsigned char c) {
    const char* digits = "0123456789abcdef";
    return std::string("0x") + digits[c >> 4] + digits[c & 15];
}

WordKind readWord(const char* b, const char* e, double& number, std::string& decoded) {
    if (parseNumber(b, e, number)) {
        return WordKind::number;
    }
    const size_t n = static_cast<size_t>(e - b);
    if (n < 2 || (b[0] != 'x' && b[0] != 'b') || b[1] != 'X') {
        return WordKind::word;
    }
    for (const char* q = b + 2; q < e; ++q) {
        if (trvFormat::hexDigitValue(*q) < 0) {
            return WordKind::word;
        }
    }
    const bool bytes = b[0] == 'b';
    // "xX" alone is a word; "bX" alone an empty byte block.
    if (!bytes && n == 2) {
        return WordKind::word;
    }
    if ((n - 2) % 2 != 0) {
        return WordKind::oddHexDigits;
    }
    decoded.clear();
    decoded.reserve((n - 2) / 2);
    for (const char* q = b + 2; q < e; q += 2) {
        decoded.push_back(static_cast<char>(trvFormat::hexDigitValue(q[0]) * 16 +
                                            trvFormat::hexDigitValue(q[1])));
    }
    return bytes ? WordKind::bytes : WordKind::text;
}

std::string numberText(double n) {
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, "%g", n);
    return std::string(buffer, static_cast<size_t>(length));
}

}  // namespace rdk::lex
