// Gradient custom data (1000481) read from a parameter.
#ifndef RAYDECK_PLUGINS_C4D_HOST_GRADIENT_H
#define RAYDECK_PLUGINS_C4D_HOST_GRADIENT_H

#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostHandle.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// Borrowed from the node it was read from; valid while that node is.
class Gradient : public BorrowedHandle<const RdHostGradient> {
  public:
    using BorrowedHandle::BorrowedHandle;

    // Colour of knot i; false when the knot does not exist or the gradient library is missing.
    bool knotColor(int32_t knot, Vector& out) const {
        return hostRead(out, RdHostVector{0, 0, 0}, &RdHostInterface::gradientGetKnotColor, handle_,
                        knot);
    }
    // Knot 0's colour, white when the host cannot supply it.
    Vector firstKnotColorOrWhite() const {
        Vector c(1.0, 1.0, 1.0);
        knotColor(0, c);
        return c;
    }
};

}  // namespace raydeck::host

#endif
