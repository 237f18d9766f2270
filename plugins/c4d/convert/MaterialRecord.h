// MaterialRecord: the flat material value that the mesh and hair converters build and the
// material writer turns into shaders and one material. Records order by the fields that name a
// material (see operator<); specular, projection, texture matrix and tag do not take part.
#pragma once

#include <string>

#include "plugins/c4d/host/BaseTag.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::c4d {

struct MaterialRecord {
    std::string name;  // host material name or hair tag name; kept whole, however long
    double diffuse[3] = {0.65, 0.65, 0.65};
    double specular[3] = {0.0, 0.0, 0.0};
    std::string textureFile;     // UTF-8, after the file search
    host::Matrix textureMatrix;  // identity
    host::BaseTag textureTag;    // the tag the record was read from, or none
    double offsetU = 0.0;
    double offsetV = 0.0;
    double lengthU = 1.0;
    double lengthV = 1.0;
    bool tile = true;
    int projection = 0;
};

// Record order: name (byte-wise, unsigned), diffuse r, g, b, texture file, offset u, offset v,
// length u, length v, tile; the first difference decides.
bool operator<(const MaterialRecord& a, const MaterialRecord& b);

}  // namespace raydeck::c4d
