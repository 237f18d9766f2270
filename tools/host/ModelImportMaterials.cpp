// The model import's materials: colours, the diffuse texture as a bitmap shader, texture tags
// with the texture transform, and embedded images written once beside the model.
#include <png.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "tools/host/ModelImporter.h"

namespace raydeck::hostsim::modelimport {

namespace {

namespace fs = std::filesystem;

// Writes `bytes` to `file` unless it already holds exactly them, so that a re-export leaves the
// file as it was; a new file goes in under its final name only when complete.
bool writeOnce(const fs::path& file, const char* bytes, size_t size) {
    std::error_code ec;
    if (fs::is_regular_file(file, ec) && fs::file_size(file, ec) == size && !ec) {
        std::ifstream in(file, std::ios::binary);
        std::string have(size, '\0');
        if (in.read(&have[0], static_cast<std::streamsize>(size)) &&
            std::memcmp(have.data(), bytes, size) == 0) {
            return true;
        }
    }
    fs::path part = file;
    part += ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes, static_cast<std::streamsize>(size)) || !out.flush()) {
            out.close();
            fs::remove(part, ec);
            return false;
        }
    }
    fs::rename(part, file, ec);
    if (ec) {
        fs::remove(part, ec);
        return false;
    }
    return true;
}

// The per-user folder for the images of models whose own folder is not writable; the model's
// folder is part of the name, so that models of the same name elsewhere keep theirs apart.
fs::path userImageFolder(const std::string& modelFolder, const std::string& modelName) {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    fs::path base;
    if (cache != nullptr && cache[0] == '/') {
        base = fs::u8path(cache);
    } else if (home != nullptr && home[0] != '\0') {
        base = fs::u8path(home) / ".cache";
    } else {
        return fs::path();
    }
    char tag[17];
    std::snprintf(tag, sizeof tag, "%016llx",
                  static_cast<unsigned long long>(std::hash<std::string>()(modelFolder)));
    return base / "raydeck" / "embedded-textures" / tag / fs::u8path(modelName + ".textures");
}

// "png" from a format hint; "bin" when the hint says nothing usable as a file name suffix.
std::string imageSuffix(const char* hint) {
    std::string s;
    for (const char* c = hint; *c != '\0' && s.size() < 8; ++c) {
        const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        if (!((l >= 'a' && l <= 'z') || (l >= '0' && l <= '9'))) {
            return "bin";
        }
        s += l;
    }
    return s.empty() ? "bin" : s;
}

// A raw-pixel embedded image (BGRA texels, row by row) as a PNG file's bytes; false when libpng
// refuses it.
bool encodePng(const aiTexture& t, std::string& out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = t.mWidth;
    image.height = t.mHeight;
    image.format = PNG_FORMAT_BGRA;  // aiTexel's byte order
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, t.pcData, 0, nullptr) == 0 ||
        size == 0) {
        png_image_free(&image);
        return false;
    }
    out.resize(size);
    const bool ok = png_image_write_to_memory(&image, &out[0], &size, 0, t.pcData, 0, nullptr) != 0;
    png_image_free(&image);
    out.resize(ok ? size : 0);
    return ok;
}

}  // namespace

