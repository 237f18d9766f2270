// The three command flows: open a sink, write the import options, convert the document, tear
// everything down again. Export writes a scene file chosen in the save dialog; Render and Update
// stream into a running renderer through the live link.
#pragma once

#include <exception>
#include <string>

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/host/BaseDocument.h"
#include "trvFactories.h"
#include "trvNodes.h"
#include "trvSceneapi_oo.h"

namespace raydeck::c4d {

enum class LiveCommand { Render, Update };

// The import options every flow writes: all fixed except the camera and environment adjustment.
void setImportOptions(trv::DefaultRTModule& module, bool adjustCameraAndEnvironment);

// Export: save dialog, then the scene file. Answers whether a sink was created. Throws the file
// sink's trv::FileSinkError when the file cannot be opened or closed; the builder is gone and
// context.builder is null by then. A conversion that throws leaves an older file as it was.
bool exportFlow(PluginContext& context, const host::BaseDocument& document);

// Render / Update: streams into a renderer. Answers true. When no renderer can be reached the
// factory's reason is printed on the host console and nothing is converted.
bool renderFlow(PluginContext& context, const host::BaseDocument& document);
bool updateFlow(PluginContext& context, const host::BaseDocument& document);

// The live flows on a given factory, which they configure (scene name, any-instance switch,
// versions 7 to 8) before connecting: the seam for driving them without a renderer.
bool liveFlow(PluginContext& context, const host::BaseDocument& document, LiveCommand command,
              trv::RepeatLinkFactory& factory);

// Runs a flow at the command edge: whatever it throws is reported on the host console as
// "Raydeck <command>: <reason>" and goes no further; for the file sink's failures the reason
// names the file and what the system said.
template <typename Flow>
void runAtCommandEdge(const char* command, Flow&& flow) noexcept;

// Reports a failure of command `command` on the host console; never throws.
void reportFailure(const char* command, const std::string& reason) noexcept;

template <typename Flow>
void runAtCommandEdge(const char* command, Flow&& flow) noexcept {
    try {
        flow();
    } catch (const trv::FileSinkError& e) {
        // The host's console shows only this line: it names the file and the system's reason.
        reportFailure(command, e.explanation());
    } catch (const std::exception& e) {
        reportFailure(command, e.what());
    } catch (...) {
        reportFailure(command, "unexpected failure");
    }
}

}  // namespace raydeck::c4d
