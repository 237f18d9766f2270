// Model files in builds without Assimp (the Windows cross build: Debian has no mingw Assimp): a
// model file gets a message saying that this build cannot read it; host documents still load.
#include "tools/host/ModelImport.h"

namespace raydeck::hostsim {

std::unique_ptr<SimDocument> importModelFile(const std::string& path, std::string& error,
                                             std::vector<std::string>&) {
    error = path +
            ": cannot read the model: this raydeck-host was built without Assimp; "
            "only host documents (JSON) can be read";
    return nullptr;
}

}  // namespace raydeck::hostsim
