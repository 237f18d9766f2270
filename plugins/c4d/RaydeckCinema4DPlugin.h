// The plug-in module: the entry c4d_main (the library's only export) and the three commands it
// registers with the host, Render, Update and Export, which share one PluginContext.
#pragma once

#include <cstdint>

#include "platform/export.h"
#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/CommandData.h"

namespace raydeck::c4d {

// Host plug-in IDs of the commands.
constexpr int32_t kRenderCommandId = 1033591;
constexpr int32_t kUpdateCommandId = 1034393;
constexpr int32_t kExportCommandId = 1034420;

// The commands live in host memory (the host destroys and frees them) and borrow the context.
// execute runs the command's flow, reports its failures on the host console and answers true.
class RaydeckCinema4DRender : public host::CommandData {
  public:
    explicit RaydeckCinema4DRender(PluginContext* context) : context_(context) {}
    ~RaydeckCinema4DRender() override;
    bool execute(host::BaseDocument document) override;

  private:
    PluginContext* context_;  // shared, not owned
};

class RaydeckCinema4DUpdate : public host::CommandData {
  public:
    explicit RaydeckCinema4DUpdate(PluginContext* context) : context_(context) {}
    ~RaydeckCinema4DUpdate() override;
    bool execute(host::BaseDocument document) override;

  private:
    PluginContext* context_;  // shared, not owned
};

class RaydeckCinema4DExport : public host::CommandData {
  public:
    explicit RaydeckCinema4DExport(PluginContext* context) : context_(context) {}
    ~RaydeckCinema4DExport() override;
    bool execute(host::BaseDocument document) override;

  private:
    PluginContext* context_;  // shared, not owned
};

}  // namespace raydeck::c4d

// The host's entry: start-up (1), initialise (2), end (3), version query (4), plug-in message
// (6). Never throws.
extern "C" RAYDECK_EXPORT int32_t c4d_main(int32_t message, void* p1, void* p2, void* p3);
