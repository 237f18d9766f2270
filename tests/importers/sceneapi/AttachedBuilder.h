// A scene builder over a recording back end, for the builder and node tests.
#pragma once

#include <string>

#include "RecordingApi.h"
#include "trvSceneapi_oo.h"

// Hands out a fixed back end (possibly null) and logs beginScene into the same call list.
class StubFactory : public trv::LightFactory {
  public:
    explicit StubFactory(RecordingApi* api) : api_(api) {}
    trvScene_api* backend() override { return api_; }
    void beginScene(trv::trvSceneapi_oo&) override {
        ++beginScenes;
        if (api_ != nullptr) {
            api_->calls.push_back("factory.beginScene");
        }
    }
    void close() override {}
    int beginScenes = 0;

  private:
    RecordingApi* api_;
};

// Constructs a builder and forgets the construction calls, leaving only what the test does.
struct Attached {
    RecordingApi api;
    StubFactory factory{&api};
    trv::trvSceneapi_oo builder{&factory};
    Attached() { api.calls.clear(); }
};
