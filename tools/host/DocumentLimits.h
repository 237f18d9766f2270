// How deep a host document may nest its objects, shared by the document loader, which refuses
// deeper documents, and the scene reader of rdk-inspect, which reads every scene that an export
// of such a document writes.
#ifndef RAYDECK_TOOLS_HOST_DOCUMENTLIMITS_H
#define RAYDECK_TOOLS_HOST_DOCUMENTLIMITS_H

namespace raydeck::hostsim {

// Object levels (children, caches) below the document; the top-level objects are level 1.
constexpr int kMaxObjectDepth = 1024;

// Blocks the scene writer opens beyond one per object level at most: the document's group, an
// object's own blocks (geometry, material, shaders and the shaders captured in them).
constexpr int kSceneBlocksBeyondObjects = 32;

// The largest document file the loader reads (the 4000 x 4000-quad grid takes a third of it).
constexpr unsigned long long kMaxDocumentBytes = 2ull << 30;

}  // namespace raydeck::hostsim

#endif
