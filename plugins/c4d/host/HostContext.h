// The process-wide current host interface and the host services that need no handle: memory,
// console, status bar. c4d_main sets the interface at start-up; unit tests set the simulator's
// table.
#ifndef RAYDECK_PLUGINS_C4D_HOST_HOSTCONTEXT_H
#define RAYDECK_PLUGINS_C4D_HOST_HOSTCONTEXT_H

#include <cstddef>
#include <new>
#include <string>
#include <utility>

#include "plugins/c4d/host/HostInterface.h"

namespace raydeck::host {

// The table every host-layer call goes through; null until set.
const RdHostInterface* hostInterface();
void setHostInterface(const RdHostInterface* table);

// The operation `member` of the current table, or null when there is no table, the host's table
// is too short to hold it, or the host left it empty.
template <typename Fn>
Fn hostOp(Fn RdHostInterface::*member) {
    const RdHostInterface* table = hostInterface();
    if (table == nullptr) {
        return nullptr;
    }
    const char* base = reinterpret_cast<const char*>(table);
    const char* field = reinterpret_cast<const char*>(&(table->*member));
    if (static_cast<size_t>(field - base) + sizeof(Fn) > table->structSize) {
        return nullptr;
    }
    return table->*member;
}

// Host memory: zero-filled, null on failure or without a host.
inline void* hostAlloc(size_t size) {
    auto fn = hostOp(&RdHostInterface::memAlloc);
    return fn ? fn(size) : nullptr;
}
inline void hostFree(void* block) {
    auto fn = hostOp(&RdHostInterface::memFree);
    if (fn && block) {
        fn(block);
    }
}

// Constructs a T in host memory (the host may destroy and free it itself); null on failure.
template <typename T, typename... Args>
T* hostNew(Args&&... args) {
    void* block = hostAlloc(sizeof(T));
    if (block == nullptr) {
        return nullptr;
    }
    return new (block) T(std::forward<Args>(args)...);
}
template <typename T>
void hostDelete(T* object) {
    if (object) {
        object->~T();
        hostFree(object);
    }
}

// One line on the host's console; how the plug-in reports failures to the user.
inline void consolePrint(const std::string& line) {
    auto fn = hostOp(&RdHostInterface::consolePrint);
    if (fn) {
        fn(line.c_str());
    }
}

// What starts a console line that warns: the command did its work, but changed something on the
// way that the user should know of. Every other line the plug-in prints reports a failure.
constexpr char kConsoleWarningPrefix[] = "Raydeck warning: ";
inline void consoleWarning(const std::string& text) {
    consolePrint(kConsoleWarningPrefix + text);
}

// The host's status bar: `text` beside a bar at `percent` (0 to 100); nothing with a host whose
// table lacks the operation.
inline void statusProgress(const std::string& text, int percent) {
    auto fn = hostOp(&RdHostInterface::statusSetProgress);
    if (fn) {
        fn(text.c_str(), percent);
    }
}
inline void statusClear() {
    auto fn = hostOp(&RdHostInterface::statusSetProgress);
    if (fn) {
        fn(nullptr, -1);
    }
}

// Whether the host library with that id (RD_HOST_LIBRARY_*) is present.
inline bool libraryAvailable(int32_t libraryId) {
    auto fn = hostOp(&RdHostInterface::libraryAvailable);
    return fn && fn(libraryId) != 0;
}

}  // namespace raydeck::host

#endif
