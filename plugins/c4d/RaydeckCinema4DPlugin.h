// The plug-in module: the entry c4d_main (the library's only export) and the three commands it
// registers with the host, Render, Update and Export, which share one PluginContext.
#pragma once

#include <cstdint>

#include "platform/export.h"
#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/PluginIds.h"
#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/CommandData.h"

namespace raydeck::c4d {

// A command that runs one flow on the active document. Commands live in host memory (the host
// destroys and frees them) and borrow the context. execute runs the flow, reports its failures on
// the host console and answers true.
class FlowCommand : public host::CommandData {
  public:
    using Flow = bool (*)(PluginContext&, const host::BaseDocument&);
    // `name` (static text) heads the command's failure reports.
    FlowCommand(PluginContext* context, const char* name, Flow flow)
        : context_(context), name_(name), flow_(flow) {}
    ~FlowCommand() override;
    bool execute(host::BaseDocument document) override;

  private:
    PluginContext* context_;  // shared, not owned
    const char* name_;
    Flow flow_;
};

class RaydeckCinema4DRender : public FlowCommand {
  public:
    explicit RaydeckCinema4DRender(PluginContext* context);
};
class RaydeckCinema4DUpdate : public FlowCommand {
  public:
    explicit RaydeckCinema4DUpdate(PluginContext* context);
};
class RaydeckCinema4DExport : public FlowCommand {
  public:
    explicit RaydeckCinema4DExport(PluginContext* context);
};

}  // namespace raydeck::c4d

// The host's entry: start-up (1), initialise (2), end (3), version query (4), plug-in message
// (6). Never throws.
extern "C" RAYDECK_EXPORT int32_t c4d_main(int32_t message, void* p1, void* p2, void* p3);
