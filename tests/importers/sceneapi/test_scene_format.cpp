// The "%g" spelling of numbers (the writer's short paths for whole numbers and for values whose
// six digits are exact in integers) against the general conversion it replaces and against
// printf, byte for byte, through the double and the float paths.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "trvSceneFormat.h"
#include "trvScene_api.h"

namespace {

#ifdef RAYDECK_SANITIZED
constexpr int kRandomCount = 200000;
#else
constexpr int kRandomCount = 2000000;
#endif

std::string spelled(double v) {
    char text[trvFormat::kMaxValueText];
    return std::string(text, trvFormat::spellG(v, text));
}

// The general conversion the writer used for every value before the short paths.
std::string reference(double v) {
    char text[trvFormat::kMaxValueText];
    auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 6);
    return std::string(text, r.ptr);
}

std::string printed(double v) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%g", v);
    return std::string(text, static_cast<size_t>(n));
}

double fromBits(uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Counts mismatches instead of failing per value, so that a fault shows its first cases only.
struct Mismatches {
    int count = 0;
    void check(double v) {
        const std::string got = spelled(v), want = reference(v);
        if (got != want && ++count <= 10) {
            ADD_FAILURE() << "value bits " << std::hex << bitsOf(v) << ": got " << got << ", want "
                          << want;
        }
    }
    void checkFloat(float f) { check(static_cast<double>(f)); }
    static uint64_t bitsOf(double v) {
        uint64_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    }
};

TEST(SceneFormatG, EdgeValuesMatchPrintfAndTheGeneralConversion) {
    const double inf = std::numeric_limits<double>::infinity();
    const double values[] = {0.0,
                             -0.0,
                             1.0,
                             -1.0,
                             0.5,
                             999999.0,
                             -999999.0,
                             999999.4,
                             999999.5,
                             999999.6,
                             1e6,
                             -1e6,
                             1e6 + 1,
                             123456.5,  // exact ties: to even
                             123457.5,
                             -100000.5,
                             12345.25,
                             12345.75,
                             0.0001,
                             0.00009999995,
                             0.000099999949,
                             1e-5,
                             1e-22,
                             9.999999e-23,
                             1e-23,
                             1.38777878078144568e-17,
                             -4.16333634234433703e-17,
                             9007199254740992.0,  // 2^53
                             9007199254740993.0,
                             -9007199254740992.0,
                             9223372036854775808.0,  // 2^63
                             4294967296.0,
                             2147483648.0,
                             -2147483649.0,
                             123456789012.0,
                             1e15,
                             1e300,
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(),
                             -std::numeric_limits<double>::denorm_min(),
                             static_cast<double>(std::numeric_limits<float>::max()),
                             static_cast<double>(std::numeric_limits<float>::min()),
                             static_cast<double>(std::numeric_limits<float>::denorm_min()),
                             inf,
                             -inf,
                             std::nan(""),
                             -std::nan("")};
    for (double v : values) {
        EXPECT_EQ(spelled(v), reference(v)) << v;
        EXPECT_EQ(spelled(v), printed(v)) << v;
        const float f = static_cast<float>(v);
        EXPECT_EQ(spelled(f), reference(f)) << f;
    }
    EXPECT_EQ(spelled(-0.0), "-0");
    EXPECT_EQ(spelled(0.0), "0");
    EXPECT_EQ(spelled(999999.0), "999999");
    EXPECT_EQ(spelled(1e6), "1e+06");
    EXPECT_EQ(spelled(999999.5), "1e+06");
    EXPECT_EQ(spelled(123456.5), "123456");
    EXPECT_EQ(spelled(123457.5), "123458");
}

// Every whole number up to past a million in magnitude, and its nearest neighbours above and
// below, as doubles and as floats.
TEST(SceneFormatG, WholeNumbersAndTheirNeighbours) {
    Mismatches m;
    const int limit = 1000003;
    for (int i = -limit; i <= limit; ++i) {
        const double v = i;
        m.check(v);
        m.check(std::nextafter(v, -HUGE_VAL));
        m.check(std::nextafter(v, HUGE_VAL));
        const float f = static_cast<float>(i);
        m.checkFloat(f);
        m.checkFloat(std::nextafterf(f, -HUGE_VALF));
        m.checkFloat(std::nextafterf(f, HUGE_VALF));
    }
    EXPECT_EQ(m.count, 0);
}

// Exact halfway cases of the sixth digit at several scales (v * 10^k = N + 1/2 exactly), where
// rounding must go to the even digit, and their neighbours.
TEST(SceneFormatG, ExactTiesRoundToEven) {
    Mismatches m;
    int ties = 0;
    for (int k = 0; k <= 3; ++k) {
        const uint64_t p5 = k == 0 ? 1 : k == 1 ? 5 : k == 2 ? 25 : 125;
        for (uint64_t n = 100000; n < 1000000; ++n) {
            if ((2 * n + 1) % p5 != 0) {
                continue;
            }
            // (2n + 1) / (2 * 10^k) = ((2n + 1) / 5^k) / 2^(k + 1): exact in binary.
            const double v = std::ldexp(static_cast<double>((2 * n + 1) / p5), -(k + 1));
            m.check(v);
            m.check(-v);
            m.check(std::nextafter(v, 0.0));
            m.check(std::nextafter(v, HUGE_VAL));
            ++ties;
        }
    }
    EXPECT_GT(ties, 1000000);
    EXPECT_EQ(m.count, 0);
}

// Random doubles over every exponent, over the exponents of the exact path, and random floats.
TEST(SceneFormatG, RandomDoublesAndFloats) {
    Mismatches m;
    std::mt19937_64 random(20261208);
    for (int i = 0; i < kRandomCount; ++i) {
        const uint64_t bits = random();
        m.check(fromBits(bits));
        // Binary exponents -80 to 25: from below 1e-22 to above 1e6.
        const uint64_t exponent = 1023 - 80 + (bits >> 58) % 106;
        m.check(fromBits((bits & 0x800FFFFFFFFFFFFFull) | (exponent << 52)));
        float f;
        const uint32_t fbits = static_cast<uint32_t>(bits >> 32);
        std::memcpy(&f, &fbits, sizeof f);
        m.checkFloat(f);
    }
    EXPECT_EQ(m.count, 0);
}

// Matrices in text-form arrays: the memo of the previous matrix changes no text, also where
// entries differ only in sign bits or NaN payloads.
TEST(SceneFormatMatrix, RepeatedEntriesSpellLikeSpellValue) {
    std::vector<std::vector<double>> rows = {
        {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.25, 2, -3, 1},
        {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5, 2, -3, 1},
        {1, -0.0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5, 2, -3, 1},
        {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5, 2, -3, 1},
        {std::nan(""), -std::nan(""), 1e-17, -1.38777878078144568e-17, 1e30, 0, 0, 0, 0, 0, 0, 0, 0,
         0, 0, 0},
        {-std::nan(""), std::nan(""), 1e-17, -1.38777878078144568e-17, 1e30, 0, 0, 0, 0, 0, 0, 0, 0,
         0, 0, 0},
    };
    trvFormat::MatrixMemo memo;
    for (const auto& row : rows) {
        char want[trvFormat::kMaxValueText], got[trvFormat::kMaxValueText];
        const size_t nw = trvFormat::spellValue(trvType::matrix, row.data(),
                                                trvFormat::Context::arrayElement, want);
        const size_t ng = trvFormat::spellArrayMatrix(row.data(), memo, got);
        EXPECT_EQ(std::string(got, ng), std::string(want, nw));
    }
}

}  // namespace

