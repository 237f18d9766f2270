// Hair guides to curves (placeholder until the hair converter lands).
#include "plugins/c4d/convert/hair.h"

namespace raydeck::c4d {

void convertHairObject(PluginContext&, const host::BaseObject&, TextureTagList) {}

}  // namespace raydeck::c4d
