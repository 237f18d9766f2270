// trvSceneFormat: value spelling, hex form and packed block header of the scene text.
#include "trvSceneFormat.h"

#include <charconv>
#include <cstring>

#include "trvScene_api.h"

namespace trvFormat {
namespace {

constexpr double kFloatMax = 3.4028234663852886e38;

template <typename T>
T load(const void* base, size_t index) {
    T v;
    std::memcpy(&v, static_cast<const char*>(base) + index * sizeof(T), sizeof(T));
    return v;
}

// NaN and values outside the open float range are written as -1 so that a reader never
// meets inf/nan texts in float data.
double finite(double v) {
    return (v > -kFloatMax && v < kFloatMax) ? v : -1.0;
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

size_t floats(const void* value, int count, char* out) {
    size_t n = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            out[n++] = ' ';
        }
        n += spellG(load<float>(value, i), out + n);
    }
    return n;
}

size_t doubles(const void* value, int count, char* out) {
    size_t n = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            out[n++] = ' ';
        }
        n += spellG(load<double>(value, i), out + n);
    }
    return n;
}

size_t ints(const void* value, int count, char* out) {
    size_t n = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            out[n++] = ' ';
        }
        n += spellInt(load<int32_t>(value, i), out + n);
    }
    return n;
}

}  // namespace

size_t spellG(double value, char* out) {
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

size_t spellValue(int type, const void* value, Context context, char* out) {
    const bool element = context == Context::arrayElement;
    switch (type) {
        case trvType::vec3f:
            return floats(value, 3, out);
        case trvType::vec4f:
        case trvType::float4:
            return floats(value, 4, out);
        case trvType::vec2f:
            return floats(value, 2, out);
        case trvType::float_:
            return spellG(finite(load<float>(value, 0)), out);
        case trvType::double_: {
            double v = load<double>(value, 0);
            return spellDouble16(element ? finite(v) : v, out);
        }
        case trvType::vec3d:
            return doubles(value, 3, out);
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
                    n += spellG(v, out + n);
                    out[n++] = ' ';
                } else {
                    if (i > 0) {
                        out[n++] = ' ';
                    }
                    n += spellG(static_cast<float>(v), out + n);
                }
            }
            return n;
        }
        default:
            return 0;
    }
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

void packedHeader(char kind, uint32_t count, unsigned char out[8]) {
    out[0] = 0x01;
    out[1] = 0x02;
    out[2] = 0x03;
    out[3] = static_cast<unsigned char>(kind);
    for (int i = 0; i < 4; ++i) {
        out[4 + i] = static_cast<unsigned char>(count >> (8 * i));
    }
}

}  // namespace trvFormat
