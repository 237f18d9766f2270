// Host files: a host document (JSON) or a model file, told apart by content, so that one command
// line takes either. The same in every build; a build without Assimp refuses model files.
//
// Usage:
//   std::string error;
//   std::vector<std::string> warnings;
//   auto doc = raydeck::hostsim::loadHostFile("model.obj", error, warnings);
//   // null and `error` set on a bad document or an unreadable model; warnings are
//   // "model.obj: skipped ..." lines
#ifndef RAYDECK_TOOLS_HOST_HOSTFILE_H
#define RAYDECK_TOOLS_HOST_HOSTFILE_H

#include <memory>
#include <string>
#include <vector>

#include "tools/host/ModelImport.h"
#include "tools/host/SimDocument.h"

namespace raydeck::hostsim {

// How a file's content is read.
enum class FileKind {
    HostDocument,  // JSON with a "format" member, or JSON that is no glTF: the JSON loader
    Model,         // anything else: Assimp
    JsonOrModel,   // broken JSON: Assimp if it reads it, else the JSON loader's error
};

// Decides by content: JSON whose top-level object has "format" is a host document (also when it
// breaks off later, so that its JSON error is reported); a top-level "asset" marks glTF.
FileKind classifyFileContent(const std::string& content);

// Reads a host document file or a model file, decided by content. A folder, an empty file and a
// file that cannot be opened or read are refused with that reason (the system's, where it has
// one) before either reader sees them.
// Model files are imported under `bounds` (in this process when its childProgram is empty).
std::unique_ptr<SimDocument> loadHostFile(const std::string& path, std::string& error,
                                          std::vector<std::string>& warnings,
                                          const ImportBounds& bounds = ImportBounds());

}  // namespace raydeck::hostsim

#endif
