// Materials and textures: record reading from texture tags, standard materials and shaders; the
// texture file search; the material name registry; the material writer.
#include "plugins/c4d/convert/Material.h"

#include <cmath>
#include <cstdio>

#include "platform/file.h"
#include "platform/utf.h"
#include "plugins/c4d/convert/SceneValues.h"
#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/Gradient.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "trvScene_api.h"

namespace raydeck::c4d {

namespace {

void setColor(double out[3], const host::Vector& v) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

// Diffuse = knot 0 of the gradient in parameter `id`, when the parameter holds a gradient.
void readGradientShader(const host::BaseShader& shader, int32_t id, MaterialRecord& record) {
    host::Gradient gradient;
    if (shader.getGradient(id, gradient)) {
        setColor(record.diffuse, gradient.firstKnotColorOrWhite());
    }
}

bool readLinkedShader(const PluginContext& context, const host::BaseMaterial& material, int32_t id,
                      MaterialRecord& record) {
    host::BaseList2D linked;
    if (!material.getLink(id, context.document, linked)) {
        return false;
    }
    readShader(context, host::BaseShader(linked), record);
    return true;
}

}  // namespace

host::Vector objectDisplayColor(const PluginContext& context, const host::BaseObject& object) {
    host::Vector color(0.65, 0.65, 0.65);
    int32_t mode = 0;
    if (!object.getInt(host::objectParam::kDisplayColorMode, mode)) {
        return color;
    }
    if (mode == host::objectParam::kDisplayColorOwn) {
        object.getVector(host::objectParam::kDisplayColor, color);
    } else if (mode == host::objectParam::kDisplayColorLayer) {
        host::BaseList2D layer = object.layer(context.document);
        if (layer) {
            layer.getVector(host::layerParam::kColor, color);
        }
    }
    return color;
}

bool readTextureTag(const PluginContext& context, const host::BaseTag& tag,
                    MaterialRecord& record) {
    host::BaseMaterial material = tag.material();
    if (!material) {
        return false;
    }
    if (!material.nameUtf8(record.name)) {
        return false;
    }
    if (material.type() != host::kMaterialStandard) {
        return false;
    }
    if (!readStandardMaterial(context, material, record)) {
        return false;
    }
    // The tag's mapping is taken as the host returns it; a failed read keeps the default.
    record.textureTag = tag;
    int32_t projection = record.projection;
    tag.getInt(host::textureTagParam::kProjection, projection);
    record.projection = projection;
    tag.textureMatrix(record.textureMatrix);
    tag.getFloat(host::textureTagParam::kOffsetU, record.offsetU);
    tag.getFloat(host::textureTagParam::kOffsetV, record.offsetV);
    tag.getFloat(host::textureTagParam::kLengthU, record.lengthU);
    tag.getFloat(host::textureTagParam::kLengthV, record.lengthV);
    int32_t tile = record.tile ? 1 : 0;
    tag.getInt(host::textureTagParam::kTile, tile);
    record.tile = tile != 0;
    return true;
}

bool readStandardMaterial(const PluginContext& context, const host::BaseMaterial& material,
                          MaterialRecord& record) {
    namespace M = host::standardMaterialParam;
    bool result = false;
    // Channel 7 on means the colour and specular channels are not looked at.
    if (!material.channelEnabled(M::kChannelOverride)) {
        if (material.channelEnabled(M::kChannelColor)) {
            host::Vector color;
            if (material.getVector(M::kColor, color)) {
                setColor(record.diffuse, color);
            }
            double brightness = 0.0;
            if (material.getFloat(M::kColorBrightness, brightness)) {
                const double factor = static_cast<float>(brightness);
                for (double& c : record.diffuse) {
                    c *= factor;
                }
            }
            readLinkedShader(context, material, M::kColorShader, record);
            result = true;
        } else if (material.channelEnabled(M::kChannelLuminance)) {
            host::Vector color;
            if (material.getVector(M::kLuminanceColor, color)) {
                setColor(record.diffuse, color);
                readLinkedShader(context, material, M::kLuminanceShader, record);
                result = true;
            }
        }

        host::Vector specular;
        if (material.channelEnabled(M::kChannelSpecularA) ||
            material.channelEnabled(M::kChannelSpecularB)) {
            if (material.getVector(M::kSpecularColor, specular)) {
                setColor(record.specular, specular);
                return true;
            }
        } else if (material.channelEnabled(M::kChannelSpecular)) {
            if (material.getVector(M::kSpecularColor, specular)) {
                setColor(record.specular, specular);
                return true;
            }
            setColor(record.specular,
                     material.containerVector(M::kContainerSpecular, host::Vector(0, 0, 0)));
        }
        if (result) {
            return true;
        }
    }
    // Bitmap and gradient shaders answer false, so the search runs on to the first colour
    // shader; the last bitmap visited keeps its texture file in the record.
    for (host::BaseShader shader = material.firstShader(); !result && shader;
         shader = shader.next()) {
        result = readShader(context, shader, record);
    }
    return result;
}

bool readShader(const PluginContext& context, const host::BaseShader& shader,
                MaterialRecord& record) {
    if (!shader) {
        return false;
    }
    switch (shader.type()) {
        case host::kShaderColor: {
            host::Vector color;
            if (!shader.getVector(host::shaderParam::kColor, color)) {
                return false;
            }
            setColor(record.diffuse, color);
            return true;
        }
        case host::kShaderBitmap: {
            std::string full, file;
            host::Filename path;
            if (shader.getFilename(host::shaderParam::kBitmapFile, path)) {
                full = path.utf8();
                file = path.file().utf8();
            }
            std::string key = context.documentFolder;
            key.append(1, '\0').append(full).append(1, '\0').append(file);
            auto found = context.textureSearches.find(key);
            if (found == context.textureSearches.end()) {
                found = context.textureSearches
                            .emplace(std::move(key),
                                     findTextureFile(context.documentFolder, full, file))
                            .first;
            }
            record.textureFile = found->second;
            return false;
        }
        case host::kShaderGradientA:
            readGradientShader(shader, host::shaderParam::kGradientA, record);
            return false;
        case host::kShaderGradientB:
            readGradientShader(shader, host::shaderParam::kGradientB, record);
            return false;
        default:
            return false;
    }
}

bool textureFileOpens(const std::string& utf8Path) {
    std::u16string wide;
    return platform::utf8ToUtf16(utf8Path, wide).ok() && platform::fileOpensForReading(wide);
}

std::string findTextureFile(const std::string& documentFolder, const std::string& fullPath,
                            const std::string& fileName) {
    if (!fullPath.empty() && textureFileOpens(fullPath)) {
        return fullPath;
    }
    // Without a file component the candidates would name the folders themselves, which some
    // systems open for reading: never offer a folder as the texture.
    if (!documentFolder.empty() && !fileName.empty()) {
        const std::string inTex = documentFolder + "\\tex\\" + fileName;
        if (textureFileOpens(inTex)) {
            return inTex;
        }
        const std::string beside = documentFolder + "\\" + fileName;
        if (textureFileOpens(beside)) {
            return beside;
        }
    }
    return fullPath;
}

std::string materialName(PluginContext& context, const MaterialRecord& record) {
    const std::string base = record.name.empty() ? std::string("Display color") : record.name;
    std::map<MaterialRecord, int>& records = context.materialNames[base];
    auto it = records.find(record);
    if (it == records.end()) {
        const int ordinal = static_cast<int>(records.size());
        it = records.emplace(record, ordinal).first;
    }
    if (it->second == 0) {
        return base;
    }
    return base + " #" + std::to_string(it->second);
}

void textureTransform(const host::Matrix& m, double out[16]) {
    const host::Matrix inv = affineInverse(m);
    const host::Vector* rows[4] = {&inv.v1, &inv.v2, &inv.v3, &inv.off};
    for (int r = 0; r < 4; ++r) {
        out[4 * r + 0] = rows[r]->x * 0.5;
        out[4 * r + 1] = rows[r]->y * 0.5;
        out[4 * r + 2] = rows[r]->z * 0.5;
        out[4 * r + 3] = r == 3 ? 1.0 : 0.0;
    }
}

void emitMaterial(PluginContext& context, const MaterialRecord& record) {
    trvScene_api* api = context.builder ? context.builder->backend() : nullptr;
    if (api == nullptr) {
        return;
    }
    const std::string name = materialName(context, record);

    trvShaderHandle texture = nullptr;
    if (!record.textureFile.empty()) {
        api->beginShader(nullptr, "texture2_rgb");
        api->attribute("texture", trvType::string, record.textureFile.c_str());
        const float black[3] = {0.0f, 0.0f, 0.0f};
        api->attribute("default_color", trvType::vec3f, black);
        const int32_t wrap = record.tile ? 1 : 0;
        api->attribute("wrap", trvType::bool_, &wrap);
        const bool objectToUv = record.projection == host::textureTagParam::kProjectionObjectSpace;
        const int32_t projection = objectToUv ? 5 : 4;
        api->attribute("uv_projection", trvType::int_, &projection);
        const float mapping[4] = {
            static_cast<float>(record.lengthU), static_cast<float>(record.lengthV),
            static_cast<float>(record.offsetU), static_cast<float>(record.offsetV)};
        api->attribute("scale_u", trvType::float_, &mapping[0]);
        api->attribute("scale_v", trvType::float_, &mapping[1]);
        api->attribute("shift_u", trvType::float_, &mapping[2]);
        api->attribute("shift_v", trvType::float_, &mapping[3]);
        if (objectToUv) {
            double t[16];
            textureTransform(record.textureMatrix, t);
            api->attribute("transform_obj_to_uv", trvType::matrix, t);
        } else {
            const int32_t flags = 62;
            api->attribute("uv_flags", trvType::int_, &flags);
        }
        api->endShader();
        texture = api->currentShader();
    }

    const float diffuse[3] = {static_cast<float>(record.diffuse[0]),
                              static_cast<float>(record.diffuse[1]),
                              static_cast<float>(record.diffuse[2])};
    const double specularLength = std::sqrt(record.specular[0] * record.specular[0] +
                                            record.specular[1] * record.specular[1] +
                                            record.specular[2] * record.specular[2]);
    if (texture != nullptr || specularLength > 1e-6) {
        api->beginShader(nullptr, "trv_advanced");
        const float specular[3] = {static_cast<float>(record.specular[0]),
                                   static_cast<float>(record.specular[1]),
                                   static_cast<float>(record.specular[2])};
        const int32_t on = 1;
        const float roughness = 0.0f, ior = 1.5f, alpha = 1.0f;
        const int32_t glossySamples = 9;
        api->attribute("diffuse", trvType::vec3f, diffuse);
        api->attribute("specular", trvType::vec3f, specular);
        api->attribute("fresnel", trvType::bool_, &on);
        api->attribute("roughness", trvType::float_, &roughness);
        api->attribute("ior", trvType::float_, &ior);
        api->attribute("glossy", trvType::bool_, &on);
        api->attribute("glossy_samples", trvType::int_, &glossySamples);
        api->attribute("alpha", trvType::float_, &alpha);
        if (texture != nullptr) {
            api->attributeShader("diffuse", texture);
        }
    } else {
        api->beginShader(nullptr, "trv_diffuse");
        api->attribute("diffuse", trvType::vec3f, diffuse);
    }
    api->endShader();
    trvShaderHandle surface = api->currentShader();

    api->beginMaterial(name.c_str(), true);
    api->shader(trvShaderKind::surface, surface);
    api->endMaterial();
}

}  // namespace raydeck::c4d
