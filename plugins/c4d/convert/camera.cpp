// Camera conversion (placeholder until the camera converter lands).
#include "plugins/c4d/convert/camera.h"

namespace raydeck::c4d {

void convertCamera(PluginContext&, const host::BaseObject&) {}

}  // namespace raydeck::c4d
