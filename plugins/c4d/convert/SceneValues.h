// Values the converters hand the scene: placement maths on host matrices and their 16-double
// scene form, whole numbers truncated without overflow, and array attributes. Depends on no other
// converter; every converter that needs these includes this and nothing else for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "plugins/c4d/host/Values.h"
#include "trvScene_api.h"
#include "trvSceneapi_oo.h"

namespace raydeck::c4d {

// The linear part of `m` applied to `p`.
inline host::Vector linearApply(const host::Matrix& m, const host::Vector& p) {
    return host::Vector(m.v1.x * p.x + m.v2.x * p.y + m.v3.x * p.z,
                        m.v1.y * p.x + m.v2.y * p.y + m.v3.y * p.z,
                        m.v1.z * p.x + m.v2.z * p.y + m.v3.z * p.z);
}

// Affine placement math on host matrices: a * b applies b first. Inline: animation sampling
// takes three per sample.
inline host::Matrix affineProduct(const host::Matrix& a, const host::Matrix& b) {
    host::Matrix out;
    out.v1 = linearApply(a, b.v1);
    out.v2 = linearApply(a, b.v2);
    out.v3 = linearApply(a, b.v3);
    const host::Vector o = linearApply(a, b.off);
    out.off = host::Vector(a.off.x + o.x, a.off.y + o.y, a.off.z + o.z);
    return out;
}
// The product of the factors in order (the last applies first); the identity for none.
host::Matrix affineChain(std::initializer_list<const host::Matrix*> factors);
// The affine inverse; the identity when the matrix is singular (see invertAffine).
host::Matrix affineInverse(const host::Matrix& m);
// The affine inverse into `inverse`; false, with the identity there, when the matrix is singular:
// its determinant is negligible next to the lengths of its axes (a flat or rounding-thin
// placement), or the inverse would not be finite.
bool invertAffine(const host::Matrix& m, host::Matrix& inverse);
// True when all twelve numbers are finite.
bool isFinite(const host::Matrix& m);
// True when all twelve numbers are finite and within the single-precision range in which the
// scene's text holds matrices (larger ones would be written as inf).
bool fitsScene(const host::Matrix& m);
host::Matrix translationMatrix(const host::Vector& v);
host::Matrix scaleMatrix(const host::Vector& v);
// Rotation by three angles (radians) in rotation order 0 to 6; other orders rotate as order 0.
host::Matrix rotationMatrix(const host::Vector& angles, int order);
// The 16-double scene form: X axis, 0, Y axis, 0, Z axis, 0, offset, 1.
trv::matrix sceneMatrix(const host::Matrix& m);

// Truncation toward zero; NaN gives 0 and values beyond the int32 range (whose conversion would
// be undefined) the nearest limit.
int32_t truncateToInt32(double v);

// Writes `count` elements of `elementType` (a trvType code without the array bit) from `data` as
// one array attribute; what the back end answers.
bool writeArray(trvScene_api& api, const char* name, int elementType, const void* data,
                size_t count);

}  // namespace raydeck::c4d
