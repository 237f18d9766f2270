// Command registration with the host, and the plug-in's resource files.
#ifndef RAYDECK_PLUGINS_C4D_HOST_REGISTRATION_H
#define RAYDECK_PLUGINS_C4D_HOST_REGISTRATION_H

#include <string>

#include "plugins/c4d/host/BaseBitmap.h"
#include "plugins/c4d/host/CommandData.h"
#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/String.h"

namespace raydeck::host {

// Registers a command (kind 4, API version 16000). A null command is not registered (false
// without calling the host). On success the host owns the command and the icon; on failure
// the icon is freed here and the command stays the caller's.
inline bool registerCommand(int32_t pluginId, const std::string& name, int32_t info,
                            BaseBitmap icon, const std::string& help, CommandData* command) {
    auto fn = hostOp(&RdHostInterface::registerCommand);
    if (!fn || command == nullptr) {
        return false;
    }
    String n(name), h(help);
    RdHostBitmap* bitmap = icon.get();
    bool ok = fn(RD_HOST_API_VERSION, RD_HOST_PLUGIN_KIND_COMMAND, pluginId, n.get(), info, bitmap,
                 h.get(), static_cast<void*>(command)) != 0;
    if (ok) {
        icon.release();
    }
    return ok;
}

// The file `name` in the folder "res" beside the plug-in file `pluginPath`.
inline Filename resourceFile(const Filename& pluginPath, const std::string& name) {
    Filename f = pluginPath.directory();
    f.append("res");
    f.append(name);
    return f;
}

}  // namespace raydeck::host

#endif
