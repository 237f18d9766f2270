// Hair guides to curves: one "trv_bezier_curves" object per hair object, radii running from the
// hair material's root to its tip thickness, and the material through the material writer.
#include "plugins/c4d/convert/hair.h"

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/c4d/convert/Material.h"
#include "plugins/c4d/convert/ObjectTags.h"
#include "plugins/c4d/convert/SceneValues.h"
#include "plugins/c4d/host/HairGuides.h"
#include "plugins/c4d/host/HostNumbers.h"

namespace raydeck::c4d {

namespace {

struct Thickness {
    float root = 0.5f;
    float tip = 0.1f;
};

// Applies one hair material tag to the record and the thickness.
void readHairTag(const PluginContext& context, const host::BaseTag& tag, MaterialRecord& record,
                 Thickness& thickness) {
    std::string name;
    if (tag.getStringUtf8(host::nodeParam::kName, name)) {
        record.name = name;
    }
    host::BaseList2D material;
    if (!tag.getLink(host::hairTagParam::kMaterial, context.document, material) ||
        material.type() != host::kMaterialHair) {
        return;
    }
    double root = thickness.root, tip = thickness.tip;
    material.getFloat(host::hairMaterialParam::kRootThickness, root);
    material.getFloat(host::hairMaterialParam::kTipThickness, tip);
    thickness.root = static_cast<float>(root);
    thickness.tip = static_cast<float>(tip);
    host::BaseList2D shader;
    if (material.getLink(host::hairMaterialParam::kColorShader, context.document, shader)) {
        readShader(context, host::BaseShader(shader), record);
    }
    host::Gradient gradient;
    if (material.getGradient(host::hairMaterialParam::kColorGradient, gradient)) {
        const host::Vector c = gradient.firstKnotColorOrWhite();
        record.diffuse[0] = c.x;
        record.diffuse[1] = c.y;
        record.diffuse[2] = c.z;
    }
}

}  // namespace

void convertHairObject(PluginContext& context, const host::BaseObject& object,
                       const TextureTagList& textureTags) {
    const host::HairAccess access(object, context.document);
    const host::HairGuides guides = access.generateGuides();
    const host::Matrix minv = affineInverse(object.matrix());
    if (!guides || context.builder == nullptr || context.builder->backend() == nullptr) {
        return;
    }
    trvScene_api& api = *context.builder->backend();

    const int32_t segments = guides.segmentCount();
    const int64_t perGuide = segments > 0 ? static_cast<int64_t>(segments) + 1 : 0;
    int64_t guideCount = guides.guideCount();
    if (guideCount < 0) {
        guideCount = 0;
    }
    const host::ConstArray<RdHostVector> points = guides.points();
    // A point array shorter than guides x points per guide: only the guides it covers in full
    // are read.
    if (perGuide > 0 && guideCount * perGuide > points.size()) {
        guideCount = points.size() / perGuide;
    }

    MaterialRecord record;
    const host::Vector display = objectDisplayColor(context, object);
    record.diffuse[0] = display.x;
    record.diffuse[1] = display.y;
    record.diffuse[2] = display.z;
    Thickness thickness;
    for (auto it = textureTags.rbegin(); it != textureTags.rend(); ++it) {
        if (*it && it->type() == host::kTagHairMaterial) {
            readHairTag(context, *it, record, thickness);
        }
    }

    const std::string name = nodeName(object);
    api.beginObject(name.c_str(), true);
    api.beginGeometry("trv_bezier_curves");

    // With one point per guide the step is never used; its division by zero is avoided.
    const float span = thickness.tip - thickness.root;
    const float step =
        perGuide > 1 ? static_cast<float>(static_cast<double>(span) /
                                          (static_cast<double>(static_cast<float>(perGuide)) - 1.0))
                     : 0.0f;

    std::vector<float> p, pr, curveUv;
    std::vector<int32_t> nvertices;
    p.reserve(static_cast<size_t>(guideCount * perGuide * 3));
    pr.reserve(static_cast<size_t>(guideCount * perGuide));
    curveUv.reserve(static_cast<size_t>(guideCount * 2));
    nvertices.reserve(static_cast<size_t>(guideCount));
    for (int64_t i = 0; i < guideCount; ++i) {
        float r = thickness.root;
        for (int64_t j = 0; j < perGuide; ++j) {
            const RdHostVector& q = points.data[i * perGuide + j];
            p.push_back(static_cast<float>(minv.off.x + minv.v1.x * q.x + minv.v2.x * q.y +
                                           minv.v3.x * q.z));
            p.push_back(static_cast<float>(minv.off.y + minv.v1.y * q.x + minv.v2.y * q.y +
                                           minv.v3.y * q.z));
            p.push_back(static_cast<float>(minv.off.z + minv.v1.z * q.x + minv.v2.z * q.y +
                                           minv.v3.z * q.z));
            pr.push_back(r);
            r = r + step;
        }
        nvertices.push_back(static_cast<int32_t>(perGuide));
        host::Vector uv;
        guides.rootUV(static_cast<int32_t>(i), uv);
        curveUv.push_back(static_cast<float>(uv.x));
        curveUv.push_back(static_cast<float>(uv.y));
    }

    const float radius = 0.5f;
    api.attribute("radius", trvType::float_, &radius);
    const int32_t order = 2;
    api.attribute("order", trvType::int_, &order);
    writeArray(api, "p", trvType::vec3f, p.data(), p.size() / 3);
    writeArray(api, "pr", trvType::float_, pr.data(), pr.size());
    writeArray(api, "curve_uv", trvType::float_, curveUv.data(), curveUv.size());
    writeArray(api, "nvertices", trvType::int_, nvertices.data(), nvertices.size());

    api.endGeometry();
    emitMaterial(context, record);
    api.endObject();
}

}  // namespace raydeck::c4d
