// The object's group name and its tag scan.
#include "plugins/c4d/convert/ObjectTags.h"

namespace raydeck::c4d {

std::string nodeName(const host::BaseList2D& node) {
    std::string name;
    if (!node.nameUtf8(name) || name.empty()) {
        return "object";
    }
    return name;
}

void scanTag(const host::BaseTag& tag, host::BaseTag* uvwTag, host::BaseTag* normalTag,
             SelectionTagMap* selectionTags, TextureTagList& textureTags) {
    switch (tag.type()) {
        case host::kTagTexture:
        case host::kTagHairMaterial:
            textureTags.push_back(tag);
            break;
        case host::kTagUVW:
            if (uvwTag) {
                *uvwTag = tag;
            }
            break;
        case host::kTagNormal:
            if (normalTag) {
                *normalTag = tag;
            }
            break;
        case host::kTagPolygonSelection:
            if (selectionTags) {
                std::string name;
                tag.nameUtf8(name);  // empty when unnamed or not convertible
                (*selectionTags)[name] = tag;
            }
            break;
        default:
            break;
    }
}

}  // namespace raydeck::c4d
