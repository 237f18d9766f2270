// trvSceneFormat: value spelling, hex form and packed block header of the scene text.
#include "trvSceneFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "trvScene_api.h"

namespace trvFormat {
namespace {

constexpr double kFloatMax = 3.4028234663852886e38;
constexpr double kDoubleMax = 1.7976931348623157e308;

template <typename T>
T load(const void* base, size_t index) {
    T v;
    std::memcpy(&v, static_cast<const char*>(base) + index * sizeof(T), sizeof(T));
    return v;
}

// NaN and values outside the open float range are written as -1 so that a reader never
// meets inf/nan texts in float data; each counts in *clamped.
double finite(double v, size_t* clamped) {
    if (v > -kFloatMax && v < kFloatMax) {
        return v;
    }
    if (clamped != nullptr) {
        ++*clamped;
    }
    return -1.0;
}

// No inf or nan text ever reaches the scene: NaN becomes 0 and a value beyond `limit` (an
// infinity, or a double too large for the float it is narrowed to) the largest finite value of
// its sign. Each such value counts in *clamped.
double clampTo(double v, double limit, size_t* clamped) {
    if (v >= -limit && v <= limit) {
        return v;
    }
    if (clamped != nullptr) {
        ++*clamped;
    }
    return v != v ? 0.0 : (v < 0 ? -limit : limit);
}

// "%16.16f": the width only matters for the short texts inf and nan.
size_t spellDouble16(double v, char* out) {
    size_t n = spellFixed(v, 16, out);
    if (n < 16) {
        size_t pad = 16 - n;
        std::memmove(out + pad, out, n);
        std::memset(out, ' ', pad);
        n = 16;
    }
    return n;
}

// `count` elements of type T, spelled by `spell` and separated by single spaces.
template <typename T, typename Spell>
size_t spaced(const void* value, int count, char* out, Spell spell) {
    size_t n = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            out[n++] = ' ';
        }
        n += spell(load<T>(value, i), out + n);
    }
    return n;
}

size_t floats(const void* value, int count, char* out, size_t* clamped) {
    return spaced<float>(value, count, out, [clamped](double v, char* o) {
        return spellG(clampTo(v, kFloatMax, clamped), o);
    });
}

size_t doubles(const void* value, int count, char* out, size_t* clamped) {
    return spaced<double>(value, count, out, [clamped](double v, char* o) {
        return spellG(clampTo(v, kDoubleMax, clamped), o);
    });
}

size_t ints(const void* value, int count, char* out) {
    return spaced<int32_t>(value, count, out, [](long long v, char* o) { return spellInt(v, o); });
}

