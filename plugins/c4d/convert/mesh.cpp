// Polygon mesh conversion (placeholder until the mesh converter lands).
#include "plugins/c4d/convert/mesh.h"

namespace raydeck::c4d {

void convertPolygonObject(PluginContext&, const host::BaseObject&, TextureTagList) {}

}  // namespace raydeck::c4d
