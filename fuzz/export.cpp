// Fuzz target: the whole Export of a host document, as the Export command runs it (import
// options, then the conversion of every camera, object, mesh, material, light, hair and track)
// through the scene text writer with packed arrays, into a stream that only counts its bytes.
#include <stdio.h>

#include <string>

#include "fuzz/FuzzTargets.h"
#include "plugins/c4d/CommandFlows.h"
#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/convert/DocumentWalk.h"
#include "plugins/c4d/host/HostContext.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"
#include "trvNodes.h"
#include "trvScene_api_file.h"
#include "trvSceneapi_oo.h"

namespace raydeck::fuzz {

namespace {

// The scene is kept in memory only as its size: a document may rightly export far more than an
// input's length, and nothing here reads it back.
ssize_t countBytes(void* cookie, const char*, size_t size) {
    *static_cast<size_t*>(cookie) += size;
    return static_cast<ssize_t>(size);
}

class WriterFactory : public trv::LightFactory {
  public:
    explicit WriterFactory(trvScene_api* api) : api_(api) {}
    trvScene_api* backend() override { return api_; }
    void beginScene(trv::trvSceneapi_oo&) override {}
    void close() override {}

  private:
    trvScene_api* api_;
};

}  // namespace

int exportDocument(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto doc = hostsim::loadDocumentText(text, "fuzz.c4d", "/nonexistent-fuzz-folder", error);
    if (!doc) {
        return 0;
    }
    size_t written = 0;
    cookie_io_functions_t io{};
    io.write = countBytes;
    FILE* stream = fopencookie(&written, "w", io);
    if (stream == nullptr) {
        return 0;
    }
    hostsim::SimHost host;
    host.setActiveDocument(doc.get());
    host::setHostInterface(host.table());
    {
        trvScene_api_file api(stream, true);
        WriterFactory factory(&api);
        c4d::PluginContext context;
        trv::trvSceneapi_oo builder(&factory);
        context.builder = &builder;
        context.document = host::BaseDocument(host.documentHandle());
        trv::DefaultRTModule module;
        c4d::setImportOptions(module, true);
        builder.apply(module);
        c4d::convertDocument(context, context.document);
        context.builder = nullptr;
    }
    host::setHostInterface(nullptr);
    fclose(stream);
    return 0;
}

}  // namespace raydeck::fuzz
