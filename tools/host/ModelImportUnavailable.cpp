// Host files for builds without Assimp (the Windows cross build: Debian has no mingw Assimp):
// host documents only; a model file gets a message saying that this build cannot read it.
#include "tools/host/ModelImport.h"

namespace raydeck::hostsim {

std::unique_ptr<SimDocument> importModelFile(const std::string& path, std::string& error,
                                             std::vector<std::string>&) {
    error = path +
            ": cannot read the model: this raydeck-host was built without Assimp; "
            "only host documents (JSON) can be read";
    return nullptr;
}

std::unique_ptr<SimDocument> loadHostFile(const std::string& path, std::string& error,
                                          std::vector<std::string>& warnings) {
    std::string text;
    if (!readDocumentFile(path, text, error)) {
        return nullptr;
    }
    // Host documents are JSON (comments allowed) naming their "format"; glTF names an "asset";
    // anything that does not start like JSON is some other model format.
    const size_t first = text.find_first_not_of(" \t\r\n");
    const bool json = first != std::string::npos && (text[first] == '{' || text[first] == '/');
    const bool format = text.find("\"format\"") != std::string::npos;
    const bool gltf = !format && text.find("\"asset\"") != std::string::npos;
    if (!json || gltf) {
        return importModelFile(path, error, warnings);
    }
    std::string fileName, folder;
    documentNameAndFolder(path, fileName, folder);
    return loadDocumentText(text, fileName, folder, error, path);
}

}  // namespace raydeck::hostsim
