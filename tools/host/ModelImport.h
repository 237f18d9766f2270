// Model files as host documents: any file the Assimp library reads (OBJ, glTF 2, FBX, Collada,
// 3DS, PLY, STL, ...) becomes the same in-memory SimDocument that the JSON loader builds.
//
// Mapping (the source's units as they are; its right-handed coordinates mirrored in z into the
// host's left-handed ones, points, normals, transforms, cameras and animation alike):
//   node                          -> an object whose matrix is the node's local transform
//   node with meshes              -> a polygon object (5100); several meshes are merged into it,
//                                    each material's polygons a selection (5673) with a texture
//                                    tag (5616) restricted to it; one material: one tag for all
//   camera / light node           -> a camera (5103) / light (5102) object
//   other nodes                   -> null objects (5140)
//   faces                         -> triangles and quads as they are; larger polygons are cut
//                                    into a fan of quads (and one triangle when the count is odd)
//   UV channel 0, normals         -> a UVW tag (5671) and a phong tag (5612) with the normals,
//                                    both per polygon corner
//   material                      -> a standard material (5703): diffuse colour (2100), specular
//                                    colour (3100, channel 8), the diffuse texture as a bitmap
//                                    shader (5833) linked from the colour channel (8000)
//   first animation, every node   -> position, rotation, scale tracks ([903|904|905,
//   channel                          1000|1001|1002]) with linear keys; quaternions become
//                                    rotation angles of the object's rotation order (0)
// What a host document cannot hold (bones, morph targets, vertex colours, further UV channels,
// lines and points, faces with a corner at a non-finite position, directional and ambient
// lights, further animations, texture rotations) is skipped with one warning per kind; embedded
// images (named "*0" or, in FBX, by a file name; raw pixels as PNG) are written once each, as
// "image<index>.<format>", to "<model file name>.textures/" beside the
// model (RAYDECK_EMBEDDED_TEXTURES names another folder for it; a per-user folder, named in a
// warning, when it cannot be written) and the bitmap shaders name those files; non-finite
// normals are replaced by the face's normal, with a warning. Faces whose indices name no vertex
// are dropped before Assimp's checks, so that the rest is imported.
// loadHostFile (HostFile.h) sends a model file here by its content.
//
// Usage:
//   std::string error;
//   std::vector<std::string> warnings;
//   auto doc = raydeck::hostsim::importModelFile("model.obj", error, warnings);
//   // null and `error` set on an unreadable model; warnings are "model.obj: skipped ..." lines
#ifndef RAYDECK_TOOLS_HOST_MODELIMPORT_H
#define RAYDECK_TOOLS_HOST_MODELIMPORT_H

#include <memory>
#include <string>
#include <vector>

#include "tools/host/SimDocument.h"

namespace raydeck::hostsim {

// Bounds of a model import in a child process (importModelBounded).
struct ImportBounds {
    // The program to run the import in: raydeck-host itself, which answers
    // kModelImportChildCommand through runModelImportChild. Empty: the import runs in this
    // process, unbounded.
    std::string childProgram;
    uint64_t seconds = 600;
    uint64_t memoryMiB = 8192;
};

// Imports a model file through Assimp. The document's name is the file's name and its folder the
// file's folder, so texture search finds textures beside the model. Null with `error`
// ("<path>: cannot read the model: <reason>") when Assimp cannot read it.
std::unique_ptr<SimDocument> importModelFile(const std::string& path, std::string& error,
                                             std::vector<std::string>& warnings);

// The bounds with RAYDECK_IMPORT_SECONDS and RAYDECK_IMPORT_MEMORY_MIB (positive decimal
// numbers) in place of the defaults; childProgram empty.
ImportBounds importBoundsFromEnvironment();

// Imports a model as importModelFile does, in a child process with the given bounds: a reader
// that crashes, runs out of time or needs more memory ends there, and `error` names the file and
// says which ("<path>: the model reader failed: it crashed (SIGSEGV)"). The document comes back
// whole through a file in a private temporary folder, which is removed however it ends.
std::unique_ptr<SimDocument> importModelBounded(const std::string& path, const ImportBounds& bounds,
                                                std::string& error,
                                                std::vector<std::string>& warnings);

// The child's side: `args` are the model, the result file and the memory bound in MiB (what
// follows kModelImportChildCommand). Exit code 0 with a document, 2 with an error, 3 when the
// arguments or the result file are wrong.
extern const char* const kModelImportChildCommand;
int runModelImportChild(const std::vector<std::string>& args);

// The import result as bytes and back (a document or an error, with the warnings).
bool encodeImportResult(const SimDocument* doc, const std::string& error,
                        const std::vector<std::string>& warnings, std::string& out);
std::unique_ptr<SimDocument> decodeImportResult(const std::string& bytes, std::string& error,
                                                std::vector<std::string>& warnings);

// Rotation angles for `order` (as rotationMatrix defines it) that reproduce the rotation whose
// axes are the columns of r (orthonormal, determinant 1). With `previous`, the equivalent
// angles nearest to it are chosen, so that keys interpolate the short way.
RdHostVector anglesForRotation(const double r[3][3], int32_t order,
                               const RdHostVector* previous = nullptr);

}  // namespace raydeck::hostsim

#endif
