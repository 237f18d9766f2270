// The Export, Render and Update flows.
#include "plugins/c4d/CommandFlows.h"

#include <memory>

#include "plugins/c4d/PluginIds.h"
#include "plugins/c4d/convert/DocumentWalk.h"
#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/HostInterface.h"
#include "plugins/c4d/host/String.h"

namespace raydeck::c4d {

namespace {

// The running command's builder: published in the context while it exists, deleted (and the
// context cleared) before the factory it borrows from goes, also when the conversion throws.
class ScopedBuilder {
  public:
    ScopedBuilder(PluginContext& context, trv::LightFactory& factory)
        : context_(context), builder_(new trv::trvSceneapi_oo(&factory)) {
        context_.builder = builder_.get();
    }
    ~ScopedBuilder() {
        builder_.reset();
        context_.builder = nullptr;
    }
    ScopedBuilder(const ScopedBuilder&) = delete;
    ScopedBuilder& operator=(const ScopedBuilder&) = delete;

    trv::trvSceneapi_oo& operator*() const { return *builder_; }
    trv::trvSceneapi_oo* operator->() const { return builder_.get(); }

  private:
    PluginContext& context_;
    std::unique_ptr<trv::trvSceneapi_oo> builder_;
};

void writeScene(PluginContext& context, const host::BaseDocument& document,
                trv::trvSceneapi_oo& builder, bool adjustCameraAndEnvironment) {
    struct EndCommand {
        PluginContext& context;
        ~EndCommand() {
            if (context.statusPercent >= 0) {
                host::statusClear();
                context.statusPercent = -1;
            }
            context.endCommand();
        }
    } endCommand{context};
    trv::DefaultRTModule module;
    setImportOptions(module, adjustCameraAndEnvironment);
    builder.apply(module);
    convertDocument(context, document);
}

// The live link's reason without its line end: one console line.
std::string oneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

void reportFailure(const char* command, const std::string& reason) noexcept {
    try {
        host::consolePrint(std::string("Raydeck ") + command + ": " + oneLine(reason));
    } catch (...) {
        // Out of memory while reporting: nothing more can be said.
    }
}

void setImportOptions(trv::DefaultRTModule& module, bool adjustCameraAndEnvironment) {
    module.setImportMode(true);
    module.setMergeGroups(false);
    module.setMergeObjects(false);
    module.setAdjustEnvironment(adjustCameraAndEnvironment);
    module.setAdjustCamera(adjustCameraAndEnvironment);
    module.setKeepOriginal(true);
    module.setUpVector(1);
    module.setMeterScale(100.0f);
    module.setSnapToGround(false);
    module.setCenterGeometry(false);
    module.setExt(false);
}

bool exportFlow(PluginContext& context, const host::BaseDocument& document) {
    host::Filename name;
    name.setDirectory("%USERDATA%");
    name.setFile("untitled");
    name.setSuffix("rdk");
    if (!name.select(RD_HOST_FILESELECT_ANY, RD_HOST_FILESELECT_SAVE, "Export to .rdk", "rdk")) {
        return false;
    }
    context.selectionOnly = false;

    std::string path;
    host::String text;
    if (!name.getString(text) || !text.toUtf8(path)) {
        reportFailure("Export", "the chosen file name cannot be converted to UTF-8");
        return false;
    }

    trv::LightFileFactory factory(path);
    // Until the conversion has finished, leaving this flow keeps the older file.
    struct CancelUnlessFinished {
        trv::LightFileFactory& factory;
        bool finished = false;
        ~CancelUnlessFinished() {
            if (!finished) {
                factory.cancel();
            }
        }
    } guard{factory};
    {
        ScopedBuilder builder(context, factory);
        if (builder->backend() != nullptr) {
            writeScene(context, document, *builder, true);
        }
    }
    guard.finished = true;
    const size_t clamped = factory.clampedValues();
    const std::string where = factory.firstClamped();
    // Explicitly, so that a failed write or close reaches the user instead of vanishing in the
    // destructor.
    factory.close();
    if (clamped > 0) {
        // Not a failure: the scene is whole, but the user should know it differs from the host.
        host::consoleWarning("Export: " + std::to_string(clamped) +
                             (clamped == 1 ? " value" : " values") +
                             " without a finite form (infinity, NaN, or beyond the float range) "
                             "written as the nearest finite value, the first in \"" +
                             where + "\"");
    }
    return true;
}

bool liveFlow(PluginContext& context, const host::BaseDocument& document, LiveCommand command,
              trv::RepeatLinkFactory& factory) {
    const bool update = command == LiveCommand::Update;
    context.selectionOnly = update;
    factory.setSceneName(update ? documentSceneName(document) : std::string());
    factory.setAcceptAnyInstance(update);
    factory.setVersionRange(kMinRendererVersion, kMaxRendererVersion);

    const char* name = update ? "Update" : "Render";
    bool connected = false;
    {
        ScopedBuilder builder(context, factory);
        if (builder->backend() == nullptr) {
            const std::string& reason = factory.lastError();
            reportFailure(name, reason.empty() ? "Failed to connect to a renderer." : reason);
        } else {
            connected = true;
            // Update adjusts camera and environment only in a renderer that already holds the
            // scene; Render names no scene, so it never finds one and always adjusts.
            const bool adjust = update ? factory.sceneFound() : !factory.sceneFound();
            writeScene(context, document, *builder, adjust);
        }
    }
    factory.close();
    // A stream that broke on the way must not pass for a delivered scene.
    if (connected && !factory.lastError().empty()) {
        reportFailure(name, factory.lastError());
    }
    return true;
}

bool renderFlow(PluginContext& context, const host::BaseDocument& document) {
    trv::RepeatLinkFactory factory;
    return liveFlow(context, document, LiveCommand::Render, factory);
}

bool updateFlow(PluginContext& context, const host::BaseDocument& document) {
    trv::RepeatLinkFactory factory;
    return liveFlow(context, document, LiveCommand::Update, factory);
}

}  // namespace raydeck::c4d
