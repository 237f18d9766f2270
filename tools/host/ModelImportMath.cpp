// The model import's placement math: Assimp's right-handed matrices and quaternions in the
// host's left-handed coordinates, split into position, rotation angles and scale.
#include <algorithm>
#include <cmath>

#include "plugins/c4d/host/RotationOrder.h"
#include "tools/host/ModelImport.h"
#include "tools/host/ModelImporter.h"

namespace raydeck::hostsim {

namespace modelimport {

namespace {

void setComponent(RdHostVector& v, int c, double value) {
    (c == 0 ? v.x : c == 1 ? v.y : v.z) = value;
}

// The angle equivalent to `a` (modulo a full turn) nearest to `near`.
double nearestTurn(double a, double near) {
    return a + 2.0 * kPi * std::round((near - a) / (2.0 * kPi));
}

}  // namespace

double component(const RdHostVector& v, int c) {
    return c == 0 ? v.x : c == 1 ? v.y : v.z;
}

Affine fromAssimp(const aiMatrix4x4& a) {
    Affine out;
    const ai_real* rows[3] = {a[0], a[1], a[2]};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out.m[i][j] = (i == 2) != (j == 2) ? -rows[i][j] : rows[i][j];
        }
        out.t[i] = i == 2 ? -rows[i][3] : rows[i][3];
    }
    return out;
}

Affine multiply(const Affine& a, const Affine& b) {
    Affine r;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
        }
        r.t[i] = a.m[i][0] * b.t[0] + a.m[i][1] * b.t[1] + a.m[i][2] * b.t[2] + a.t[i];
    }
    return r;
}

RdHostMatrix toHost(const Affine& a) {
    return RdHostMatrix{{a.t[0], a.t[1], a.t[2]},
                        {a.m[0][0], a.m[1][0], a.m[2][0]},
                        {a.m[0][1], a.m[1][1], a.m[2][1]},
                        {a.m[0][2], a.m[1][2], a.m[2][2]}};
}

void quaternionMatrix(const aiQuaternion& q, double r[3][3]) {
    double w = q.w, x = q.x, y = q.y, z = q.z;
    const double n = std::sqrt(w * w + x * x + y * y + z * z);
    if (n > 0.0) {
        w /= n, x /= n, y /= n, z /= n;
    } else {
        w = 1.0;
    }
    r[0][0] = 1 - 2 * (y * y + z * z), r[0][1] = 2 * (x * y - z * w), r[0][2] = 2 * (x * z + y * w);
    r[1][0] = 2 * (x * y + z * w), r[1][1] = 1 - 2 * (x * x + z * z), r[1][2] = 2 * (y * z - x * w);
    r[2][0] = 2 * (x * z - y * w), r[2][1] = 2 * (y * z + x * w), r[2][2] = 1 - 2 * (x * x + y * y);
    // In host coordinates, as fromAssimp does for matrices.
    r[0][2] = -r[0][2], r[1][2] = -r[1][2], r[2][0] = -r[2][0], r[2][1] = -r[2][1];
}

bool decompose(const Affine& a, RdHostVector& position, RdHostVector& rotation,
               RdHostVector& scale) {
    position = RdHostVector{a.t[0], a.t[1], a.t[2]};
    double s[3];
    for (int j = 0; j < 3; ++j) {
        s[j] = std::sqrt(a.m[0][j] * a.m[0][j] + a.m[1][j] * a.m[1][j] + a.m[2][j] * a.m[2][j]);
    }
    const double det = a.m[0][0] * (a.m[1][1] * a.m[2][2] - a.m[1][2] * a.m[2][1]) -
                       a.m[0][1] * (a.m[1][0] * a.m[2][2] - a.m[1][2] * a.m[2][0]) +
                       a.m[0][2] * (a.m[1][0] * a.m[2][1] - a.m[1][1] * a.m[2][0]);
    if (det < 0) {
        for (double& v : s) {
            v = -v;
        }
    }
    scale = RdHostVector{s[0], s[1], s[2]};
    if (s[0] == 0.0 || s[1] == 0.0 || s[2] == 0.0) {
        rotation = RdHostVector{0, 0, 0};
        return false;
    }
    double r[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r[i][j] = a.m[i][j] / s[j];
        }
    }
    rotation = anglesForRotation(r, 0);
    // The parts must rebuild the matrix; otherwise it held a shear.
    const RdHostMatrix back = composeMatrix(position, rotation, scale, 0);
    const RdHostMatrix want = toHost(a);
    const RdHostVector* pb[3] = {&back.v1, &back.v2, &back.v3};
    const RdHostVector* pw[3] = {&want.v1, &want.v2, &want.v3};
    const double tolerance = 1e-5 * std::max({std::fabs(s[0]), std::fabs(s[1]), std::fabs(s[2])});
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(pb[k]->x - pw[k]->x) > tolerance ||
            std::fabs(pb[k]->y - pw[k]->y) > tolerance ||
            std::fabs(pb[k]->z - pw[k]->z) > tolerance) {
            return false;
        }
    }
    return true;
}