std::unique_ptr<SimMaterial> Importer::material(const aiMaterial& src, unsigned index) {
    auto m = std::make_unique<SimMaterial>();
    m->kind = NodeKind::Material;
    m->document = &doc_;
    m->type = hn::kMaterialStandard;
    m->id = "M" + std::to_string(index + 1);
    aiString name;
    if (src.Get(AI_MATKEY_NAME, name) == AI_SUCCESS) {
        m->name = name.C_Str();
    }
    // The colour channel always: a standard material without one has nothing to read.
    aiColor3D diffuse(0.8f, 0.8f, 0.8f);
    src.Get(AI_MATKEY_COLOR_DIFFUSE, diffuse);
    m->channels.insert(0);
    m->params[hn::standardMaterialParam::kColor] = vectorValue(colour(diffuse));
    m->params[hn::standardMaterialParam::kColorBrightness] = numberValue(1.0);
    aiColor3D specular(0, 0, 0);
    if (src.Get(AI_MATKEY_COLOR_SPECULAR, specular) == AI_SUCCESS) {
        m->channels.insert(8);
        m->params[hn::standardMaterialParam::kSpecularColor] = vectorValue(colour(specular));
    }
    aiString path;
    aiTextureType textureType = aiTextureType_DIFFUSE;
    bool hasTexture = src.GetTexture(textureType, 0, &path) == AI_SUCCESS;
    if (!hasTexture || path.length == 0) {
        textureType = aiTextureType_BASE_COLOR;
        hasTexture = src.GetTexture(textureType, 0, &path) == AI_SUCCESS;
    }
    mapping_.push_back(Mapping{});
    aiUVTransform uvTransform;
    if (hasTexture && path.length > 0 &&
        src.Get(AI_MATKEY_UVTRANSFORM(textureType, 0), uvTransform) == AI_SUCCESS &&
        uvTransform.mScaling.x != 0 && uvTransform.mScaling.y != 0) {
        // The transform maps (u, v) to (u, v) * scaling + translation; the tag maps them to
        // ((u, v) - offset) / length.
        Mapping& map = mapping_.back();
        map.lengthU = 1.0 / uvTransform.mScaling.x;
        map.lengthV = 1.0 / uvTransform.mScaling.y;
        map.offsetU = -uvTransform.mTranslation.x * map.lengthU;
        map.offsetV = -uvTransform.mTranslation.y * map.lengthV;
        skipped_.textureRotations += uvTransform.mRotation != 0;
    }
    if (hasTexture && path.length > 0) {
        // An embedded image is named by its index ("*0") or, in FBX, by its own file name; a
        // file name that no embedded image bears is a file to find.
        const bool embedded =
            path.data[0] == '*' || scene_.GetEmbeddedTexture(path.C_Str()) != nullptr;
        const std::string file = embedded ? embeddedImage(path.C_Str()) : path.C_Str();
        if (!file.empty()) {
            auto s = std::make_unique<SimShader>();
            s->kind = NodeKind::Shader;
            s->document = &doc_;
            s->type = hn::kShaderBitmap;
            s->id = m->id + "S1";
            s->params[hn::shaderParam::kBitmapFile] = textValue(file);
            m->params[hn::standardMaterialParam::kColorShader] = linkValue(s.get());
            m->shaders.push_back(std::move(s));
        }
    }
    return m;
}

// The file that holds the embedded image `ref` ("*0", or the file name it bears), written on
// first use as "image<index>" with the suffix of its format (raw pixels as PNG); empty when it
// cannot be written (counted for the warnings). Each image is written once, however many
// materials and names refer to it.
std::string Importer::embeddedImage(const std::string& ref) {
    const auto known = embeddedFiles_.find(ref);
    if (known != embeddedFiles_.end()) {
        return known->second;
    }
    std::string& file = embeddedFiles_[ref];
    const auto [t, at] = scene_.GetEmbeddedTextureAndIndex(ref.c_str());
    const bool badIndex =
        ref[0] == '*' &&
        (ref.size() == 1 || ref.find_first_not_of("0123456789", 1) != std::string::npos);
    if (t == nullptr || t->pcData == nullptr || at < 0 || badIndex) {
        ++skipped_.embeddedMissing;
        return file;
    }
    if (const auto same = imageFiles_.find(at); same != imageFiles_.end()) {
        return file = same->second;
    }
    std::string& written = imageFiles_[at];
    const std::string index = std::to_string(at);
    std::string name, png;
    const char* bytes = reinterpret_cast<const char*>(t->pcData);
    size_t size = t->mWidth;
    if (t->mHeight == 0) {
        name = "image" + index + "." + imageSuffix(t->achFormatHint);
    } else if (encodePng(*t, png)) {
        name = "image" + index + ".png";
        bytes = png.data();
        size = png.size();
    } else {
        ++skipped_.unencodablePixels;
        return file;
    }
    file = writeImage(name, bytes, size);
    written = file;
    return file;
}

