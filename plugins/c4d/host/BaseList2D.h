// Every host node (object, tag, material, shader, layer, track): type, name, parameter reads.
#ifndef RAYDECK_PLUGINS_C4D_HOST_BASELIST2D_H
#define RAYDECK_PLUGINS_C4D_HOST_BASELIST2D_H

#include <string>

#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/Gradient.h"
#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostHandle.h"
#include "plugins/c4d/host/String.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// A borrowed node handle; may be null, and then every read fails. Reads leave `out` untouched
// when they fail.
class BaseList2D : public BorrowedHandle<RdHostNode> {
  public:
    using BorrowedHandle::BorrowedHandle;

    bool operator==(const BaseList2D& o) const { return handle_ == o.handle_; }
    bool operator!=(const BaseList2D& o) const { return handle_ != o.handle_; }

    // The host type number; 0 for a null node.
    int32_t type() const { return hostCall(&RdHostInterface::nodeGetType, handle_); }
    // The name as host text (empty when unreadable).
    String name() const {
        String out;
        if (out.valid()) {
            hostCall(&RdHostInterface::nodeGetName, handle_, out.get());
        }
        return out;
    }
    // The name as UTF-8; false (out empty) when the node has no name or it cannot be converted.
    bool nameUtf8(std::string& out) const { return name().toUtf8(out); }

    bool getInt(int32_t id, int32_t& out) const {
        return hostRead(out, int32_t{0}, &RdHostInterface::nodeGetInt, handle_, id);
    }
    bool getFloat(int32_t id, double& out) const {
        return hostRead(out, 0.0, &RdHostInterface::nodeGetFloat, handle_, id);
    }
    bool getVector(int32_t id, Vector& out) const {
        return hostRead(out, RdHostVector{0, 0, 0}, &RdHostInterface::nodeGetVector, handle_, id);
    }
    bool getString(int32_t id, String& out) const {
        return out.valid() &&
               hostCall(&RdHostInterface::nodeGetString, handle_, id, out.get()) != 0;
    }
    // A text parameter as UTF-8 (an empty text reads as success with out empty).
    bool getStringUtf8(int32_t id, std::string& out) const {
        String s;
        if (!getString(id, s)) {
            return false;
        }
        s.toUtf8(out);
        return true;
    }
    bool getFilename(int32_t id, Filename& out) const {
        return out.valid() &&
               hostCall(&RdHostInterface::nodeGetFilename, handle_, id, out.get()) != 0;
    }
    // A link parameter resolved in doc; false when it links to nothing.
    bool getLink(int32_t id, const BaseDocument& doc, BaseList2D& out) const {
        RdHostNode* target = nullptr;
        if (hostCall(&RdHostInterface::nodeGetLink, handle_, id, doc.handle(), &target) == 0 ||
            !target) {
            return false;
        }
        out = BaseList2D(target);
        return true;
    }
    // Gradient custom data (1000481); false when the parameter holds none.
    bool getGradient(int32_t id, Gradient& out) const {
        const RdHostGradient* g = nullptr;
        if (hostCall(&RdHostInterface::nodeGetGradient, handle_, id, &g) == 0 || !g) {
            return false;
        }
        out = Gradient(g);
        return true;
    }

  protected:
    // The node that `member` reaches from this one (next, child, first tag, ...) as a T; a null
    // T when the host cannot answer.
    template <typename T>
    T reach(RdHostNode* (*RdHostInterface::*member)(const RdHostNode*)) const {
        return T(hostCall(member, handle_));
    }
};

}  // namespace raydeck::host

#endif
