// Host values of the host layer: the millisecond fraction of a time in seconds, against the
// reduction by floating-point Euclid that it replaces.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "plugins/c4d/host/Values.h"

namespace {

using raydeck::host::HostTime;

// The reduction as it was: Euclid with fmod on the doubles.
HostTime byFmod(double s) {
    if (!(s == s)) {
        s = 0.0;
    }
    s = std::fmax(-1e15, std::fmin(1e15, s));
    const double n = std::floor(s * 1000.0 + 0.5), d = 1000.0;
    if (std::fabs(n) < 0.001) {
        return HostTime(0.0, 1.0);
    }
    double a = std::fabs(n), b = d;
    while (b != 0.0) {
        const double r = std::fmod(a, b);
        a = b;
        b = r;
    }
    return HostTime(n / a, d / a);
}

void expectSame(double s) {
    const HostTime got = HostTime::fromSeconds(s), want = byFmod(s);
    EXPECT_EQ(got.num, want.num) << s;
    EXPECT_EQ(got.den, want.den) << s;
}

TEST(HostTimeFromSeconds, MatchesFloatingPointEuclidEverywhere) {
    for (int ms = -100000; ms <= 100000; ++ms) {
        expectSame(ms / 1000.0);
        expectSame(ms / 1000.0 + 0.0004);
    }
    for (double s : {0.0, -0.0, 1e-4, -1e-4, 0.0005, -0.0005, 1e15, -1e15, 2e15, -3e17,
                     9.007199254740993e12, 123456789.123, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        expectSame(s);
    }
    std::mt19937_64 random(15);
    std::uniform_real_distribution<double> exponent(-4.0, 16.0);
    for (int i = 0; i < 200000; ++i) {
        const double s = std::pow(10.0, exponent(random));
        expectSame(s);
        expectSame(-s);
    }
    // Lowest terms: 0.25 s is 1/4, 1.5 s is 3/2, 0.001 s is 1/1000.
    EXPECT_EQ(HostTime::fromSeconds(0.25).num, 1.0);
    EXPECT_EQ(HostTime::fromSeconds(0.25).den, 4.0);
    EXPECT_EQ(HostTime::fromSeconds(1.5).num, 3.0);
    EXPECT_EQ(HostTime::fromSeconds(1.5).den, 2.0);
    EXPECT_EQ(HostTime::fromSeconds(0.001).den, 1000.0);
}

}  // namespace
