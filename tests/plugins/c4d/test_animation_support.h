// Shared by the animation, camera and hair tests: an in-memory host document served by the
// simulator, a builder over a back end that keeps each block's attributes as numbers, and the
// plug-in context wired to both.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/HostContext.h"
#include "tests/importers/sceneapi/RecordingApi.h"
#include "tests/support/BorrowedFactory.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"
#include "trvSceneapi_oo.h"

namespace raydeck::testing {

// Records every call as text and keeps, per block, every attribute's elements as doubles (or its
// text) and the attribute order.
class CaptureApi : public RecordingApi {
  public:
    struct Block {
        std::string kind, name;
        std::vector<std::string> order;
        std::map<std::string, std::vector<double>> values;
        std::map<std::string, std::string> text;
    };
    std::vector<Block> blocks;

    std::vector<const Block*> of(const std::string& kind) const {
        std::vector<const Block*> out;
        for (const Block& b : blocks) {
            if (b.kind == kind) {
                out.push_back(&b);
            }
        }
        return out;
    }
    bool beginAnimation(const char* t, const char* n) override {
        return open("animation", n) && RecordingApi::beginAnimation(t, n);
    }
    bool beginGeometry(const char* t) override {
        return open("geometry", t) && RecordingApi::beginGeometry(t);
    }
    bool beginCamera(const char* n) override {
        return open("camera", n) && RecordingApi::beginCamera(n);
    }
    bool beginObject(const char* n, bool plain) override {
        return open("object", n) && RecordingApi::beginObject(n, plain);
    }
    void transform(const double* m) override {
        put("transform", m, 16);
        RecordingApi::transform(m);
    }
    bool attribute(const char* n, int type, const void* v) override {
        const int base = type & ~trvType::array_bit;
        const void* p = v;
        size_t count = 1;
        if (type & trvType::array_bit) {
            p = static_cast<const trvArray*>(v)->data;
            count = static_cast<const trvArray*>(v)->count;
        }
        if (base == trvType::int_ || base == trvType::bool_) {
            put(n, static_cast<const int32_t*>(p), count);
        } else if (base == trvType::float_ || base == trvType::vec3f) {
            put(n, static_cast<const float*>(p), base == trvType::vec3f ? 3 * count : count);
        } else if (base == trvType::vec3d || base == trvType::matrix) {
            put(n, static_cast<const double*>(p), base == trvType::matrix ? 16 * count : 3 * count);
        } else if (type == trvType::string && !blocks.empty()) {
            blocks.back().text[n] = static_cast<const char*>(v);
            blocks.back().order.push_back(n);
        } else {
            put(n, static_cast<const int32_t*>(nullptr), 0);
        }
        return RecordingApi::attribute(n, type, v);
    }

  private:
    bool open(const char* kind, const char* name) {
        blocks.push_back(Block{kind, name ? name : "(null)", {}, {}, {}});
        return true;
    }
    template <typename T>
    void put(const char* n, const T* p, size_t count) {
        if (!blocks.empty()) {
            blocks.back().values[n] = std::vector<double>(p, p + count);
            blocks.back().order.push_back(n);
        }
    }
};

// A document with the given top-level objects (the JSON text inside "objects": [...]).
inline std::string documentWith(const std::string& objects, const std::string& extra = "") {
    return R"({"format": "raydeck-host-document", "version": 1, )" + extra +
           (extra.empty() ? "" : ", ") + R"("objects": [)" + objects + "]}";
}

// Everything a converter needs, for one test.
struct ConverterScene {
    std::unique_ptr<hostsim::SimDocument> doc;
    hostsim::SimHost host;
    CaptureApi api;
    BorrowedFactory factory{&api};
    std::unique_ptr<trv::trvSceneapi_oo> builder;
    c4d::PluginContext context;

    explicit ConverterScene(const std::string& json) {
        std::string error;
        doc = hostsim::loadDocumentText(json, "scene.c4d", "", error);
        EXPECT_TRUE(doc) << error;
        host.setActiveDocument(doc.get());
        host::setHostInterface(host.table());
        builder = std::make_unique<trv::trvSceneapi_oo>(&factory);
        api.calls.clear();
        context.builder = builder.get();
        context.document = host::BaseDocument(host.documentHandle());
    }
    ~ConverterScene() { host::setHostInterface(nullptr); }

    // Top-level object i, reached through the host layer.
    host::BaseObject object(int i = 0) const {
        host::BaseObject o = host::BaseObject::firstIn(context.document);
        for (; i > 0 && o; --i) {
            o = o.next();
        }
        return o;
    }
};

}  // namespace raydeck::testing
