// The objects of the renderer's live library as the renderer link uses them. The slot order of
// LiveRoot and QueryApi is a binary contract with the library, like trvScene_api's.
#pragma once

#include <cstdint>

#include "trvScene_api.h"

class QueryApi;

// Returned by the library's export "raydeck_live_initialize"; the loader owns it.
class LiveRoot {
  public:
    virtual ~LiveRoot() {}                 // 0
    virtual trvScene_api* sceneApi() = 0;  // 1: valid until the root is deleted
    virtual QueryApi* queryApi() = 0;      // 2: valid until the root is deleted
};

// Lists the running renderers and describes their scenes. Returned texts belong to the library
// and stay valid until the next call on the same object; null means no information.
class QueryApi {
  public:
    virtual const char* instanceList() = 0;                   // 0: XML list of running renderers
    virtual bool selectInstance(std::int64_t processId) = 0;  // 1: aims sceneInfo() at a renderer
    virtual void reserved2() = 0;                             // 2
    virtual bool releaseInstance() = 0;                       // 3: ends the selection
    virtual void reserved4() = 0;                             // 4
    virtual void reserved5() = 0;                             // 5
    virtual const char* sceneInfo() = 0;                      // 6: XML of the selected scene

  protected:
    ~QueryApi() {}  // never deleted through this interface: the root owns it
};

// The signature of "raydeck_live_initialize".
extern "C" {
typedef LiveRoot* (*raydeck_live_initialize_fn)();
}
