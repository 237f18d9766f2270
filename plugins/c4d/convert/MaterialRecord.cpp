// Record order of MaterialRecord.
#include "plugins/c4d/convert/MaterialRecord.h"

#include <cmath>
#include <cstring>

namespace raydeck::c4d {

namespace {

// Plain less-than, except that NaN sorts after every number and equal to itself: a NaN colour
// read from the host must not break the ordering of the name registry's map.
bool lessNumber(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) {
        return !std::isnan(a) && std::isnan(b);
    }
    return a < b;
}

}  // namespace

bool operator<(const MaterialRecord& a, const MaterialRecord& b) {
    // Names compare as zero-terminated text, byte-wise unsigned.
    int c = std::strcmp(a.name.c_str(), b.name.c_str());
    if (c != 0) {
        return c < 0;
    }
    for (int i = 0; i < 3; ++i) {
        if (lessNumber(a.diffuse[i], b.diffuse[i]))
            return true;
        if (lessNumber(b.diffuse[i], a.diffuse[i]))
            return false;
    }
    c = std::strcmp(a.textureFile.c_str(), b.textureFile.c_str());
    if (c != 0) {
        return c < 0;
    }
    const double av[4] = {a.offsetU, a.offsetV, a.lengthU, a.lengthV};
    const double bv[4] = {b.offsetU, b.offsetV, b.lengthU, b.lengthV};
    for (int i = 0; i < 4; ++i) {
        if (lessNumber(av[i], bv[i]))
            return true;
        if (lessNumber(bv[i], av[i]))
            return false;
    }
    return !a.tile && b.tile;
}

}  // namespace raydeck::c4d
