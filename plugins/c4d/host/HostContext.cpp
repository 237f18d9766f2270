// The process-wide host interface pointer (the host calls everything on its main thread).
#include "plugins/c4d/host/HostContext.h"

namespace raydeck::host {

namespace {
const RdHostInterface* g_table = nullptr;
}

const RdHostInterface* hostInterface() {
    return g_table;
}

void setHostInterface(const RdHostInterface* table) {
    g_table = table;
}

}  // namespace raydeck::host
