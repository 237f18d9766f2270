// Host materials: channel switches, the shader list, data container entries.
#ifndef RAYDECK_PLUGINS_C4D_HOST_BASEMATERIAL_H
#define RAYDECK_PLUGINS_C4D_HOST_BASEMATERIAL_H

#include "plugins/c4d/host/BaseList2D.h"
#include "plugins/c4d/host/BaseShader.h"
#include "plugins/c4d/host/HostCall.h"

namespace raydeck::host {

class BaseMaterial : public BaseList2D {
  public:
    BaseMaterial() = default;
    explicit BaseMaterial(RdHostNode* handle) : BaseList2D(handle) {}
    explicit BaseMaterial(const BaseList2D& node) : BaseList2D(node.handle()) {}

    // Whether channel number `channel` is enabled.
    bool channelEnabled(int32_t channel) const {
        return hostCall(&RdHostInterface::materialGetChannelState, handle_, channel) != 0;
    }
    // Data container entry `id` read as a vector; `def` when absent or of another kind.
    Vector containerVector(int32_t id, const Vector& def = Vector()) const {
        RdHostVector d = def.raw();
        Vector out = def;
        hostRead(out, d, &RdHostInterface::materialGetContainerVector, handle_, id, &d);
        return out;
    }
    // The first shader of the material's list, or a null shader.
    BaseShader firstShader() const {
        return reach<BaseShader>(&RdHostInterface::materialGetFirstShader);
    }
};

}  // namespace raydeck::host

#endif
