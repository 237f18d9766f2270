// Camera conversion: a top-level camera section through trv::LightCamera, then its animation.
#pragma once

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/host/BaseObject.h"

namespace raydeck::c4d {

// `parent` is the camera's parent object, a null object for a top-level camera.
void convertCamera(PluginContext& context, const host::BaseObject& camera,
                   const host::BaseObject& parent = host::BaseObject());

}  // namespace raydeck::c4d
