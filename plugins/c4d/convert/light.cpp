// Lights: a host light becomes an ordinary scene object with an emitting octahedron proxy in the
// light's local space: a mesh light shader sized to the area of an area light, hidden from
// camera, reflections and shadows, or a point light shader on a unit octahedron for every other
// type.
#include "plugins/c4d/convert/light.h"

#include <cstdint>
#include <string_view>

#include "plugins/c4d/convert/SceneValues.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "trvSceneFormat.h"
#include "trvScene_api.h"

namespace raydeck::c4d {
namespace {

// A candela is a lumen per steradian, and the light is taken to shine over the whole sphere:
// 4π sr. 12.566 is 4π to three decimals, kept so that exported powers stay as they were.
constexpr double kSteradiansOfSphere = 12.566;

}  // namespace

void convertLight(PluginContext& context, const std::string& nodeName,
                  const host::BaseObject& object) {
    trvScene_api* api = context.builder ? context.builder->backend() : nullptr;
    if (api == nullptr) {
        return;
    }
    // Reads are not checked: whatever the host answers (the defaults below when it answers
    // nothing) is used.
    host::Vector color(0, 0, 0);
    double brightness = 0.0;
    int32_t type = 0;
    object.getVector(host::lightParam::kColor, color);
    object.getFloat(host::lightParam::kBrightness, brightness);
    object.getInt(host::lightParam::kType, type);
    const bool area = type == host::lightParam::kTypeArea;

    float hx = 1.0f, hy = 1.0f, hz = 1.0f;
    if (area) {
        double sx = 0.0, sy = 0.0, sz = 0.0;
        object.getFloat(host::lightParam::kAreaSizeX, sx);
        object.getFloat(host::lightParam::kAreaSizeY, sy);
        object.getFloat(host::lightParam::kAreaSizeZ, sz);
        hx = static_cast<float>(sx * 0.5);
        hy = static_cast<float>(sy * 0.5);
        hz = static_cast<float>(sz * 0.5);
    }

    int32_t lumenSwitch = 0;
    object.getInt(host::lightParam::kIntensitySwitch, lumenSwitch);
    const bool lumen = lumenSwitch != 0;
    int32_t power = 0;
    if (lumen) {
        int32_t unit = 0;
        double value = 0.0;
        object.getInt(host::lightParam::kIntensityUnit, unit);
        object.getFloat(host::lightParam::kIntensity, value);
        float intensity = static_cast<float>(value);
        if (unit == host::lightParam::kUnitCandela) {
            intensity = static_cast<float>(intensity * kSteradiansOfSphere);
        }
        power = truncateToInt32(intensity);
    } else {
        power = truncateToInt32(static_cast<float>(brightness) * 100.0);
    }

    const float vertices[18] = {0, -hy, 0, hx, 0, 0, 0, 0, hz, -hx, 0, 0, 0, 0, -hz, 0, hy, 0};
    static const int32_t triangles[24] = {2, 1, 0, 1, 2, 5, 3, 2, 0, 2, 3, 5,
                                          4, 3, 0, 3, 4, 5, 1, 4, 0, 4, 1, 5};

    api->beginObject(nodeName.c_str(), true);
    api->beginGeometry("triangles");
    writeArray(*api, "vertices", trvType::vec3f, vertices, 6);
    // Each vertex's normal is its own position, deliberately not normalised.
    writeArray(*api, "normals", trvType::vec3f, vertices, 6);
    writeArray(*api, "triangles", trvType::int_, triangles, 24);
    api->endGeometry();

    // Unlike surface materials, the light's material is opened before its shader and carries the
    // light's own name; the name registry is not involved.
    api->beginMaterial(nodeName.c_str(), true);
    const float rgb[3] = {static_cast<float>(color.x), static_cast<float>(color.y),
                          static_cast<float>(color.z)};
    const int32_t lumenFlag = lumen ? 1 : 0;
    const int32_t off = 0;
    const std::string_view shaderType =
        area ? trvFormat::lightShader::mesh : trvFormat::lightShader::point;
    api->beginShader(nullptr, shaderType.data());
    api->attribute("power", trvType::int_, &power);
    api->attribute("color", trvType::vec3f, rgb);
    api->attribute("lumen", trvType::bool_, &lumenFlag);
    if (area) {
        api->attribute("visible to the eye", trvType::bool_, &off);
        api->attribute("visible in reflections", trvType::bool_, &off);
        api->attribute("visible in shadows", trvType::bool_, &off);
    } else {
        const float radius = 0.0f;
        api->attribute("radius", trvType::float_, &radius);
    }
    api->endShader();
    trvShaderHandle handle = api->currentShader();
    api->shader(trvShaderKind::surface, handle);
    api->endMaterial();
    api->endObject();
}

}  // namespace raydeck::c4d