// Writes one embedded image to the images' folder, choosing that folder on the first write.
std::string Importer::writeImage(const std::string& name, const char* bytes, size_t size) {
    std::error_code ec;
    if (imageFolder_.empty()) {
        const fs::path beside = fs::u8path(imageBase_) / fs::u8path(doc_.fileName + ".textures");
        besideFolder_ = beside.u8string();
        fs::create_directories(beside, ec);
        imageFolder_ = besideFolder_;
        if (!writeOnce(beside / name, bytes, size)) {
            const fs::path user = userImageFolder(doc_.folder, doc_.fileName);
            if (!user.empty()) {
                imageFolder_ = userFolder_ = user.u8string();
                fs::create_directories(user, ec);
            }
        } else {
            ++skipped_.embeddedWritten;
            return (beside / name).u8string();
        }
    }
    const fs::path target = fs::u8path(imageFolder_) / name;
    if (writeOnce(target, bytes, size)) {
        ++skipped_.embeddedWritten;  // written: counted for the per-user folder's warning
        return target.u8string();
    }
    ++skipped_.unwritable;
    return std::string();
}

void Importer::textureTags(SimObject& o, const std::vector<MeshPart>& parts) {
    // Materials in order of first use, each with the polygon ranges of its meshes.
    std::vector<std::pair<unsigned, std::vector<std::pair<int32_t, int32_t>>>> used;
    for (const MeshPart& p : parts) {
        const unsigned mi = p.mesh->mMaterialIndex;
        if (mi >= doc_.materials.size()) {
            continue;
        }
        auto it =
            std::find_if(used.begin(), used.end(), [&](const auto& u) { return u.first == mi; });
        if (it == used.end()) {
            used.push_back({mi, {}});
            it = used.end() - 1;
        }
        auto& ranges = it->second;
        if (!ranges.empty() && ranges.back().second + 1 == p.first) {
            ranges.back().second = p.first + p.count - 1;
        } else {
            ranges.emplace_back(p.first, p.first + p.count - 1);
        }
    }
    const bool restricted = used.size() > 1;
    std::vector<std::string> names;
    for (const auto& [mi, ranges] : used) {
        SimMaterial* m = doc_.materials[mi].get();
        std::string name;
        if (restricted) {
            name = m->name.empty() ? "material" : m->name;
            // Selections are found by name: keep the names of one object distinct.
            const std::string stem = name;
            for (int k = 2; std::find(names.begin(), names.end(), name) != names.end(); ++k) {
                name = stem + " " + std::to_string(k);
            }
            names.push_back(name);
            auto sel = newTag(o, hn::kTagPolygonSelection, name);
            sel->ranges = ranges;
            o.tags.push_back(std::move(sel));
        }
    }
    for (size_t i = 0; i < used.size(); ++i) {
        SimMaterial* m = doc_.materials[used[i].first].get();
        auto tag = newTag(o, hn::kTagTexture, "");
        tag->material = m;
        tag->materialId = m->id;
        const Mapping& map = mapping_[used[i].first];
        tag->params[hn::textureTagParam::kOffsetU] = numberValue(map.offsetU);
        tag->params[hn::textureTagParam::kOffsetV] = numberValue(map.offsetV);
        tag->params[hn::textureTagParam::kLengthU] = numberValue(map.lengthU);
        tag->params[hn::textureTagParam::kLengthV] = numberValue(map.lengthV);
        tag->params[hn::textureTagParam::kProjection] =
            numberValue(hn::textureTagParam::kProjectionUvw);
        tag->params[hn::textureTagParam::kRestriction] = textValue(restricted ? names[i] : "");
        tag->params[hn::textureTagParam::kTile] = numberValue(1);
        o.tags.push_back(std::move(tag));
    }
}

}  // namespace raydeck::hostsim::modelimport