// The reading half undoes the writing half: every packed kind and count the writer can put in a
// header reads back, with the payload the reader must skip; every byte survives hex.
TEST(SceneFormatReading, PackedHeaderAndHexRoundTrip) {
    const int types[] = {trvType::vec3f, trvType::float_, trvType::double_, trvType::int_};
    const uint32_t counts[] = {0u, 1u, 0x01020304u, 0xFFFFFFFFu};
    for (int type : types) {
        const char kind = trvFormat::packedKind(type);
        ASSERT_TRUE(trvFormat::isPackedKind(kind)) << type;
        for (uint32_t count : counts) {
            unsigned char header[8];
            trvFormat::packedHeader(kind, count, header);
            EXPECT_EQ(std::memcmp(header, trvFormat::kPackedMagic, 3), 0);
            EXPECT_EQ(static_cast<char>(header[3]), kind);
            EXPECT_EQ(trvFormat::packedCount(header + 4), count);
            EXPECT_EQ(trvFormat::packedPayloadBytes(kind, count),
                      static_cast<uint64_t>(count) * (type == trvType::double_ ? 8 : 4));
        }
    }
    EXPECT_FALSE(trvFormat::isPackedKind(0));
    EXPECT_FALSE(trvFormat::isPackedKind('C'));

    for (int b = 0; b < 256; ++b) {
        const unsigned char byte = static_cast<unsigned char>(b);
        char text[2];
        trvFormat::hexDigits(&byte, 1, text);
        EXPECT_EQ(trvFormat::hexDigitValue(text[0]) * 16 + trvFormat::hexDigitValue(text[1]), b);
    }
    EXPECT_EQ(trvFormat::hexDigitValue('F'), 15);
    for (char c : {'g', 'G', '/', ':', '@', '`', ' '}) {
        EXPECT_EQ(trvFormat::hexDigitValue(c), -1) << c;
    }
}

namespace {

// The block-wise search must find the first infinity or NaN wherever it stands, a block's edges
// included, and nothing in a finite array (the largest finite values and signed zeros among it).
TEST(SceneFormatPacked, FirstNonFiniteFoundAtEveryPlace) {
    constexpr size_t kWords = 200;
    const float fInf = std::numeric_limits<float>::infinity();
    const double dNan = std::numeric_limits<double>::quiet_NaN();
    std::vector<float> floats(kWords, std::numeric_limits<float>::max());
    std::vector<double> doubles(kWords, -std::numeric_limits<double>::max());
    floats[7] = -0.0f;
    doubles[9] = -0.0;
    EXPECT_EQ(trvFormat::firstNonFinitePacked('f', floats.data(), kWords), kWords);
    EXPECT_EQ(trvFormat::firstNonFinitePacked('c', floats.data(), kWords), kWords);
    EXPECT_EQ(trvFormat::firstNonFinitePacked('r', doubles.data(), kWords), kWords);
    for (size_t at : {size_t{0}, size_t{63}, size_t{64}, size_t{65}, size_t{127}, size_t{128},
                      size_t{191}, size_t{192}, kWords - 1}) {
        std::vector<float> f = floats;
        std::vector<double> d = doubles;
        f[at] = at % 2 ? -fInf : std::nanf("");
        d[at] = at % 2 ? dNan : -std::numeric_limits<double>::infinity();
        if (at + 3 < kWords) {  // a later one does not hide the first
            f[at + 3] = fInf;
            d[at + 3] = dNan;
        }
        EXPECT_EQ(trvFormat::firstNonFinitePacked('f', f.data(), kWords), at);
        EXPECT_EQ(trvFormat::firstNonFinitePacked('r', d.data(), kWords), at);
        EXPECT_EQ(trvFormat::firstNonFinitePacked('f', f.data(), at), at);  // not in the range
    }
    EXPECT_EQ(trvFormat::firstNonFinitePacked('i', floats.data(), kWords), kWords);
}

}  // namespace
