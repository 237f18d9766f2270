// Nodes that write a self-contained piece of scene through the builder: the module load block
// (trv::LightModule), the import options module (trv::DefaultRTModule) and the camera with its
// environment shader (trv::LightCamera). Virtual operations stand in a fixed slot order.
#pragma once

#include <memory>
#include <string>

#include "trvSceneapi_oo.h"

namespace trv {

// A "load" block naming a renderer-side module; the subclass writes the block's contents.
class LightModule : public LightNode {
  public:
    explicit LightModule(std::string moduleName) : name(std::move(moduleName)) {}

    bool emit(trvSceneapi_oo& builder) override;             // 0
    void reserved1() override {}                             // 1
    bool reserved2() override { return false; }              // 2
    ~LightModule() override {}                               // 3
    virtual void writeOptions(trvSceneapi_oo& builder) = 0;  // 4

    std::string name;
};

// The import options that tell the renderer how to take in the streamed scene.
class DefaultRTModule : public LightModule {
  public:
    DefaultRTModule() : LightModule("trvrtopt.so") {}

    void writeOptions(trvSceneapi_oo& builder) override;  // 4

    void setImportMode(bool v) { importMode = v; }
    void setMergeGroups(bool v) { mergeGroups = v; }
    void setMergeObjects(bool v) { mergeObjects = v; }
    void setUpVector(int v) { upVector = v; }
    void setMeterScale(float v) { meterScale = v; }
    void setKeepOriginal(bool v) { keepOriginal = v; }
    void setCenterGeometry(bool v) { centerGeometry = v; }
    void setSnapToGround(bool v) { snapToGround = v; }
    void setAdjustCamera(bool v) { adjustCamera = v; }
    void setAdjustEnvironment(bool v) { adjustEnvironment = v; }
    void setExt(bool v) { ext = v; }

    bool importMode = true;
    bool mergeGroups = true;
    bool mergeObjects = true;
    int upVector = 0;
    float meterScale = 1.0f;
    bool keepOriginal = false;
    bool centerGeometry = true;
    bool snapToGround = false;
    bool adjustCamera = true;
    bool adjustEnvironment = true;
    std::string useCamera;  // "import_use_camera"; written only when not empty
    bool ext = true;
};

// A camera section with its environment (reflection map) shader.
class LightCamera : public LightNode {
  public:
    explicit LightCamera(std::string cameraName);

    bool emit(trvSceneapi_oo& builder) override;                       // 0
    void reserved1() override {}                                       // 1
    bool reserved2() override { return false; }                        // 2
    ~LightCamera() override {}                                         // 3
    virtual trvShaderHandle emitEnvironment(trvSceneapi_oo& builder);  // 4

    void setPosition(float x, float y, float z) { position = {x, y, z}; }
    void setDirection(float x, float y, float z) { direction = {x, y, z}; }
    void setUp(float x, float y, float z) { up = {x, y, z}; }
    void setFov(float degrees) {
        fov = degrees;
        fovMode = 0;
    }
    void setProjection(int p) { projection = p; }
    void setTransform(const matrix& m) {
        transform = m;
        hasTransform = true;
    }

    std::string name;
    vec3d position = {0.0, 0.0, 0.0};
    vec3d direction = {0.0, 0.0, -1.0};
    vec3d lookAt = {0.0, 0.0, -1.0};  // written only when hasLookAt
    vec3d up = {0.0, 1.0, 0.0};
    float fov = 60.0f;
    float fov4[4] = {0.0f, 0.0f, 0.0f, 0.0f};  // written only when fovMode is 1
    float clipNear = -1.0f;
    float clipFar = -1.0f;
    std::shared_ptr<LightNode> child;  // emitted in place of the camera's own transform
    bool hasTransform = false;
    bool hasLookAt = false;
    matrix transform = {};
    int projection = 0;  // 0 perspective, 1 orthographic
    int fovMode = 0;     // 0 "fov", 1 "fov4"
};

}  // namespace trv
