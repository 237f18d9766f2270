// The plug-in entry: start-up and shutdown, registration of the three commands, and the
// commands' execute, which runs their flows at the edge to the host.
#include "plugins/c4d/RaydeckCinema4DPlugin.h"

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "plugins/c4d/CommandFlows.h"
#include "plugins/c4d/host/BaseBitmap.h"
#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/HostInterface.h"
#include "plugins/c4d/host/Registration.h"

namespace raydeck::c4d {

FlowCommand::~FlowCommand() = default;

bool FlowCommand::execute(host::BaseDocument document) {
    runAtCommandEdge(name_, [&] { flow_(*context_, document); });
    return true;
}

RaydeckCinema4DRender::RaydeckCinema4DRender(PluginContext* context)
    : FlowCommand(context, "Render", renderFlow) {}
RaydeckCinema4DUpdate::RaydeckCinema4DUpdate(PluginContext* context)
    : FlowCommand(context, "Update", updateFlow) {}
RaydeckCinema4DExport::RaydeckCinema4DExport(PluginContext* context)
    : FlowCommand(context, "Export", exportFlow) {}

namespace {

// Process-wide state of the entry; the host calls c4d_main on its main thread only.
int32_t g_startCount = 0;
host::Filename* g_pluginPath = nullptr;  // in host memory
// Every context the start routine made. The commands borrow them, so they stay as long as the
// library is loaded, and go with it when it is unloaded instead of leaking.
std::vector<std::unique_ptr<PluginContext>> g_contexts;

constexpr int32_t kAnswerOk = 1;
constexpr int32_t kAnswerUnknown = -1;
constexpr int32_t kAnswerRefused = -3;
constexpr int32_t kAnswerVersion = 5;

int32_t startUp(void* p1, void* p3) {
    g_startCount += 1;
    if (g_startCount != 1) {
        return kAnswerOk;
    }
    const auto* table = static_cast<const RdHostInterface*>(p1);
    if (table == nullptr || table->apiVersion < RD_HOST_API_VERSION || p3 == nullptr) {
        // A refused host's table is not kept: nothing may call into it.
        host::setHostInterface(nullptr);
        return kAnswerRefused;
    }
    host::setHostInterface(table);
    // Without memory the path stays empty: the commands then come without icons.
    g_pluginPath = host::hostNew<host::Filename>();
    if (g_pluginPath != nullptr) {
        g_pluginPath->copyFrom(static_cast<const RdHostFilename*>(p3));
    }
    return kAnswerOk;
}

void registerOne(int32_t id, const char* name, const char* help, const char* iconFile,
                 host::CommandData* command) {
    const std::string helpText(help);
    host::BaseBitmap icon;
    const host::Filename iconPath =
        host::resourceFile(g_pluginPath ? *g_pluginPath : host::Filename(), iconFile);
    if (icon.init(iconPath) != RD_HOST_IMAGE_OK) {
        icon = host::BaseBitmap(nullptr);
    } else {
        icon.setSetting(RD_HOST_BITMAP_SETTING_ICON_SCALE, 1.0);
    }
    const std::string nameText(name);
    if (!host::registerCommand(id, nameText, 0, std::move(icon), helpText, command)) {
        // A refused command stays ours; the host will never free it.
        host::hostDelete(command);
    }
}

void startRoutine() {
    PluginContext* context = nullptr;
    try {
        g_contexts.push_back(std::make_unique<PluginContext>());
        context = g_contexts.back().get();
    } catch (const std::bad_alloc&) {
        return;
    }
    auto* render = host::hostNew<RaydeckCinema4DRender>(context);
    auto* update = host::hostNew<RaydeckCinema4DUpdate>(context);
    auto* exporter = host::hostNew<RaydeckCinema4DExport>(context);
    registerOne(kRenderCommandId, "Render", "Render in Raydeck", "render.png", render);
    registerOne(kUpdateCommandId, "Update", "Update Raydeck scene", "update.png", update);
    registerOne(kExportCommandId, "Export", "Export to .rdk", "export.png", exporter);
}

void end() {
    g_startCount -= 1;
    if (g_startCount != 0) {
        return;
    }
    // The commands and the context stay: the host destroys the commands itself.
    host::hostDelete(g_pluginPath);
    g_pluginPath = nullptr;
}

bool acceptsPluginMessage(void* p1) {
    const auto id = reinterpret_cast<intptr_t>(p1);
    return id == 0 || id == 1;
}

}  // namespace

}  // namespace raydeck::c4d

extern "C" int32_t c4d_main(int32_t message, void* p1, void*, void* p3) {
    namespace rc = raydeck::c4d;
    try {
        switch (message) {
            case RD_HOST_MSG_START:
                return rc::startUp(p1, p3);
            case RD_HOST_MSG_INIT:
                rc::startRoutine();
                return rc::kAnswerOk;
            case RD_HOST_MSG_END:
                rc::end();
                return rc::kAnswerOk;
            case RD_HOST_MSG_VERSION:
                return rc::kAnswerVersion;
            case RD_HOST_MSG_PLUGIN_MESSAGE:
                return rc::acceptsPluginMessage(p1) ? rc::kAnswerOk : rc::kAnswerUnknown;
            default:
                return rc::kAnswerUnknown;
        }
    } catch (const std::exception& e) {
        rc::reportFailure("start-up", e.what());
    } catch (...) {
        rc::reportFailure("start-up", "unexpected failure");
    }
    return rc::kAnswerUnknown;
}
