// Placement maths on host matrices, the saturating truncation and the array attribute.
#include "plugins/c4d/convert/SceneValues.h"

#include <cmath>
#include <limits>

#include "plugins/c4d/convert/sincos.h"
#include "plugins/c4d/host/RotationOrder.h"

namespace raydeck::c4d {

namespace {

// Relative size below which a determinant counts as zero: a few hundred units of rounding.
constexpr double kNegligibleDeterminant = 1e-13;

// Rotation by t about one axis (0 x, 1 y, 2 z), axes as the columns of the 3x3 part.
host::Matrix axisRotation(int axis, double t) {
    double c, s;
    raydeck::c4d::sinCos(t, s, c);
    host::Matrix m;
    switch (axis) {
        case 0:
            m.v2 = host::Vector(0, c, s);
            m.v3 = host::Vector(0, -s, c);
            break;
        case 1:
            m.v1 = host::Vector(c, 0, -s);
            m.v3 = host::Vector(s, 0, c);
            break;
        default:
            m.v1 = host::Vector(c, s, 0);
            m.v2 = host::Vector(-s, c, 0);
            break;
    }
    return m;
}

}  // namespace

host::Matrix affineInverse(const host::Matrix& m) {
    host::Matrix inv;
    invertAffine(m, inv);
    return inv;
}

bool isFinite(const host::Matrix& m) {
    for (const host::Vector* v : {&m.off, &m.v1, &m.v2, &m.v3}) {
        if (!std::isfinite(v->x) || !std::isfinite(v->y) || !std::isfinite(v->z)) {
            return false;
        }
    }
    return true;
}

bool fitsScene(const host::Matrix& m) {
    const double limit = std::numeric_limits<float>::max();
    for (const host::Vector* v : {&m.off, &m.v1, &m.v2, &m.v3}) {
        if (!(std::fabs(v->x) <= limit && std::fabs(v->y) <= limit && std::fabs(v->z) <= limit)) {
            return false;
        }
    }
    return true;
}

bool invertAffine(const host::Matrix& m, host::Matrix& inverse) {
    inverse = host::Matrix();
    const host::Vector &a = m.v1, &b = m.v2, &c = m.v3;
    // Rows of the inverse are the cross products of the columns divided by the determinant.
    const host::Vector bc(b.y * c.z - b.z * c.y, b.z * c.x - b.x * c.z, b.x * c.y - b.y * c.x);
    const host::Vector ca(c.y * a.z - c.z * a.y, c.z * a.x - c.x * a.z, c.x * a.y - c.y * a.x);
    const host::Vector ab(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
    const double det = a.x * bc.x + a.y * bc.y + a.z * bc.z;
    if (det == 0.0 || !std::isfinite(det)) {
        return false;
    }
    // A determinant this small next to the volume the axes could span is what rounding leaves
    // of a flat placement; dividing by it would write numbers that only rounding made.
    const double volume =
        std::hypot(a.x, a.y, a.z) * std::hypot(b.x, b.y, b.z) * std::hypot(c.x, c.y, c.z);
    if (std::fabs(det) <= kNegligibleDeterminant * volume) {
        return false;
    }
    host::Matrix inv;
    inv.v1 = host::Vector(bc.x / det, ca.x / det, ab.x / det);
    inv.v2 = host::Vector(bc.y / det, ca.y / det, ab.y / det);
    inv.v3 = host::Vector(bc.z / det, ca.z / det, ab.z / det);
    const host::Vector o = linearApply(inv, m.off);
    inv.off = host::Vector(-o.x, -o.y, -o.z);
    if (!isFinite(inv)) {
        return false;
    }
    inverse = inv;
    return true;
}

host::Matrix translationMatrix(const host::Vector& v) {
    host::Matrix m;
    m.off = v;
    return m;
}

host::Matrix scaleMatrix(const host::Vector& v) {
    host::Matrix m;
    m.v1 = host::Vector(v.x, 0, 0);
    m.v2 = host::Vector(0, v.y, 0);
    m.v3 = host::Vector(0, 0, v.z);
    return m;
}

host::Matrix rotationMatrix(const host::Vector& a, int order) {
    const host::RotationFactor* f = host::rotationOrderFactors(order);
    const double angles[3] = {a.x, a.y, a.z};
    const host::Matrix m0 = axisRotation(f[0].axis, -angles[f[0].component]),
                       m1 = axisRotation(f[1].axis, -angles[f[1].component]),
                       m2 = axisRotation(f[2].axis, -angles[f[2].component]);
    return affineChain({&m0, &m1, &m2});
}

trv::matrix sceneMatrix(const host::Matrix& m) {
    return trv::matrix{{m.v1.x, m.v1.y, m.v1.z, 0.0, m.v2.x, m.v2.y, m.v2.z, 0.0, m.v3.x, m.v3.y,
                        m.v3.z, 0.0, m.off.x, m.off.y, m.off.z, 1.0}};
}

host::Matrix affineChain(std::initializer_list<const host::Matrix*> factors) {
    // From the identity: the product with it turns a factor's -0 entries into +0, as the written
    // bytes have always had them.
    host::Matrix out;
    for (const host::Matrix* f : factors) {
        out = affineProduct(out, *f);
    }
    return out;
}

int32_t truncateToInt32(double v) {
    if (!(v == v)) {
        return 0;
    }
    if (v >= 2147483647.0) {
        return std::numeric_limits<int32_t>::max();
    }
    if (v <= -2147483648.0) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(v);
}

bool writeArray(trvScene_api& api, const char* name, int elementType, const void* data,
                size_t count) {
    const trvArray array{data, static_cast<uint32_t>(count)};
    return api.attribute(name, elementType | trvType::array_bit, &array);
}

}  // namespace raydeck::c4d
