// Camera conversion: a top-level camera section through trv::LightCamera, placed with the camera's
// matrix in the document's space, then the camera's own animation in camera mode.
#include "plugins/c4d/convert/camera.h"

#include <string>

#include "plugins/c4d/convert/animation.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "trvNodes.h"

namespace raydeck::c4d {

namespace {

// The camera's matrix with the z component of every vector negated: the section stands outside
// the root group (and every other group) and so carries the scene's z flip itself. Negation flips
// the sign bit, so zeros become negative zeros.
trv::matrix cameraTransform(const host::Matrix& m) {
    return trv::matrix{{m.v1.x, m.v1.y, -m.v1.z, 0.0, m.v2.x, m.v2.y, -m.v2.z, 0.0, m.v3.x, m.v3.y,
                        -m.v3.z, 0.0, m.off.x, m.off.y, -m.off.z, 1.0}};
}

}  // namespace

void convertCamera(PluginContext& context, const host::BaseObject& camera,
                   const host::BaseObject& parent) {
    std::vector<host::BaseObject> ancestors;
    if (parent) {
        ancestors.push_back(parent);
    }
    convertCamera(context, camera, ancestors);
}

void convertCamera(PluginContext& context, const host::BaseObject& camera,
                   const std::vector<host::BaseObject>& ancestors) {
    if (context.builder == nullptr || context.builder->backend() == nullptr) {
        return;
    }
    double angle = 0.0;
    camera.getFloat(host::cameraParam::kFieldOfView, angle);
    const float degrees = static_cast<float>(static_cast<double>(static_cast<float>(angle)) *
                                             0.3183098861837907 * 180.0);
    // Every projection but the central perspective is a parallel one.
    int32_t projection = host::cameraParam::kProjectionPerspective;
    camera.getInt(host::cameraParam::kProjection, projection);

    const host::Vector position = camera.position();
    const host::Vector rotation = camera.rotation();
    const host::Vector scale = camera.scale();
    const int order = camera.rotationOrder();
    // The section stands outside the groups of the camera's ancestors, so it takes their
    // placement with it. A top-level camera's is its own matrix, taken as it is. A host without
    // the global matrix gets the local one, and the animation is then placed as for a top-level
    // camera too.
    host::Matrix placement = camera.matrix();
    // The parent's placement at the start time, which the camera's animated changes are
    // carried through.
    host::Matrix parentPlacement;
    bool parented = false;
    if (!ancestors.empty()) {
        host::Matrix global;
        if (camera.globalMatrix(global)) {
            placement = global;
            parented = ancestors.front().globalMatrix(parentPlacement);
        }
    }
    AnimationReport report;
    if (!fitsScene(placement)) {
        // Placements past the scene's number range (huge scales multiplied up the rig) have no
        // numbers to write: the camera keeps the identity placement.
        placement = host::Matrix();
        report.placementLeftOut = true;
    }
    const trv::matrix transform = cameraTransform(placement);

    std::string name;
    if (!camera.nameUtf8(name) || name.empty()) {
        name = "Camera";
    }

    trv::LightCamera node(name);
    node.setPosition(0.0f, 0.0f, 0.0f);
    node.setDirection(0.0f, 0.0f, 1.0f);
    node.setUp(0.0f, 1.0f, 0.0f);
    node.setFov(degrees);
    node.setTransform(transform);
    node.setProjection(projection == host::cameraParam::kProjectionPerspective ? 0 : 1);
    context.builder->apply(node);

    writeObjectAnimation(context, camera, name, position, rotation, scale, order, true,
                         parented ? &parentPlacement : nullptr, &report);
    // The camera moves with every animated ancestor. Each ancestor's changes are placed in its
    // parent's space at the start time, like the camera's own, and the blocks go from the
    // camera up, so that the outermost ancestor's change applies last, on the left.
    if (parented) {
        for (size_t i = 0; i < ancestors.size(); ++i) {
            const host::BaseObject& a = ancestors[i];
            host::Matrix above;
            const bool hasAbove = i + 1 < ancestors.size() && ancestors[i + 1].globalMatrix(above);
            writeObjectAnimation(context, a, name, a.position(), a.rotation(), a.scale(),
                                 a.rotationOrder(), true, hasAbove ? &above : nullptr, &report);
        }
    }
    reportAnimation(name, report);
}

}  // namespace raydeck::c4d
