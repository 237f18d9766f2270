// Every host node (object, tag, material, shader, layer, track): type, name, parameter reads.
#ifndef RAYDECK_PLUGINS_C4D_HOST_BASELIST2D_H
#define RAYDECK_PLUGINS_C4D_HOST_BASELIST2D_H

#include <string>

#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/Gradient.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/String.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// A borrowed node handle; may be null, and then every read fails. Reads leave `out` untouched
// when they fail.
class BaseList2D {
  public:
    BaseList2D() = default;
    explicit BaseList2D(RdHostNode* handle) : handle_(handle) {}

    RdHostNode* handle() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    bool operator==(const BaseList2D& o) const { return handle_ == o.handle_; }
    bool operator!=(const BaseList2D& o) const { return handle_ != o.handle_; }

    // The host type number; 0 for a null node.
    int32_t type() const {
        auto fn = hostOp(&RdHostInterface::nodeGetType);
        return fn && handle_ ? fn(handle_) : 0;
    }
    // The name as host text (empty when unreadable).
    String name() const {
        String out;
        auto fn = hostOp(&RdHostInterface::nodeGetName);
        if (fn && handle_ && out.valid()) {
            fn(handle_, out.get());
        }
        return out;
    }
    // The name as UTF-8; false (out empty) when the node has no name or it cannot be converted.
    bool nameUtf8(std::string& out) const { return name().toUtf8(out); }

    bool getInt(int32_t id, int32_t& out) const {
        auto fn = hostOp(&RdHostInterface::nodeGetInt);
        int32_t v = 0;
        if (!fn || !handle_ || fn(handle_, id, &v) == 0) {
            return false;
        }
        out = v;
        return true;
    }
    bool getFloat(int32_t id, double& out) const {
        auto fn = hostOp(&RdHostInterface::nodeGetFloat);
        double v = 0.0;
        if (!fn || !handle_ || fn(handle_, id, &v) == 0) {
            return false;
        }
        out = v;
        return true;
    }
    bool getVector(int32_t id, Vector& out) const {
        auto fn = hostOp(&RdHostInterface::nodeGetVector);
        RdHostVector v{0, 0, 0};
        if (!fn || !handle_ || fn(handle_, id, &v) == 0) {
            return false;
        }
        out = Vector(v);
        return true;
    }
    bool getString(int32_t id, String& out) const {
        auto fn = hostOp(&RdHostInterface::nodeGetString);
        return fn && handle_ && out.valid() && fn(handle_, id, out.get()) != 0;
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
        auto fn = hostOp(&RdHostInterface::nodeGetFilename);
        return fn && handle_ && out.valid() && fn(handle_, id, out.get()) != 0;
    }
    // A link parameter resolved in doc; false when it links to nothing.
    bool getLink(int32_t id, const BaseDocument& doc, BaseList2D& out) const {
        auto fn = hostOp(&RdHostInterface::nodeGetLink);
        RdHostNode* target = nullptr;
        if (!fn || !handle_ || fn(handle_, id, doc.handle(), &target) == 0 || !target) {
            return false;
        }
        out = BaseList2D(target);
        return true;
    }
    // Gradient custom data (1000481); false when the parameter holds none.
    bool getGradient(int32_t id, Gradient& out) const {
        auto fn = hostOp(&RdHostInterface::nodeGetGradient);
        const RdHostGradient* g = nullptr;
        if (!fn || !handle_ || fn(handle_, id, &g) == 0 || !g) {
            return false;
        }
        out = Gradient(g);
        return true;
    }

  protected:
    RdHostNode* handle_ = nullptr;
};

}  // namespace raydeck::host

#endif
