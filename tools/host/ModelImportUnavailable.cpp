// Host files for builds without Assimp (the Windows cross build: Debian has no mingw Assimp):
// host documents only; a model file gets a message saying that this build cannot read it.
// The file is opened by its UTF-16 name, so that names outside the ANSI code page work.
#include <cstdio>
#include <filesystem>

#include "platform/file.h"
#include "platform/utf.h"
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
    std::u16string wide;
    FILE* file = nullptr;
    if (!platform::utf8ToUtf16(path, wide).ok() || !platform::openFile(wide, u"rb", file).ok()) {
        error = path + ": cannot open the document file";
        return nullptr;
    }
    std::string text;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = path + ": cannot read the document file";
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
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path full = fs::absolute(fs::u8path(path), ec);
    if (ec) {
        full = fs::u8path(path);
    }
    full = full.lexically_normal();
    return loadDocumentText(text, full.filename().u8string(), full.parent_path().u8string(), error,
                            path);
}

}  // namespace raydeck::hostsim
