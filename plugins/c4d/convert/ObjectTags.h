// What a converter reads off any host object besides its own parameters: the name of its group
// and the tags it passes on to its geometry. Used by the walk and by the geometry converters.
#pragma once

#include <map>
#include <string>

#include "plugins/c4d/convert/TextureTagList.h"
#include "plugins/c4d/host/BaseList2D.h"
#include "plugins/c4d/host/BaseTag.h"

namespace raydeck::c4d {

// Polygon selection tags by their name (UTF-8); a later tag of the same name replaces an earlier.
using SelectionTagMap = std::map<std::string, host::BaseTag>;

// Texture (5616) and hair material (1017729) tags are appended to textureTags; UVW (5671),
// normal (5711) and polygon selection (5673) tags go to the outputs that are given (may be null).
void scanTag(const host::BaseTag& tag, host::BaseTag* uvwTag, host::BaseTag* normalTag,
             SelectionTagMap* selectionTags, TextureTagList& textureTags);

// The name of a node's group: its host name as UTF-8 kept whole, "object" when it has none.
std::string nodeName(const host::BaseList2D& node);

}  // namespace raydeck::c4d
