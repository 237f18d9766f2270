// Module, import options and camera nodes.
#include "trvNodes.h"

namespace trv {

bool LightModule::emit(trvSceneapi_oo& builder) {
    trvScene_api* api = builder.backend();
    // endLoad reports nothing, so the node's result is whether the block was accepted.
    const bool begun = api->beginLoad(name.c_str());
    writeOptions(builder);
    api->endLoad();
    return begun;
}

void DefaultRTModule::writeOptions(trvSceneapi_oo& builder) {
    builder.setAttribute("import_mode", importMode);
    builder.setAttribute("import_merge_groups", mergeGroups);
    builder.setAttribute("import_merge_objects", mergeObjects);
    builder.setAttribute("import_up_vector", upVector);
    builder.setAttribute("meter_scale", meterScale);
    builder.setAttribute("import_keep_original", keepOriginal);
    builder.setAttribute("import_center_geometry", centerGeometry);
    builder.setAttribute("import_snap_to_ground", snapToGround);
    builder.setAttribute("import_adjust_camera", adjustCamera);
    builder.setAttribute("import_adjust_environment", adjustEnvironment);
    if (!useCamera.empty()) {
        builder.setAttribute("import_use_camera", useCamera);
    }
    builder.setAttribute("ext", ext);
}

LightCamera::LightCamera(std::string cameraName) : name(std::move(cameraName)) {}

bool LightCamera::emit(trvSceneapi_oo& builder) {
    trvScene_api* api = builder.backend();
    // The node reports whether the section was accepted; endCamera reports nothing.
    const bool begun = api->beginCamera(name.c_str());
    if (projection == 1) {
        builder.setAttribute("projection", std::string("orthographic"));
    } else {
        builder.setAttribute("projection", std::string("perspective"));
        if (fovMode == 0) {
            builder.setAttribute("fov", fov);
        } else if (fovMode == 1) {
            api->attribute("fov4", trvType::float4, fov4);
        }
    }
    trvShaderHandle environment = emitEnvironment(builder);
    api->attribute("reflection map", trvType::shader_ref, &environment);
    builder.setAttribute("position", position);
    builder.setAttribute("direction", direction);
    if (hasLookAt) {
        builder.setAttribute("look_at", lookAt);
    }
    builder.setAttribute("up", up);
    if (clipNear > 0.0f && clipFar > 0.0f && clipFar > clipNear) {
        const float clipping[2] = {clipNear, clipFar};
        api->attribute("clipping", trvType::vec2f, clipping);
    }
    if (child) {
        builder.apply(*child);
    } else if (hasTransform) {
        builder.transform(transform);
    }
    api->endCamera();
    return begun;
}

trvShaderHandle LightCamera::emitEnvironment(trvSceneapi_oo& builder) {
    trvScene_api* api = builder.backend();
    api->beginShader(nullptr, "trv_envmap");
    builder.setAttribute("texture", std::string("startup.hdr"));
    builder.setAttribute("format", 3);
    builder.setAttribute("radius", 25.0f);
    trvShaderHandle handle = api->currentShader();
    builder.endShader();
    return handle;
}

}  // namespace trv