// Decimal digits of |v| < 1e6 with its sign; what to_chars writes, without its generality.
size_t spellSmallInt(int32_t v, char* out) {
    size_t n = 0;
    uint32_t u = static_cast<uint32_t>(v);
    if (v < 0) {
        out[n++] = '-';
        u = 0u - u;
    }
    char digits[8];
    size_t k = 0;
    do {
        digits[k++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    while (k > 0) {
        out[n++] = digits[--k];
    }
    return n;
}

#ifdef __SIZEOF_INT128__
// "%g" rounds to six significant digits: v = N * 10^(X - 5) with 100000 <= N < 10^6, printed in
// the style that X selects. For 1e-22 <= |v| < 1e6, N and the part cut off are exact in 128-bit
// integers: v = m * 2^e with a 53-bit m, and v * 10^k = m * 5^k * 2^(e + k) with k = 5 - X at
// most 27, so that 5^k fits 64 bits.
constexpr int kMinExponent = -22;

struct Tables {
    uint64_t pow5[28];
    double pow10[30];  // 10^(i + kMinExponent), nearest double; a first guess only
    char pairs[200];   // "00" to "99"
    constexpr Tables() : pow5(), pow10(), pairs() {
        uint64_t p = 1;
        for (int k = 0; k < 28; ++k) {
            pow5[k] = p;
            p *= 5;
        }
        for (int i = 0; i < 30; ++i) {
            // Exact integers up to 10^22, and quotients of exact powers below 1.
            const int x = i + kMinExponent;
            double v = 1.0;
            for (int j = 0; j < (x < 0 ? -x : x); ++j) {
                v *= 10.0;
            }
            pow10[i] = x < 0 ? 1.0 / v : v;
        }
        for (int i = 0; i < 100; ++i) {
            pairs[2 * i] = static_cast<char>('0' + i / 10);
            pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr Tables kTables;

// The "%g" text of a finite double with 1e-22 <= |v| < 1e6, or 0 outside that range.
size_t spellGExact(double value, char* out) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const int e = biased - 1075;
    // floor(log10(2^(e + 52))) is X or X - 1; the power of ten nearly always tells which, and
    // the exact N settles the rest.
    int x = ((e + 52) * 78913) >> 18;
    if (x < kMinExponent - 1 || x > 5) {
        return 0;  // also zero, subnormals, infinities and NaN
    }
    if (std::fabs(value) >= kTables.pow10[x + 1 - kMinExponent]) {
        ++x;
    }
    uint32_t n = 0;
    unsigned __int128 cut = 0;  // the part below N, left-aligned: 2^127 is exactly one half
    for (int attempt = 0;; ++attempt) {
        const int k = 5 - x;
        if (attempt == 2 || k < 0 || k > 27) {
            return 0;
        }
        const unsigned __int128 w = static_cast<unsigned __int128>(m) * kTables.pow5[k];
        const int shift = -(e + k);  // at least 33 in this range
        if (shift <= 0 || shift >= 128) {
            return 0;
        }
        const unsigned __int128 whole = w >> shift;
        if (whole >= 1000000) {
            ++x;
        } else if (whole < 100000) {
            --x;
        } else {
            n = static_cast<uint32_t>(whole);
            cut = w << (128 - shift);
            break;
        }
    }
    // Nearest, ties to even: what printf and to_chars do with the exact value.
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << 127;
    if (cut > half || (cut == half && (n & 1u) != 0)) {
        if (++n == 1000000) {
            n = 100000;
            ++x;
        }
    }
    // The six digits, then zeros: the copies below move a fixed 8 bytes and count only what
    // belongs to the text (`out` has room to spare).
    char d[16] = {};
    std::memcpy(d, kTables.pairs + 2 * (n / 10000), 2);
    std::memcpy(d + 2, kTables.pairs + 2 * (n / 100 % 100), 2);
    std::memcpy(d + 4, kTables.pairs + 2 * (n % 100), 2);
    int significant = 6;  // trailing zeros are dropped
    while (d[significant - 1] == '0') {
        --significant;  // stops at d[0], never '0'
    }
    char* at = out;
    if ((bits >> 63) != 0) {
        *at++ = '-';
    }
    if (x < -4 || x >= 6) {
        at[0] = d[0];
        at[1] = '.';
        std::memcpy(at + 2, d + 1, 8);
        at += significant > 1 ? significant + 1 : 1;
        at[0] = 'e';
        at[1] = x < 0 ? '-' : '+';
        std::memcpy(at + 2, kTables.pairs + 2 * (x < 0 ? -x : x), 2);  // |x| <= 23 here
        at += 4;
    } else if (x >= 0) {
        std::memcpy(at, d, 8);
        at += x + 1;
        if (significant > x + 1) {
            *at = '.';
            std::memcpy(at + 1, d + x + 1, 8);
            at += significant - x;
        }
    } else {
        std::memcpy(at, "0.0000", 6);
        at += 1 - x;  // "0." and -x - 1 zeros
        std::memcpy(at, d, 8);
        at += significant;
    }
    return static_cast<size_t>(at - out);
}
#else
size_t spellGExact(double, char*) {
    return 0;
}
#endif

}  // namespace

size_t spellG(double value, char* out) {
    // Whole numbers below a million in magnitude are their own digits in "%g" (six significant
    // digits); most matrix entries are 0, 1 or -1, and this skips the general rounding.
    if (value > -1e6 && value < 1e6) {
        const int32_t whole = static_cast<int32_t>(value);
        if (static_cast<double>(whole) == value) {
            if (whole == 0 && std::signbit(value)) {
                out[0] = '-';
                out[1] = '0';
                return 2;
            }
            return spellSmallInt(whole, out);
        }
    }
    if (const size_t n = spellGExact(value, out)) {
        return n;
    }
    auto r = std::to_chars(out, out + kMaxValueText, value, std::chars_format::general, 6);
    return static_cast<size_t>(r.ptr - out);
}

size_t spellFixed(double value, int precision, char* out) {
    auto r = std::to_chars(out, out + kMaxValueText, value, std::chars_format::fixed, precision);
    return static_cast<size_t>(r.ptr - out);
}

size_t spellInt(long long value, char* out) {
    auto r = std::to_chars(out, out + kMaxValueText, value);
    return static_cast<size_t>(r.ptr - out);
}

size_t spellValue(int type, const void* value, Context context, char* out, size_t* clamped) {
    const bool element = context == Context::arrayElement;
    switch (type) {
        case trvType::vec3f:
            return floats(value, 3, out, clamped);
        case trvType::vec4f:
        case trvType::float4:
            return floats(value, 4, out, clamped);
        case trvType::vec2f:
            return floats(value, 2, out, clamped);
        case trvType::float_:
            return spellG(finite(load<float>(value, 0), clamped), out);
        case trvType::double_: {
            double v = load<double>(value, 0);
            return spellDouble16(element ? finite(v, clamped) : clampTo(v, kDoubleMax, clamped),
                                 out);
        }
        case trvType::vec3d:
            return doubles(value, 3, out, clamped);
        case trvType::int_:
        case trvType::int_alt:
            return ints(value, 1, out);
        case trvType::int2:
            return ints(value, 2, out);
        case trvType::int3:
            return ints(value, 3, out);
        case trvType::int4:
            return ints(value, 4, out);
        case trvType::bool_: {
            bool on = load<int32_t>(value, 0) != 0;
            const char* text = element ? (on ? "1" : "0") : (on ? "on" : "off");
            size_t n = std::strlen(text);
            std::memcpy(out, text, n);
            return n;
        }
        case trvType::matrix: {
            size_t n = 0;
            for (int i = 0; i < 16; ++i) {
                double v = load<double>(value, i);
                if (element) {
                    // Matrices in arrays keep full precision, each followed by a blank.
                    n += spellG(clampTo(v, kDoubleMax, clamped), out + n);
                    out[n++] = ' ';
                } else {
                    if (i > 0) {
                        out[n++] = ' ';
                    }
                    n += spellG(static_cast<float>(clampTo(v, kFloatMax, clamped)), out + n);
                }
            }
            return n;
        }
        default:
            return 0;
    }
}

size_t spellArrayMatrix(const void* value, MatrixMemo& memo, char* out, size_t* clamped) {
    size_t n = 0;
    for (int i = 0; i < 16; ++i) {
        const uint64_t bits = load<uint64_t>(value, i);
        if (!memo.filled || memo.bits[i] != bits) {
            char text[kMaxValueText];
            size_t count = 0;
            const size_t length = spellG(clampTo(load<double>(value, i), kDoubleMax, &count), text);
            memo.clamped[i] = count != 0;
            memo.bits[i] = bits;
            memo.length[i] = static_cast<uint8_t>(std::min(length, MatrixMemo::kEntryText));
            std::memcpy(memo.text[i], text, memo.length[i]);
        }
        if (memo.clamped[i] && clamped != nullptr) {
            ++*clamped;
        }
        // A fixed-size copy (a text is at most 13 bytes); the next entry overwrites the rest.
        std::memcpy(out + n, memo.text[i], MatrixMemo::kEntryText);
        n += memo.length[i];
        out[n++] = ' ';
    }
    memo.filled = true;
    return n;
}

bool hasNumericText(int type) {
    switch (type) {
        case trvType::vec3f:
        case trvType::vec4f:
        case trvType::float_:
        case trvType::double_:
        case trvType::vec3d:
        case trvType::int_:
        case trvType::bool_:
        case trvType::matrix:
        case trvType::vec2f:
        case trvType::float4:
        case trvType::int2:
        case trvType::int3:
        case trvType::int4:
        case trvType::int_alt:
            return true;
        default:
            return false;
    }
}

size_t elementSize(int baseType) {
    switch (baseType) {
        case trvType::vec3f:
            return 3 * sizeof(float);
        case trvType::vec4f:
            return 4 * sizeof(float);
        case trvType::float_:
            return sizeof(float);
        case trvType::double_:
            return sizeof(double);
        case trvType::vec3d:
            return 3 * sizeof(double);
        case trvType::int_:
        case trvType::bool_:
        case trvType::int_alt:
            return sizeof(int32_t);
        case trvType::matrix:
            return 16 * sizeof(double);
        case trvType::string:
        case trvType::string_ref:
            return sizeof(const char*);
        default:
            return 0;
    }
}

bool needsHexForm(const char* name, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '\n' || c == '\r' || c == '"' || c >= 0x80) {
            return true;
        }
    }
    return false;
}

size_t hexDigits(const void* bytes, size_t length, char* out) {
    static const char digits[] = "0123456789abcdef";
    const unsigned char* in = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length; ++i) {
        out[2 * i] = digits[in[i] >> 4];
        out[2 * i + 1] = digits[in[i] & 0xF];
    }
    return 2 * length;
}

