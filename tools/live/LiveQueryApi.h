// LiveQueryApi: the stand-in live library's QueryApi. Answers from the renderers'
// announcements in the runtime folder, read afresh on every call.
#pragma once

#include <cstdint>
#include <string>

#include "raydecklive_api.h"

namespace raydeck::live {

class LiveQueryApi : public QueryApi {
  public:
    explicit LiveQueryApi(std::string runtimeFolder) : folder_(std::move(runtimeFolder)) {}
    ~LiveQueryApi() = default;

    // <instances> with one <instance> per announced renderer that is still running.
    const char* instanceList() override;
    // True when that renderer is announced and running; sceneInfo() then describes it.
    bool selectInstance(std::int64_t processId) override;
    void reserved2() override {}
    bool releaseInstance() override;
    void reserved4() override {}
    void reserved5() override {}
    // The selected renderer's scene as it announces it now; null without a selection or when
    // the renderer is gone.
    const char* sceneInfo() override;

  private:
    std::string folder_;
    std::int64_t selected_ = 0;
    std::string answer_;  // the text last returned
};

}  // namespace raydeck::live
