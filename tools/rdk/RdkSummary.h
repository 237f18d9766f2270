// RdkSummary: the counts and lists of a scene that `rdk-inspect summary` prints: groups,
// objects, meshes, materials by shader type, textures (found on this machine or not), cameras,
// animation blocks, emitting objects (lights) and curves.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "tools/rdk/RdkStream.h"

namespace rdk {

struct TextureUse {
    std::string path;        // as written in the scene
    std::string shaderType;  // the shader that names it
    std::string resolved;    // the file found on this machine; empty when missing
    size_t uses = 0;
};

struct CameraInfo {
    std::string name;
    std::string projection;  // "perspective", "orthographic" or empty
    double fov = 0;          // degrees; 0 when not written
    bool hasTransform = false;
};

struct AnimationInfo {
    std::string type;
    std::string name;
    std::string folder;
    size_t samples = 0;  // matrices written
    double startTime = 0;
    double duration = 0;
};

struct LightInfo {
    std::string name;        // the emitting object
    std::string shaderType;  // "trv_point_light", "trv_mesh_light", or "light" for light blocks
    double power = 0;
    double color[3] = {0, 0, 0};
    bool lumen = false;
};

struct Summary {
    size_t groups = 0;
    size_t objects = 0;
    size_t meshes = 0;  // "triangles" geometries
    size_t triangles = 0;
    size_t vertices = 0;
    size_t materials = 0;
    std::map<std::string, size_t> materialsByShader;  // surface shader type -> materials
    std::vector<TextureUse> textures;                 // in order of first use
    std::vector<std::string> environmentMaps;         // renderer resources, not looked up
    std::vector<CameraInfo> cameras;
    std::vector<AnimationInfo> animations;
    size_t animationSamples = 0;
    std::vector<LightInfo> lights;
    size_t curveObjects = 0;  // "trv_bezier_curves" geometries
    size_t curves = 0;
    size_t curvePoints = 0;
};

// Reads the scene text from `source` into `out`. `sceneFolder` is the folder of the scene file:
// relative texture paths are looked up there as well as as given (relative to the working
// folder); without `lookUp` textures are listed but not looked up. False with `error` when the
// text does not read as a scene.
bool summarize(ByteSource& source, const std::string& sceneFolder, Summary& out, ReadError& error,
               bool lookUp = true);

// The folder part of a path ("" for a bare file name); `/` and `\` both separate.
std::string folderOf(const std::string& path);

}  // namespace rdk
