// Plain host values: vectors, affine matrices, host times, and read-only arrays handed out by the
// host.
#ifndef RAYDECK_PLUGINS_C4D_HOST_VALUES_H
#define RAYDECK_PLUGINS_C4D_HOST_VALUES_H

#include <cmath>
#include <cstdint>

#include "plugins/c4d/host/HostInterface.h"

namespace raydeck::host {

struct Vector {
    double x = 0.0, y = 0.0, z = 0.0;
    Vector() = default;
    Vector(double ax, double ay, double az) : x(ax), y(ay), z(az) {}
    explicit Vector(const RdHostVector& v) : x(v.x), y(v.y), z(v.z) {}
    RdHostVector raw() const { return RdHostVector{x, y, z}; }
};

// Affine placement: a point p maps to off + p.x * v1 + p.y * v2 + p.z * v3. Identity by default.
struct Matrix {
    Vector off{0, 0, 0}, v1{1, 0, 0}, v2{0, 1, 0}, v3{0, 0, 1};
    Matrix() = default;
    explicit Matrix(const RdHostMatrix& m) : off(m.off), v1(m.v1), v2(m.v2), v3(m.v3) {}
    RdHostMatrix raw() const { return RdHostMatrix{off.raw(), v1.raw(), v2.raw(), v3.raw()}; }
};

// gcd(k, 1000) for k in 0..999 (gcd(0, 1000) = 1000).
struct GcdWith1000 {
    int16_t value[1000];
    constexpr GcdWith1000() : value() {
        for (int k = 0; k < 1000; ++k) {
            int a = 1000, b = k;
            while (b != 0) {
                const int r = a % b;
                a = b;
                b = r;
            }
            value[k] = static_cast<int16_t>(a);
        }
    }
    constexpr int32_t operator[](int64_t k) const { return value[k]; }
};
inline constexpr GcdWith1000 kGcdWith1000{};

// A host time: the fraction num / den seconds.
struct HostTime {
    double num = 0.0, den = 1.0;
    HostTime() = default;
    HostTime(double n, double d) : num(n), den(d) {}
    explicit HostTime(const RdHostTime& t) : num(t.num), den(t.den) {}
    RdHostTime raw() const { return RdHostTime{num, den}; }
    // The quotient; 0 when the denominator is 0.
    double seconds() const { return den == 0.0 ? 0.0 : num / den; }
    // Seconds rounded to the nearest millisecond, as a fraction in lowest terms (clamped to
    // +-1e15 s; magnitudes below a millisecond give 0/1).
    static HostTime fromSeconds(double s) {
        if (!(s == s)) {
            s = 0.0;
        }
        if (s > 1e15) {
            s = 1e15;
        } else if (s < -1e15) {
            s = -1e15;
        }
        double n = std::floor(s * 1000.0 + 0.5);
        double d = 1000.0;
        if (std::fabs(n) < 0.001) {
            return HostTime(0.0, 1.0);
        }
        // gcd(|n|, 1000) = gcd(|n| mod 1000, 1000), looked up: |n| <= 1e18 < 2^63 is exact as
        // a double and here. Animation sampling asks this for every sample.
        const int32_t a = kGcdWith1000[static_cast<int64_t>(std::fabs(n)) % 1000];
        return HostTime(n / a, d / a);
    }
};

// A borrowed read-only array; at() refuses indices out of range.
template <typename T>
struct ConstArray {
    const T* data = nullptr;
    int32_t count = 0;
    bool empty() const { return data == nullptr || count <= 0; }
    int32_t size() const { return data ? count : 0; }
    const T* begin() const { return data; }
    const T* end() const { return data ? data + count : data; }
    bool at(int32_t i, T& out) const {
        if (data == nullptr || i < 0 || i >= count) {
            return false;
        }
        out = data[i];
        return true;
    }
};

}  // namespace raydeck::host

#endif
