// Gradient custom data (1000481) read from a parameter.
#ifndef RAYDECK_PLUGINS_C4D_HOST_GRADIENT_H
#define RAYDECK_PLUGINS_C4D_HOST_GRADIENT_H

#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// Borrowed from the node it was read from; valid while that node is.
class Gradient {
  public:
    Gradient() = default;
    explicit Gradient(const RdHostGradient* handle) : handle_(handle) {}
    const RdHostGradient* handle() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // Colour of knot i; false when the knot does not exist or the gradient library is missing.
    bool knotColor(int32_t knot, Vector& out) const {
        auto fn = hostOp(&RdHostInterface::gradientGetKnotColor);
        RdHostVector v{0, 0, 0};
        if (!fn || !handle_ || fn(handle_, knot, &v) == 0) {
            return false;
        }
        out = Vector(v);
        return true;
    }
    // Knot 0's colour, white when the host cannot supply it.
    Vector firstKnotColorOrWhite() const {
        Vector c(1.0, 1.0, 1.0);
        knotColor(0, c);
        return c;
    }

  private:
    const RdHostGradient* handle_ = nullptr;
};

}  // namespace raydeck::host

#endif
