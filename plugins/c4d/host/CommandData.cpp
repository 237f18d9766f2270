// The host framework's default answers of a command's operations.
#include "plugins/c4d/host/CommandData.h"

#include "plugins/c4d/host/HostContext.h"

namespace raydeck::host {

BaseData::~BaseData() = default;

CommandData::~CommandData() = default;

bool CommandData::executeSubId(BaseDocument, int32_t) {
    return false;
}

bool CommandData::executeOptionId(BaseDocument, int32_t) {
    return false;
}

int32_t CommandData::getState(BaseDocument) {
    return kCommandStateDefault;
}

bool CommandData::restoreLayout(void*) {
    return false;
}

bool CommandData::showInMenu() {
    return true;
}

RdHostString* CommandData::getScriptName() {
    auto fn = hostOp(&RdHostInterface::stringAlloc);
    return fn ? fn() : nullptr;
}

bool CommandData::message(int32_t, void*) {
    return true;
}

}  // namespace raydeck::host