char packedKind(int baseType) {
    switch (baseType) {
        case trvType::vec3f:
            return 'c';
        case trvType::float_:
            return 'f';
        case trvType::double_:
            return 'r';
        case trvType::int_:
        case trvType::int_alt:
            return 'i';
        default:
            return 0;
    }
}

// The first word whose exponent bits are all set (an infinity or a NaN). Blocks are tested
// whole, without a branch per word, so that the test runs at memory speed over the large arrays
// that are nearly always finite; the word is found within the block that holds one.
template <typename W>
size_t firstWithExponentSet(const void* data, size_t words, W exponent) {
    constexpr size_t kBlock = 64;
    size_t i = 0;
    for (; i + kBlock <= words; i += kBlock) {
        W hit = 0;
        for (size_t k = 0; k < kBlock; ++k) {
            hit |= static_cast<W>((load<W>(data, i + k) & exponent) == exponent);
        }
        if (hit != 0) {
            break;
        }
    }
    for (; i < words; ++i) {
        if ((load<W>(data, i) & exponent) == exponent) {
            return i;
        }
    }
    return words;
}

size_t firstNonFinitePacked(char kind, const void* data, size_t words) {
    if (kind == 'r') {
        return firstWithExponentSet<uint64_t>(data, words, 0x7FF0000000000000ull);
    }
    if (kind == 'c' || kind == 'f') {
        return firstWithExponentSet<uint32_t>(data, words, 0x7F800000u);
    }
    return words;
}

