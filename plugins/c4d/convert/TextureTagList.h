// The texture-tag list handed down the object walk: a null entry for the default material, then
// the ancestors' texture and hair material tags (outermost first), then the object's own.
#pragma once

#include <vector>

#include "plugins/c4d/host/BaseTag.h"

namespace raydeck::c4d {

using TextureTagList = std::vector<host::BaseTag>;

}  // namespace raydeck::c4d
