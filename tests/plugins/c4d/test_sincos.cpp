// Sine and cosine shared by the plug-in and the simulator: exact at whole quarter turns, the C
// library's values elsewhere (zero and values near a quarter turn included).
#include <gtest/gtest.h>

#include <cmath>

#include "plugins/c4d/convert/sincos.h"

namespace {

void expectSinCos(double t, double sExpected, double cExpected) {
    double s = 9, c = 9;
    raydeck::c4d::sinCos(t, s, c);
    EXPECT_EQ(s, sExpected) << "sin of " << t;
    EXPECT_EQ(c, cExpected) << "cos of " << t;
}

}  // namespace

// cos(pi/2) was the C library's 6.12323e-17 on Linux and 6.12303e-17 on Windows, so the two
// builds wrote different transforms for an object turned by 90 degrees.
TEST(SinCos, WholeQuarterTurnsAreExactSoBothBuildsWriteTheSameDigits) {
    const double q = 1.5707963267948966;  // 90 degrees as documents write it
    expectSinCos(q, 1, 0);
    expectSinCos(2 * q, 0, -1);
    expectSinCos(3 * q, -1, 0);
    expectSinCos(4 * q, 0, 1);
    expectSinCos(-q, -1, 0);
    expectSinCos(90 * (3.14159265358979323846 / 180), 1, 0);
    expectSinCos(6.283185307179586 * 15 / 60, 1, 0);  // an animation sample
    expectSinCos(101 * q, 1, 0);
}

TEST(SinCos, OtherAnglesAreTheLibrarysAndZeroKeepsItsSign) {
    for (double t : {0.0, -0.0, 0.3, -2.9, 1.5707963, 1.5707963267949, 1e-300, 100.0}) {
        expectSinCos(t, std::sin(t), std::cos(t));
    }
    double s = 1, c = 0;
    raydeck::c4d::sinCos(-0.0, s, c);
    EXPECT_TRUE(std::signbit(s));
}
