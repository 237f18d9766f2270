// A sink factory over a back end that the test or benchmark owns: converters write through a
// builder on it.
#pragma once

#include "trvSceneapi_oo.h"

class BorrowedFactory : public trv::LightFactory {
  public:
    explicit BorrowedFactory(trvScene_api* api) : api_(api) {}
    trvScene_api* backend() override { return api_; }
    void beginScene(trv::trvSceneapi_oo&) override {}
    void close() override {}

  private:
    trvScene_api* api_;
};
