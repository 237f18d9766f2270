// Lights (placeholder until the light converter lands).
#include "plugins/c4d/convert/light.h"

namespace raydeck::c4d {

void convertLight(PluginContext&, const std::string&, const host::BaseObject&) {}

}  // namespace raydeck::c4d
