// Host shaders: a material's shader list; parameters are read as on any node.
#ifndef RAYDECK_PLUGINS_C4D_HOST_BASESHADER_H
#define RAYDECK_PLUGINS_C4D_HOST_BASESHADER_H

#include "plugins/c4d/host/BaseList2D.h"

namespace raydeck::host {

class BaseShader : public BaseList2D {
  public:
    BaseShader() = default;
    explicit BaseShader(RdHostNode* handle) : BaseList2D(handle) {}
    explicit BaseShader(const BaseList2D& node) : BaseList2D(node.handle()) {}

    // The next shader of the material's list, or a null shader.
    BaseShader next() const { return reach<BaseShader>(&RdHostInterface::shaderGetNext); }
};

}  // namespace raydeck::host

#endif
