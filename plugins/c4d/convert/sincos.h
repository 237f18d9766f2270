// Sine and cosine with exact values at whole quarter turns (other than zero). There the C
// libraries disagree in the last digits they make of a number that should be 0 (cos(pi/2) is
// 6.12323e-17 with glibc, 6.12303e-17 with mingw-w64) and the scene text shows those digits;
// exact zeros and ones make the Linux and the Windows build write the same bytes. Shared by the
// plug-in's animation and the host simulator's placement.
#pragma once

#include <cfloat>
#include <cmath>

namespace raydeck::c4d {

inline void sinCos(double t, double& s, double& c) {
    constexpr double kQuarterTurn = 1.57079632679489661923;
    const double quarter = t / kQuarterTurn;
    const double k = std::nearbyint(quarter);
    if (k != 0 && std::fabs(quarter - k) <= 4 * DBL_EPSILON * std::fabs(k)) {
        static const double kSin[4] = {0, 1, 0, -1};
        const int i = static_cast<int>(std::fmod(k, 4.0) + 4) % 4;
        s = kSin[i];
        c = kSin[(i + 1) % 4];
        return;
    }
    s = std::sin(t);
    c = std::cos(t);
}

}  // namespace raydeck::c4d
