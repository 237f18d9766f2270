// The host's numbers, each named once: object, tag, material and shader types, and the parameter
// numbers with the values they take, grouped by the class of node that carries them (the
// document's parameters are with HostInterface.h). The converters and the simulator use these
// names, never the numbers. Nothing here depends on the host interface.
#pragma once

#include <cstdint>

namespace raydeck::host {

// Object types.
enum ObjectType : int32_t {
    kObjectPolygon = 5100,
    kObjectLight = 5102,
    kObjectCamera = 5103,
    kObjectNull = 5140,
    kObjectHair = 1017305,
};

// Tag types.
enum TagType : int32_t {
    kTagPhong = 5612,
    kTagTexture = 5616,
    kTagUVW = 5671,
    kTagPolygonSelection = 5673,
    kTagNormal = 5711,
    kTagHairMaterial = 1017729,
};

// Every node: its name (also what nameUtf8 reads).
namespace nodeParam {
constexpr int32_t kName = 900;
}  // namespace nodeParam

// Every object.
namespace objectParam {
constexpr int32_t kEditorVisibility = 901;
constexpr int32_t kRenderVisibility = 902;
constexpr int32_t kPosition = 903;
constexpr int32_t kRotation = 904;
constexpr int32_t kScale = 905;
constexpr int32_t kDisplayColorMode = 907;
constexpr int32_t kDisplayColor = 908;
// Values of the two visibility parameters.
constexpr int32_t kVisibilityOn = 0;
constexpr int32_t kVisibilityInherit = 2;
// Values of kDisplayColorMode: the object's own colour, or its layer's.
constexpr int32_t kDisplayColorOwn = 1;
constexpr int32_t kDisplayColorLayer = 3;
}  // namespace objectParam

// The second level of a vector parameter's id (a track's component).
namespace vectorComponent {
constexpr int32_t kX = 1000;
constexpr int32_t kY = 1001;
constexpr int32_t kZ = 1002;
}  // namespace vectorComponent

// Lights (kObjectLight).
namespace lightParam {
constexpr int32_t kColor = 90000;
constexpr int32_t kBrightness = 90001;
constexpr int32_t kType = 90002;
constexpr int32_t kIntensityUnit = 90037;
constexpr int32_t kIntensity = 90043;
constexpr int32_t kIntensitySwitch = 90046;
constexpr int32_t kAreaSizeX = 100010;
constexpr int32_t kAreaSizeY = 100011;
constexpr int32_t kAreaSizeZ = 100012;
// Values of kType and kIntensityUnit.
constexpr int32_t kTypePoint = 0;
constexpr int32_t kTypeArea = 8;
constexpr int32_t kUnitCandela = 1;
}  // namespace lightParam

// Cameras (kObjectCamera).
namespace cameraParam {
constexpr int32_t kProjection = 1000;
constexpr int32_t kFieldOfView = 1008;  // radians
// Values of kProjection: the host's central perspective, and its parallel (orthographic) view.
// The host knows further parallel views (top, front, ...); all of them are parallel projections.
constexpr int32_t kProjectionPerspective = 0;
constexpr int32_t kProjectionParallel = 1;
}  // namespace cameraParam

// Animation tracks.
namespace trackParam {
constexpr int32_t kEnabled = 904;
}  // namespace trackParam

// Layers.
namespace layerParam {
constexpr int32_t kSwitchA = 1001;  // both switches on: the layer's objects are written
constexpr int32_t kSwitchB = 1002;
constexpr int32_t kColor = 1009;
}  // namespace layerParam

// Texture tags (kTagTexture).
namespace textureTagParam {
constexpr int32_t kOffsetU = 1000;
constexpr int32_t kOffsetV = 1001;
constexpr int32_t kLengthU = 1002;
constexpr int32_t kLengthV = 1003;
constexpr int32_t kProjection = 1004;
constexpr int32_t kRestriction = 1006;  // name of the polygon selection it is restricted to
constexpr int32_t kTile = 1007;
// Values of kProjection: mapped through the object's own space (texture matrix), or by the
// object's UVW tag.
constexpr int32_t kProjectionObjectSpace = 2;
constexpr int32_t kProjectionUvw = 6;
}  // namespace textureTagParam

// Hair material tags (kTagHairMaterial).
namespace hairTagParam {
constexpr int32_t kMaterial = 1000;  // link
}  // namespace hairTagParam

// Material types.
enum MaterialType : int32_t {
    kMaterialStandard = 5703,
    kMaterialHair = 1017730,
};

// The standard material (kMaterialStandard).
namespace standardMaterialParam {
constexpr int32_t kColor = 2100;
constexpr int32_t kColorBrightness = 2101;
constexpr int32_t kLuminanceColor = 2300;
constexpr int32_t kSpecularColor = 3100;
constexpr int32_t kColorShader = 8000;      // link
constexpr int32_t kLuminanceShader = 8002;  // link
// Channels (channelEnabled).
constexpr int32_t kChannelColor = 0;
constexpr int32_t kChannelLuminance = 1;
constexpr int32_t kChannelSpecular = 3;
constexpr int32_t kChannelOverride = 7;  // on: the colour and specular channels are not looked at
constexpr int32_t kChannelSpecularA = 8;
constexpr int32_t kChannelSpecularB = 9;
// Entry of the material's data container read when kSpecularColor cannot be.
constexpr int32_t kContainerSpecular = 65;
}  // namespace standardMaterialParam

// The hair material (kMaterialHair).
namespace hairMaterialParam {
constexpr int32_t kColorShader = 3000;  // link
constexpr int32_t kRootThickness = 3009;
constexpr int32_t kTipThickness = 3010;
constexpr int32_t kColorGradient = 3139;
}  // namespace hairMaterialParam

// Shader types.
enum ShaderType : int32_t {
    kShaderColor = 5832,
    kShaderBitmap = 5833,
    kShaderGradientA = 1011100,
    kShaderGradientB = 1012158,
};

// Shader parameters, per shader type.
namespace shaderParam {
constexpr int32_t kColor = 1000;       // kShaderColor
constexpr int32_t kBitmapFile = 1000;  // kShaderBitmap
constexpr int32_t kGradientA = 1007;   // kShaderGradientA
constexpr int32_t kGradientB = 10001;  // kShaderGradientB
}  // namespace shaderParam

}  // namespace raydeck::host
