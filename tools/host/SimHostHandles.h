// The host simulator's handles, shared by the two halves of its table: SimHost.cpp (memory,
// console, strings, file names, bitmaps, registrations) and SimHostDocument.cpp (documents,
// selection, nodes, objects, tags, materials, animation, hair). Internal to tools/host.
#ifndef RAYDECK_TOOLS_HOST_SIMHOSTHANDLES_H
#define RAYDECK_TOOLS_HOST_SIMHOSTHANDLES_H

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/c4d/host/HostInterface.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"

namespace raydeck::hostsim::handles {

struct SimString {
    std::string text;
};
// Kept as directory and last component, so that a directory set before the file survives.
struct SimFilename {
    std::string directory, file;
    char separator = '/';  // the one the text used, so Windows paths come back unchanged
    std::string path() const;
    void set(const std::string& p);
};
struct SimBitmap {
    std::string path;
    int32_t width = 0, height = 0;
    double iconScale = 0.0;
};
struct SimAtomArray {
    std::vector<SimNode*> entries;
};
struct SimHairGuides {
    int32_t segments = 0;
    std::vector<RdHostVector> points;
    std::vector<RdHostVector> rootUV;
};

inline void count(int delta) {
    if (SimHost* host = SimHost::current()) {
        host->countHandle(delta);
    }
}

// --- handle conversions ---------------------------------------------------------------------
inline SimNode* node(const RdHostNode* n) {
    return const_cast<SimNode*>(reinterpret_cast<const SimNode*>(n));
}
inline RdHostNode* handle(const SimNode* n) {
    return reinterpret_cast<RdHostNode*>(const_cast<SimNode*>(n));
}
// The node as its kind's type; null for another kind or no node.
template <typename T, NodeKind kind>
inline T* nodeOfKind(const RdHostNode* n) {
    SimNode* s = node(n);
    return s && s->kind == kind ? static_cast<T*>(s) : nullptr;
}
inline SimObject* asObject(const RdHostNode* n) {
    return nodeOfKind<SimObject, NodeKind::Object>(n);
}
inline SimTag* asTag(const RdHostNode* n) {
    return nodeOfKind<SimTag, NodeKind::Tag>(n);
}
inline SimMaterial* asMaterial(const RdHostNode* n) {
    return nodeOfKind<SimMaterial, NodeKind::Material>(n);
}
inline SimShader* asShader(const RdHostNode* n) {
    return nodeOfKind<SimShader, NodeKind::Shader>(n);
}
inline SimTrack* asTrack(const RdHostNode* n) {
    return nodeOfKind<SimTrack, NodeKind::Track>(n);
}
// Copies a member of the node out: 1, or 0 when there is no such node or no place to put it.
template <typename Node, typename T>
inline int32_t copyOut(const Node* node, T Node::*member, T* out) {
    if (node == nullptr || out == nullptr) {
        return 0;
    }
    *out = node->*member;
    return 1;
}
inline SimDocument* doc(const RdHostDocument* d) {
    return const_cast<SimDocument*>(reinterpret_cast<const SimDocument*>(d));
}
inline SimString* str(const RdHostString* s) {
    return const_cast<SimString*>(reinterpret_cast<const SimString*>(s));
}
inline SimFilename* fname(const RdHostFilename* f) {
    return const_cast<SimFilename*>(reinterpret_cast<const SimFilename*>(f));
}

inline const SimValue* param(const RdHostNode* n, int32_t id) {
    SimNode* s = node(n);
    if (s == nullptr) {
        return nullptr;
    }
    auto it = s->params.find(id);
    return it == s->params.end() ? nullptr : &it->second;
}

// Whether the active document offers the gradient service (no document: it does).
inline bool gradientService() {
    SimDocument* d = SimHost::current() ? SimHost::current()->activeDocument() : nullptr;
    return d == nullptr || d->gradientService;
}

// A block of the host's memory, zeroed, counted as a live handle until memFree.
void* memAlloc(size_t size);

// Sets the host string's text when there is a string.
void setText(RdHostString* out, const std::string& text);

// Fills the slots of the document, node, object, tag, material, animation and hair operations.
void addDocumentSlots(RdHostInterface& t);

}  // namespace raydeck::hostsim::handles

#endif
