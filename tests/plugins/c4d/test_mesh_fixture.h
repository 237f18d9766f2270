// Shared set-up of the material, mesh and light tests: an in-memory host document bound to the
// host layer, a plug-in context whose builder writes to a recording back end (or a text writer),
// and helpers to reach the document's nodes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/convert/TextureTagList.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/HostContext.h"
#include "tests/importers/sceneapi/RecordingApi.h"
#include "tests/support/BorrowedFactory.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"
#include "trvScene_api_file.h"
#include "trvSceneapi_oo.h"

namespace raydeck::c4d::testing {

inline std::string documentJson(const std::string& objects, const std::string& materials = "[]",
                                const std::string& layers = "[]") {
    return R"({"format": "raydeck-host-document", "version": 1, "layers": )" + layers +
           R"(, "materials": )" + materials + R"(, "objects": )" + objects + "}";
}

class ConverterTest : public ::testing::Test {
  protected:
    // Loads the document and points the context at it; the context survives reloads, as the
    // plug-in's does between command runs.
    void load(const std::string& json, const std::string& folder = "") {
        std::string error;
        doc_ = hostsim::loadDocumentText(json, "scene.c4d", folder, error);
        ASSERT_TRUE(doc_) << error;
        host_.setActiveDocument(doc_.get());
        host::setHostInterface(host_.table());
        context.document = host::BaseDocument(host_.documentHandle());
        context.documentFolder = doc_->folder;
        recordTo(&recording);
    }
    void recordTo(trvScene_api* api) {
        factory_ = std::make_unique<BorrowedFactory>(api);
        builder_ = std::make_unique<trv::trvSceneapi_oo>(factory_.get());
        context.builder = builder_.get();
        recording.calls.clear();
    }
    void TearDown() override {
        context.builder = nullptr;
        builder_.reset();
        host::setHostInterface(nullptr);
    }

    hostsim::SimObject* simObject(const std::string& name) const {
        for (hostsim::SimObject* o : doc_->allObjects()) {
            if (o->name == name) {
                return o;
            }
        }
        ADD_FAILURE() << "no object " << name;
        return nullptr;
    }
    host::BaseObject object(const std::string& name) const {
        return host::BaseObject(reinterpret_cast<RdHostNode*>(simObject(name)));
    }
    static host::BaseTag tagHandle(hostsim::SimTag* tag) {
        return host::BaseTag(reinterpret_cast<RdHostNode*>(tag));
    }
    // The walk's list for a top-level object: the null entry, then the object's texture tags.
    TextureTagList textureTags(const std::string& name) const {
        TextureTagList list{host::BaseTag()};
        for (auto& t : simObject(name)->tags) {
            if (t->type == host::kTagTexture || t->type == host::kTagHairMaterial) {
                list.push_back(tagHandle(t.get()));
            }
        }
        return list;
    }

    // Recorded calls that start with `prefix`.
    std::vector<std::string> calls(const std::string& prefix) const {
        return recording.callsStarting(prefix);
    }
    // The recorded value text of attribute `name` in the n-th object (0-based), or "" if absent.
    std::string attributeOf(int objectIndex, const std::string& name) const {
        int seen = -1;
        const std::string key = "attribute " + name + " ";
        for (const std::string& c : recording.calls) {
            if (c.compare(0, 12, "beginObject ") == 0) {
                ++seen;
            } else if (seen == objectIndex && c.compare(0, key.size(), key) == 0) {
                const size_t typeEnd = c.find(' ', key.size());
                return c.substr(typeEnd + 1);
            }
        }
        return "";
    }
    // Whether the attributes of the n-th object have these value texts ("" for an absent one).
    ::testing::AssertionResult hasAttributes(
        int objectIndex, const std::vector<std::pair<std::string, std::string>>& expected) const {
        std::string wrong;
        for (const auto& [name, value] : expected) {
            const std::string got = attributeOf(objectIndex, name);
            if (got != value) {
                wrong += "\n  " + name + " is \"" + got + "\", expected \"" + value + "\"";
            }
        }
        if (wrong.empty()) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "object " << objectIndex << ":" << wrong;
    }

    RecordingApi recording;
    PluginContext context;
    std::unique_ptr<hostsim::SimDocument> doc_;
    hostsim::SimHost host_;

  private:
    std::unique_ptr<BorrowedFactory> factory_;
    std::unique_ptr<trv::trvSceneapi_oo> builder_;
};

}  // namespace raydeck::c4d::testing
