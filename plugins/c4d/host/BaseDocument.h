// The host document: its time and file name parameters and its evaluation. Objects, selection
// and links are reached through BaseObject, AtomArray and BaseList2D, which take a document.
#ifndef RAYDECK_PLUGINS_C4D_HOST_BASEDOCUMENT_H
#define RAYDECK_PLUGINS_C4D_HOST_BASEDOCUMENT_H

#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostHandle.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// A borrowed document handle (the host owns the document); may be null.
class BaseDocument : public BorrowedHandle<RdHostDocument> {
  public:
    using BorrowedHandle::BorrowedHandle;

    // Time parameter RD_HOST_DOC_TIME (1000) or RD_HOST_DOC_MINTIME (1002). Answers success.
    bool getTime(int32_t id, HostTime& out) const {
        return hostRead(out, RdHostTime{0.0, 0.0}, &RdHostInterface::documentGetTime, handle_, id);
    }
    // Writes RD_HOST_DOC_TIME. Answers success.
    bool setTime(int32_t id, const HostTime& value) {
        RdHostTime t = value.raw();
        return hostCall(&RdHostInterface::documentSetTime, handle_, id, &t) != 0;
    }
    // File name parameter RD_HOST_DOC_PATH (1012) or RD_HOST_DOC_FILENAME (1013).
    bool getFilename(int32_t id, Filename& out) const {
        return out.valid() &&
               hostCall(&RdHostInterface::documentGetFilename, handle_, id, out.get()) != 0;
    }
    // Brings objects, caches and deformations up to the document's time.
    bool executePasses(bool threaded, bool animation, bool expressions, bool caches,
                       int32_t flags) {
        return hostCall(&RdHostInterface::documentExecutePasses, handle_, threaded ? 1 : 0,
                        animation ? 1 : 0, expressions ? 1 : 0, caches ? 1 : 0, flags) != 0;
    }
};

}  // namespace raydeck::host

#endif
