// Fuzz target: the renderers' query XML through the link's own parsing and choice. The input is
// split at NUL bytes: the instance list first, then one scene description per selected renderer
// in the order they are asked for. The first byte of the list also picks the choice's settings.
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "importers/sceneapi/dev/raydecklive_api.h"
#include "importers/sceneapi/dev/raydecklive_link.h"

namespace raydeck::fuzz {

namespace {

class ScriptedQuery : public QueryApi {
  public:
    explicit ScriptedQuery(std::vector<std::string> parts) : parts_(std::move(parts)) {}

    const char* instanceList() override { return parts_[0].c_str(); }
    bool selectInstance(std::int64_t processId) override { return processId % 7 != 3; }
    void reserved2() override {}
    bool releaseInstance() override { return true; }
    void reserved4() override {}
    void reserved5() override {}
    const char* sceneInfo() override {
        // Past the last description: no information, as a renderer that went away.
        return next_ < parts_.size() ? parts_[next_++].c_str() : nullptr;
    }

  private:
    std::vector<std::string> parts_;
    std::size_t next_ = 1;
};

}  // namespace

int queryXml(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> parts = splitAtNul(data, size);
    const unsigned settings = parts[0].empty() ? 0 : static_cast<unsigned char>(parts[0][0]);
    ScriptedQuery query(std::move(parts));
    trv::link::LinkState state;
    state.minVersion = 7;
    state.maxVersion = (settings & 1) != 0 ? 8 : 20;
    state.acceptAnyInstance = (settings & 2) != 0;
    state.sceneName = (settings & 4) != 0 ? "untitled" : "";
    const std::vector<trv::link::RendererInstance> list = trv::link::listInstances(query, state);
    (void)trv::link::chooseInstance(query, list, state);
    return 0;
}

}  // namespace raydeck::fuzz