size_t clampPacked(char kind, void* data, size_t words) {
    size_t clamped = 0;
    char* bytes = static_cast<char*>(data);
    for (size_t i = firstNonFinitePacked(kind, bytes, words); i < words; ++i) {
        if (firstNonFinitePacked(kind, bytes + i * (kind == 'r' ? 8 : 4), 1) != 0) {
            continue;  // finite
        }
        ++clamped;
        if (kind == 'r') {
            const double v = -1.0;  // as a double array element's text reads
            std::memcpy(bytes + i * 8, &v, 8);
        } else {
            const float f = load<float>(bytes, i);
            const float v = kind == 'f' ? -1.0f  // as a float array element's text reads
                                        : static_cast<float>(clampTo(f, kFloatMax, nullptr));
            std::memcpy(bytes + i * 4, &v, 4);
        }
    }
    return clamped;
}

void packedHeader(char kind, uint32_t count, unsigned char out[8]) {
    std::memcpy(out, kPackedMagic, sizeof kPackedMagic);
    out[3] = static_cast<unsigned char>(kind);
    for (int i = 0; i < 4; ++i) {
        out[4 + i] = static_cast<unsigned char>(count >> (8 * i));
    }
}

bool isPackedKind(char kind) {
    return kind == 'c' || kind == 'f' || kind == 'r' || kind == 'i';
}

uint32_t packedCount(const unsigned char countBytes[4]) {
    return static_cast<uint32_t>(countBytes[0]) | static_cast<uint32_t>(countBytes[1]) << 8 |
           static_cast<uint32_t>(countBytes[2]) << 16 | static_cast<uint32_t>(countBytes[3]) << 24;
}

uint64_t packedPayloadBytes(char kind, uint32_t count) {
    return static_cast<uint64_t>(count) * (kind == 'r' ? 8u : 4u);
}

}  // namespace trvFormat