Affine frame(const aiVector3D& position, const aiVector3D& direction, const aiVector3D& up) {
    Affine f;
    f.t[0] = position.x, f.t[1] = position.y, f.t[2] = position.z;
    double z[3] = {direction.x, direction.y, direction.z};
    double y[3] = {up.x, up.y, up.z};
    auto normalize = [](double v[3]) {
        const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        if (n <= 0.0) {
            return false;
        }
        v[0] /= n, v[1] /= n, v[2] /= n;
        return true;
    };
    if (!normalize(z)) {
        return f;
    }
    const double d = y[0] * z[0] + y[1] * z[1] + y[2] * z[2];
    for (int i = 0; i < 3; ++i) {
        y[i] -= d * z[i];
    }
    if (!normalize(y)) {
        // Up along the view: any perpendicular will do.
        const double alt[3] = {std::fabs(z[0]) < 0.9 ? 1.0 : 0.0, std::fabs(z[0]) < 0.9 ? 0.0 : 1.0,
                               0.0};
        y[0] = z[1] * alt[2] - z[2] * alt[1];
        y[1] = z[2] * alt[0] - z[0] * alt[2];
        y[2] = z[0] * alt[1] - z[1] * alt[0];
        normalize(y);
    }
    const double x[3] = {y[1] * z[2] - y[2] * z[1], y[2] * z[0] - y[0] * z[2],
                         y[0] * z[1] - y[1] * z[0]};
    for (int i = 0; i < 3; ++i) {
        f.m[i][0] = x[i], f.m[i][1] = y[i], f.m[i][2] = z[i];
    }
    return f;
}

bool isIdentity(const Affine& a) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            if (std::fabs(a.m[i][j] - (i == j ? 1.0 : 0.0)) > 1e-9) {
                return false;
            }
        }
        if (a.t[i] != 0.0) {
            return false;
        }
    }
    return true;
}

}  // namespace modelimport

using modelimport::component;
using modelimport::kPi;
using modelimport::nearestTurn;
using modelimport::setComponent;

RdHostVector anglesForRotation(const double r[3][3], int32_t order, const RdHostVector* previous) {
    const host::RotationFactor* f = host::rotationOrderFactors(order);
    const int i = f[0].axis, j = f[1].axis, k = f[2].axis;
    const double s = j == (i + 1) % 3 ? 1.0 : -1.0;  // even or odd axis sequence
    // r = A_i(alpha) A_j(beta) A_k(gamma).
    const double sb = std::clamp(s * r[i][k], -1.0, 1.0);
    double alpha, beta = std::asin(sb), gamma;
    if (std::fabs(sb) < 1.0 - 1e-12) {
        alpha = std::atan2(-s * r[j][k], r[k][k]);
        gamma = std::atan2(-s * r[i][j], r[i][i]);
    } else {
        // Gimbal lock: alpha and gamma turn about one axis; put it all into alpha.
        gamma = 0.0;
        alpha = std::atan2(s * r[k][j], r[j][j]);
    }
    auto toAngles = [&](double a0, double a1, double a2) {
        RdHostVector out{0, 0, 0};
        setComponent(out, f[0].component, -a0);
        setComponent(out, f[1].component, -a1);
        setComponent(out, f[2].component, -a2);
        return out;
    };
    RdHostVector best = toAngles(alpha, beta, gamma);
    if (previous == nullptr) {
        return best;
    }
    // The same rotation: (alpha + pi, pi - beta, gamma + pi); each angle modulo a full turn.
    const RdHostVector other = toAngles(alpha + kPi, kPi - beta, gamma + kPi);
    auto nearest = [&](RdHostVector v, double& distance) {
        distance = 0.0;
        for (int c = 0; c < 3; ++c) {
            const double a = nearestTurn(component(v, c), component(*previous, c));
            setComponent(v, c, a);
            distance += std::fabs(a - component(*previous, c));
        }
        return v;
    };
    double d1 = 0.0, d2 = 0.0;
    best = nearest(best, d1);
    const RdHostVector alt = nearest(other, d2);
    return d2 < d1 ? alt : best;
}

}  // namespace raydeck::hostsim
