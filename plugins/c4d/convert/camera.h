// Camera conversion: a top-level camera section through trv::LightCamera, then its animation.
#pragma once

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/host/BaseObject.h"

namespace raydeck::c4d {

void convertCamera(PluginContext& context, const host::BaseObject& camera);

}  // namespace raydeck::c4d
