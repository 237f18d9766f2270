// Shared by the animation, camera and hair tests: an in-memory host document served by the
// simulator, a builder over a back end that keeps every block's attributes as numbers, and the
// plug-in context wired to both.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/HostContext.h"
#include "tests/importers/sceneapi/RecordingApi.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"
#include "trvSceneapi_oo.h"

namespace raydeck::testing {

// Records every call as text and, per block (animation, geometry, camera, object), every
// attribute's value as numbers: arrays element by element, strings in `text`.
class CaptureApi : public RecordingApi {
  public:
    struct Attr {
        std::string name;
        int type = 0;
        std::vector<double> values;
        std::string text;
    };
    struct Block {
        std::string kind, name;
        std::vector<Attr> attrs;
        const Attr* find(const std::string& n) const {
            for (const Attr& a : attrs) {
                if (a.name == n) {
                    return &a;
                }
            }
            return nullptr;
        }
        const std::vector<double>& values(const std::string& n) const {
            static const std::vector<double> none;
            const Attr* a = find(n);
            return a ? a->values : none;
        }
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
        open("animation", n);
        return RecordingApi::beginAnimation(t, n);
    }
    bool beginGeometry(const char* t) override {
        open("geometry", t);
        return RecordingApi::beginGeometry(t);
    }
    bool beginCamera(const char* n) override {
        open("camera", n);
        return RecordingApi::beginCamera(n);
    }
    bool beginObject(const char* n, bool plain) override {
        open("object", n);
        return RecordingApi::beginObject(n, plain);
    }
    void transform(const double* m) override {
        if (!blocks.empty()) {
            blocks.back().attrs.push_back(Attr{"transform", 9, std::vector<double>(m, m + 16), ""});
        }
        RecordingApi::transform(m);
    }
    bool attribute(const char* n, int type, const void* v) override {
        if (!blocks.empty()) {
            blocks.back().attrs.push_back(decode(n, type, v));
        }
        return RecordingApi::attribute(n, type, v);
    }

  private:
    void open(const char* kind, const char* name) {
        blocks.push_back(Block{kind, name ? name : "(null)", {}});
    }
    static Attr decode(const char* n, int type, const void* v) {
        Attr a{n, type, {}, ""};
        auto take = [&a](const auto* p, size_t count) {
            for (size_t i = 0; i < count; ++i) {
                a.values.push_back(static_cast<double>(p[i]));
            }
        };
        if (type & trvType::array_bit) {
            const trvArray* r = static_cast<const trvArray*>(v);
            switch (type & ~trvType::array_bit) {
                case trvType::int_:
                    take(static_cast<const int32_t*>(r->data), r->count);
                    break;
                case trvType::float_:
                    take(static_cast<const float*>(r->data), r->count);
                    break;
                case trvType::vec3f:
                    take(static_cast<const float*>(r->data), r->count * 3u);
                    break;
                case trvType::matrix:
                    take(static_cast<const double*>(r->data), r->count * 16u);
                    break;
                default:
                    break;
            }
            return a;
        }
        switch (type) {
            case trvType::int_:
            case trvType::bool_:
                take(static_cast<const int32_t*>(v), 1);
                break;
            case trvType::float_:
                take(static_cast<const float*>(v), 1);
                break;
            case trvType::vec3f:
                take(static_cast<const float*>(v), 3);
                break;
            case trvType::vec3d:
                take(static_cast<const double*>(v), 3);
                break;
            case trvType::string:
                a.text = static_cast<const char*>(v);
                break;
            default:
                break;
        }
        return a;
    }
};

class StubFactory : public trv::LightFactory {
  public:
    explicit StubFactory(trvScene_api* api) : api_(api) {}
    trvScene_api* backend() override { return api_; }
    void beginScene(trv::trvSceneapi_oo&) override {}
    void close() override {}

  private:
    trvScene_api* api_;
};

// A document with the given top-level objects (JSON text of the "objects" array's contents).
inline std::string documentWith(const std::string& objects, const std::string& extra = "") {
    return R"({"format": "raydeck-host-document", "version": 1, )" + extra +
           (extra.empty() ? "" : ", ") + R"("objects": [)" + objects + "]}";
}

// Everything a converter needs, for one test.
struct ConverterScene {
    std::unique_ptr<hostsim::SimDocument> doc;
    hostsim::SimHost host;
    CaptureApi api;
    StubFactory factory{&api};
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
