// The host's plug-in object bases: BaseData and CommandData. The host calls a registered
// command through its virtual operations, in this slot order:
//   0 destructor, 1 execute(document), 2 executeSubId -> false, 3 executeOptionId -> false,
//   4 getState(document) -> kCommandStateDefault, 5 restoreLayout -> false,
//   6 showInMenu -> true, 7 getScriptName -> empty host string, 8 message(type, data) -> true.
// Command objects live in host memory (hostNew); the host destroys them through the destructor
// and frees them with its allocator.
#ifndef RAYDECK_PLUGINS_C4D_HOST_COMMANDDATA_H
#define RAYDECK_PLUGINS_C4D_HOST_COMMANDDATA_H

#include <cstdint>
#include <type_traits>

#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/HostInterface.h"

namespace raydeck::host {

// The host passes the document to a command by value, as the bare handle it is.
static_assert(std::is_trivially_copyable_v<BaseDocument> &&
                  sizeof(BaseDocument) == sizeof(RdHostDocument*),
              "a document crosses into commands as one pointer");

// The host framework's default command state.
constexpr int32_t kCommandStateDefault = 0x40000000;

class BaseData {
  public:
    virtual ~BaseData();
};

class CommandData : public BaseData {
  public:
    ~CommandData() override;
    // Runs the command on the active document (may be null).
    virtual bool execute(BaseDocument doc) = 0;
    virtual bool executeSubId(BaseDocument doc, int32_t subId);
    virtual bool executeOptionId(BaseDocument doc, int32_t optionId);
    virtual int32_t getState(BaseDocument doc);
    virtual bool restoreLayout(void* secret);
    virtual bool showInMenu();
    // A new host string (caller frees with stringFree), empty; null without a host.
    virtual RdHostString* getScriptName();
    virtual bool message(int32_t type, void* data);
};

}  // namespace raydeck::host

#endif
