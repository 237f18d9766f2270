// The host document: its time and file name parameters and its evaluation. Objects, selection
// and links are reached through BaseObject, AtomArray and BaseList2D, which take a document.
#ifndef RAYDECK_PLUGINS_C4D_HOST_BASEDOCUMENT_H
#define RAYDECK_PLUGINS_C4D_HOST_BASEDOCUMENT_H

#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// A borrowed document handle (the host owns the document); may be null.
class BaseDocument {
  public:
    BaseDocument() = default;
    explicit BaseDocument(RdHostDocument* handle) : handle_(handle) {}

    RdHostDocument* handle() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // Time parameter RD_HOST_DOC_TIME (1000) or RD_HOST_DOC_MINTIME (1002). Answers success.
    bool getTime(int32_t id, HostTime& out) const {
        auto fn = hostOp(&RdHostInterface::documentGetTime);
        RdHostTime t{0.0, 0.0};
        if (!fn || !handle_ || fn(handle_, id, &t) == 0) {
            return false;
        }
        out = HostTime(t);
        return true;
    }
    // Writes RD_HOST_DOC_TIME. Answers success.
    bool setTime(int32_t id, const HostTime& value) {
        auto fn = hostOp(&RdHostInterface::documentSetTime);
        RdHostTime t = value.raw();
        return fn && handle_ && fn(handle_, id, &t) != 0;
    }
    // File name parameter RD_HOST_DOC_PATH (1012) or RD_HOST_DOC_FILENAME (1013).
    bool getFilename(int32_t id, Filename& out) const {
        auto fn = hostOp(&RdHostInterface::documentGetFilename);
        return fn && handle_ && out.valid() && fn(handle_, id, out.get()) != 0;
    }
    // Brings objects, caches and deformations up to the document's time.
    bool executePasses(bool threaded, bool animation, bool expressions, bool caches,
                       int32_t flags) {
        auto fn = hostOp(&RdHostInterface::documentExecutePasses);
        return fn && handle_ &&
               fn(handle_, threaded ? 1 : 0, animation ? 1 : 0, expressions ? 1 : 0, caches ? 1 : 0,
                  flags) != 0;
    }

  private:
    RdHostDocument* handle_ = nullptr;
};

}  // namespace raydeck::host

#endif
