// The host simulator's host: the host interface table answered from a SimDocument, the
// console, the save dialog's answer, command registrations and handle bookkeeping.
//
// Usage:
//   auto doc = raydeck::hostsim::loadDocumentText(json, "scene.c4d", "/tmp/docs", error);
//   raydeck::hostsim::SimHost host;          // at most one alive at a time
//   host.setActiveDocument(doc.get());
//   host.setSaveDialogAnswer("/tmp/out.rdk"); // or std::nullopt: the dialog is cancelled
//   raydeck::host::setHostInterface(host.table());
//   ... run converters or commands on raydeck::host::BaseDocument(host.documentHandle()) ...
//   host.consoleLines();                      // what the plug-in printed
#ifndef RAYDECK_TOOLS_HOST_SIMHOST_H
#define RAYDECK_TOOLS_HOST_SIMHOST_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "plugins/c4d/host/HostInterface.h"
#include "tools/host/SimDocument.h"

namespace raydeck::hostsim {

class SimHost {
  public:
    struct Registration {
        int32_t pluginId = 0;
        int32_t apiVersion = 0;
        int32_t pluginKind = 0;
        int32_t info = 0;
        std::string name;
        std::string help;
        std::string icon;         // file name of the loaded icon, "" without one
        double iconScale = 0.0;   // bitmap setting 100
        void* command = nullptr;  // a raydeck::host::CommandData*
    };
    struct DialogCall {
        std::string initialName;
        int32_t type = 0;
        int32_t mode = 0;
        std::string title;
        std::string forcedSuffix;
    };

    SimHost();
    ~SimHost();  // frees the icons; destroyCommands() must have run if commands exist
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    // The table (API version 16000) bound to this host.
    const RdHostInterface* table() const;
    // The host answering the table's operations now, or null.
    static SimHost* current();

    void setActiveDocument(SimDocument* doc) { document_ = doc; }
    SimDocument* activeDocument() const { return document_; }
    RdHostDocument* documentHandle() const { return reinterpret_cast<RdHostDocument*>(document_); }

    // The save dialog's answer: a path (kept as given), or nullopt to cancel.
    void setSaveDialogAnswer(std::optional<std::string> answer) { dialogAnswer_ = answer; }
    const std::vector<DialogCall>& dialogCalls() const { return dialogCalls_; }

    // Lines printed through the console operation, in order.
    const std::vector<std::string>& consoleLines() const { return console_; }
    void clearConsole() { console_.clear(); }

    // The status bar: each call of the status operation, in order (a negative percent clears),
    // and a listener that sees each as it comes (raydeck-host's progress line).
    struct StatusUpdate {
        std::string text;
        int percent = -1;
    };
    const std::vector<StatusUpdate>& statusUpdates() const { return status_; }
    void setStatusListener(std::function<void(const StatusUpdate&)> listener) {
        statusListener_ = std::move(listener);
    }

    const std::vector<Registration>& registrations() const { return registrations_; }
    // Destroys every registered command object through its destructor and frees it.
    void destroyCommands();

    // Handles and blocks handed out and not yet freed (strings, file names, bitmaps, atom
    // arrays, hair guides, memory blocks), for leak checks; icons owned by the host excluded.
    int64_t liveHandles() const { return live_; }

    // Internal bookkeeping used by the table's operations.
    void addConsoleLine(std::string line) { console_.push_back(std::move(line)); }
    void addStatus(StatusUpdate update) {
        if (statusListener_) {
            statusListener_(update);
        }
        status_.push_back(std::move(update));
    }
    void addRegistration(Registration r) { registrations_.push_back(std::move(r)); }
    std::optional<std::string> answerDialog(DialogCall call) {
        dialogCalls_.push_back(std::move(call));
        return dialogAnswer_;
    }
    void countHandle(int delta) { live_ += delta; }
    void adoptIcon(RdHostBitmap* icon) { icons_.push_back(icon); }

  private:
    SimDocument* document_ = nullptr;
    std::optional<std::string> dialogAnswer_;
    std::vector<DialogCall> dialogCalls_;
    std::vector<std::string> console_;
    std::vector<StatusUpdate> status_;
    std::function<void(const StatusUpdate&)> statusListener_;
    std::vector<Registration> registrations_;
    std::vector<RdHostBitmap*> icons_;
    int64_t live_ = 0;
};

}  // namespace raydeck::hostsim

#endif
