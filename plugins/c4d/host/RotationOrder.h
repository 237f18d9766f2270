// The host's rotation orders, shared by the plug-in's animation export and the host simulator:
// rotation(a, order) = R(f0.axis, -a[f0.component]) R(f1.axis, -a[f1.component])
//                      R(f2.axis, -a[f2.component]), axes and components 0 x, 1 y, 2 z.
#ifndef RAYDECK_PLUGINS_C4D_HOST_ROTATIONORDER_H
#define RAYDECK_PLUGINS_C4D_HOST_ROTATIONORDER_H

namespace raydeck::host {

struct RotationFactor {
    int axis;       // the axis turned about
    int component;  // the angle of the rotation vector that turns it
};

constexpr int kRotationOrderCount = 7;

// Order 6 turns about y by the x angle and about x by the y angle.
inline constexpr RotationFactor kRotationOrders[kRotationOrderCount][3] = {
    {{2, 2}, {0, 0}, {1, 1}}, {{0, 0}, {2, 2}, {1, 1}}, {{0, 0}, {1, 1}, {2, 2}},
    {{1, 1}, {0, 0}, {2, 2}}, {{1, 1}, {2, 2}, {0, 0}}, {{2, 2}, {1, 1}, {0, 0}},
    {{1, 0}, {0, 1}, {2, 2}},
};

// The factors of an order; orders the host does not know turn as order 0.
inline const RotationFactor* rotationOrderFactors(int order) {
    return kRotationOrders[order >= 0 && order < kRotationOrderCount ? order : 0];
}

}  // namespace raydeck::host

#endif
