// The conversion driver and the object walk, recorded through the scene interface: call order,
// visibility and selection rules, progress, names, time handling and deep hierarchies.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/convert/DocumentWalk.h"
#include "plugins/c4d/host/HostContext.h"
#include "tests/importers/sceneapi/RecordingApi.h"
#include "tests/support/DeepDocument.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"

using raydeck::c4d::PluginContext;

namespace {

class RecordingFactory : public trv::LightFactory {
  public:
    RecordingApi api;
    trvScene_api* backend() override { return &api; }
    void beginScene(trv::trvSceneapi_oo&) override {}
    void close() override {}
};

const char* const kIdentity = "1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1";

class DocumentWalk : public ::testing::Test {
  protected:
    void SetUp() override { raydeck::host::setHostInterface(host_.table()); }
    void TearDown() override { raydeck::host::setHostInterface(nullptr); }

    // Loads a document whose "objects" array is `objects`, saved as scene.c4d.
    void load(const std::string& objects, const std::string& extra = "") {
        std::string error;
        doc_ = raydeck::hostsim::loadDocumentText(
            R"({"format": "raydeck-host-document", "version": 1, )" + extra + R"("objects": )" +
                objects + "}",
            "scene.c4d", "/docs", error);
        ASSERT_TRUE(doc_) << error;
        host_.setActiveDocument(doc_.get());
    }
    // Runs the conversion; answers the recorded calls after the builder's own banner.
    const std::vector<std::string>& convert() {
        builder_ = std::make_unique<trv::trvSceneapi_oo>(&factory_);
        factory_.api.calls.clear();
        context_.builder = builder_.get();
        raydeck::c4d::convertDocument(context_,
                                      raydeck::host::BaseDocument(host_.documentHandle()));
        context_.builder = nullptr;
        return factory_.api.calls;
    }
    // The recorded calls of the walk's own kinds (groups, flags, transforms, progress, objects).
    std::vector<std::string> walkCalls() const {
        std::vector<std::string> out;
        for (const std::string& c : factory_.api.calls) {
            for (const char* op : {"beginGroup ", "endGroup", "flags ", "transform ", "progress ",
                                   "declareAttribute ", "beginObject "}) {
                if (c.rfind(op, 0) == 0) {
                    out.push_back(c);
                }
            }
        }
        return out;
    }
    int count(const std::string& prefix) const {
        return static_cast<int>(
            std::count_if(factory_.api.calls.begin(), factory_.api.calls.end(),
                          [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
    }

    raydeck::hostsim::SimHost host_;
    std::unique_ptr<raydeck::hostsim::SimDocument> doc_;
    RecordingFactory factory_;
    std::unique_ptr<trv::trvSceneapi_oo> builder_;
    PluginContext context_;
};

// A polygon object with one quad; `more` adds fields.
std::string poly(const std::string& name, const std::string& more = "") {
    return R"({"name": ")" + name +
           R"(", "type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
               "polygons": [[0,1,2,3]])" +
           (more.empty() ? "" : ", " + more) + "}";
}

}  // namespace

TEST_F(DocumentWalk, OneCubePrimitiveWritesItsBuiltGeometryInANestedGroup) {
    load(R"([{"name": "Cube", "type": 5159, "position": [0, 10, 0], "cache": )" + poly("Cube") +
         "}]");
    convert();
    const std::vector<std::string> expected = {
        "beginGroup scene plain",
        "transform 1,0,0,0,0,1,0,0,0,0,-1,0,0,0,0,1",
        "declareAttribute source file source file",
        "progress Cube 0",
        "beginGroup Cube plain",
        "flags 1",
        "transform 1,0,0,0,0,1,0,0,0,0,1,0,0,10,0,1",
        "progress Cube 0",
        "beginGroup Cube plain",
        "flags 1",
        std::string("transform ") + kIdentity,
        "beginObject Cube plain",
        "endGroup",
        "progress Cube 0.5",
        "endGroup",
        "progress Cube 1",
        "endGroup",
    };
    EXPECT_EQ(walkCalls(), expected);
    EXPECT_FLOAT_EQ(context_.progressTotal, 1.0f);
}

TEST_F(DocumentWalk, DocumentWithoutObjectsWritesOnlyTheRootGroup) {
    load("[]");
    const std::vector<std::string> expected = {
        "beginGroup scene plain", "transform 1,0,0,0,0,1,0,0,0,0,-1,0,0,0,0,1",
        "declareAttribute source file source file", "endGroup"};
    EXPECT_EQ(convert(), expected);
    EXPECT_EQ(context_.documentFolder, "/docs");
}

TEST_F(DocumentWalk, TwoTopLevelObjectsShareTheProgressEvenly) {
    load(R"([{"name": "A", "type": 5140}, {"name": "B", "type": 5140}])");
    convert();
    std::vector<std::string> progress;
    for (const std::string& c : factory_.api.calls) {
        if (c.rfind("progress ", 0) == 0) {
            progress.push_back(c);
        }
    }
    EXPECT_EQ(progress, (std::vector<std::string>{"progress A 0", "progress A 0.5",
                                                  "progress B 0.5", "progress B 1"}));
    EXPECT_FLOAT_EQ(context_.progressTotal, 1.0f);
}

TEST_F(DocumentWalk, ProgressReachesTheStatusBarWhenItsPercentageMoves) {
    load(R"([{"name": "A", "type": 5140}, {"name": "B", "type": 5140}])");
    convert();
    std::vector<std::string> shown;
    for (const auto& update : host_.statusUpdates()) {
        shown.push_back(update.text + " " + std::to_string(update.percent));
    }
    // B's start at 50% is no news.
    EXPECT_EQ(shown, (std::vector<std::string>{"A 0", "A 50", "B 100"}));

    // A host whose table ends before the status operation shows nothing.
    RdHostInterface older = *host_.table();
    older.structSize = offsetof(RdHostInterface, statusSetProgress);
    raydeck::host::setHostInterface(&older);
    context_.statusPercent = -1;
    convert();
    EXPECT_EQ(host_.statusUpdates().size(), 3u);
    EXPECT_EQ(count("progress "), 4);
}

TEST_F(DocumentWalk, VisibilityInheritsThroughTwoAndHidesOnAnyOtherValue) {
    load("[" +
         // inherits a hidden editor state
         std::string(R"({"name": "Hidden", "type": 5140, "params": {"901": 1}, "children": [)") +
         poly("InheritsHidden", R"("params": {"901": 2})") + "," +
         poly("ShownAgain", R"("params": {"901": 0})") + "]}," +
         // own render visibility 1 hides it under an editor-visible parent
         R"({"name": "Shown", "type": 5140, "params": {"901": 0}, "children": [)" +
         poly("RenderHidden", R"("params": {"902": 1})") + "]}," +
         // consumed by a generator: a group, no mesh
         poly("GeneratorInput", R"("generatorInput": true)") + "]");
    convert();
    const auto calls = walkCalls();
    std::vector<std::string> objects;
    for (const std::string& c : calls) {
        if (c.rfind("beginObject ", 0) == 0) {
            objects.push_back(c);
        }
    }
    EXPECT_EQ(objects, std::vector<std::string>{"beginObject ShownAgain plain"});
    // Every object still has its group.
    for (const char* name : {"InheritsHidden", "RenderHidden", "GeneratorInput"}) {
        EXPECT_NE(
            std::find(calls.begin(), calls.end(), std::string("beginGroup ") + name + " plain"),
            calls.end())
            << name;
    }
}

TEST_F(DocumentWalk, SelectionOnlyWritesMeshesOfSelectedSubtreesAndTracesThem) {
    load(R"([{"name": "Null", "type": 5140, "selected": true, "children": [)" + poly("P1") + "," +
         poly("P2") + "," + poly("P3") + "]}," + poly("Other") + "]");
    context_.selectionOnly = true;
    testing::internal::CaptureStdout();
    convert();
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "whoawhoawhoawhoa");
    EXPECT_EQ(count("beginObject "), 3);
    EXPECT_EQ(count("beginObject Other"), 0);
    EXPECT_EQ(count("beginGroup Other"), 1);

    // Without the filter every mesh is written and nothing is traced.
    context_.selectionOnly = false;
    testing::internal::CaptureStdout();
    convert();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(count("beginObject "), 4);
    EXPECT_TRUE(context_.selectedIds.empty());
}

TEST_F(DocumentWalk, SelectionOnlyWithNothingSelectedWritesEveryMesh) {
    load("[" + poly("P1") + "]");
    context_.selectionOnly = true;
    convert();
    EXPECT_EQ(count("beginObject P1"), 1);
}

TEST_F(DocumentWalk, NamesAreKeptLiterallyAndWhole) {
    // Longer than 1023 bytes, with a multi-byte character across byte 1023.
    const std::string longName = std::string(1022, 'a') + "\xc3\xa9" + std::string(100, 'b');
    load(R"([{"name": "100% done", "type": 5140}, {"name": "", "type": 5140},
             {"name": ")" +
         longName + R"(", "type": 5140}])");
    convert();
    EXPECT_EQ(count("beginGroup 100% done plain"), 1);
    EXPECT_NE(
        std::find(factory_.api.calls.begin(), factory_.api.calls.end(), "progress 100% done 0"),
        factory_.api.calls.end());
    EXPECT_EQ(count("beginGroup object plain"), 1);
    EXPECT_EQ(count("beginGroup " + longName + " plain"), 1);
}

TEST_F(DocumentWalk, ConvertsAtTheFirstFrameAndRestoresTheTime) {
    load(R"([{"name": "Moving", "type": 5140,
              "tracks": [{"id": [903, 1000], "name": "Position . X",
                          "keys": [{"time": 1.0, "value": 5.0}, {"time": 3.0, "value": 50.0}]}]}])",
         R"("minTime": 1.0, "time": 3.0, )");
    convert();
    // Evaluated at the minimum time: x = 5, not 50.
    EXPECT_EQ(count("transform 1,0,0,0,0,1,0,0,0,0,1,0,5,0,0,1"), 1);
    EXPECT_DOUBLE_EQ(raydeck::hostsim::timeSeconds(doc_->time), 3.0);
    EXPECT_DOUBLE_EQ(doc_->objects[0]->position.x, 50.0);
}

TEST_F(DocumentWalk, SceneNameIsCutAtTheLastDotOnly) {
    EXPECT_EQ(raydeck::c4d::sceneNameFromFileName("car.blue.c4d"), "car.blue");
    EXPECT_EQ(raydeck::c4d::sceneNameFromFileName("a.b.c"), "a.b");
    EXPECT_EQ(raydeck::c4d::sceneNameFromFileName(".c4d"), "");
    EXPECT_EQ(raydeck::c4d::sceneNameFromFileName("noext"), "noext");
}

TEST_F(DocumentWalk, ScanTagCollectsTextureTagsAndFillsOnlyGivenOutputs) {
    load(R"([{"name": "T", "type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0]],
              "polygons": [[0,1,2,2]], "tags": [
                {"type": 5616}, {"type": 5671, "uvw": [[[0,0,0],[1,0,0],[1,1,0],[1,1,0]]]},
                {"type": 5673, "name": "front", "selection": [[0, 0]]},
                {"type": 5673, "name": "front", "selection": [[0, 0]]},
                {"type": 5711}, {"type": 1017729, "name": "Hair"}]}])");
    const raydeck::host::BaseObject object =
        raydeck::host::BaseObject::firstIn(raydeck::host::BaseDocument(host_.documentHandle()));
    raydeck::c4d::TextureTagList list(1);
    raydeck::host::BaseTag uvw, normal;
    raydeck::c4d::SelectionTagMap selections;
    std::vector<raydeck::host::BaseTag> tags;
    for (raydeck::host::BaseTag t = object.firstTag(); t; t = t.next()) {
        tags.push_back(t);
        raydeck::c4d::scanTag(t, &uvw, &normal, &selections, list);
    }
    ASSERT_EQ(tags.size(), 6u);
    EXPECT_EQ(list, (raydeck::c4d::TextureTagList{raydeck::host::BaseTag(), tags[0], tags[5]}));
    EXPECT_EQ(uvw, tags[1]);
    EXPECT_EQ(normal, tags[4]);
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections["front"], tags[3]);  // the later tag of the same name

    raydeck::c4d::TextureTagList onlyList;
    raydeck::c4d::scanTag(tags[1], nullptr, nullptr, nullptr, onlyList);
    EXPECT_TRUE(onlyList.empty());
}

namespace {

struct DeepRun {
    PluginContext* context;
    raydeck::host::BaseDocument document;
};

void* runConversion(void* arg) {
    auto* run = static_cast<DeepRun*>(arg);
    raydeck::c4d::convertDocument(*run->context, run->document);
    return nullptr;
}

}  // namespace

TEST_F(DocumentWalk, HierarchyThousandLevelsDeepConvertsOnAOneMebibyteStack) {
    constexpr int kDepth = 1000;
    load("[" + nestedInNulls(kDepth, poly("Leaf"), "N") + "]");
    builder_ = std::make_unique<trv::trvSceneapi_oo>(&factory_);
    factory_.api.calls.clear();
    context_.builder = builder_.get();

    DeepRun run{&context_, raydeck::host::BaseDocument(host_.documentHandle())};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, kThousandLevelStackBytes), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, runConversion, &run), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    context_.builder = nullptr;

    EXPECT_EQ(count("beginGroup N plain"), kDepth);
    EXPECT_EQ(count("endGroup"), kDepth + 2);
    EXPECT_EQ(count("beginObject Leaf"), 1);
    EXPECT_NEAR(context_.progressTotal, 1.0f, 1e-5);
}

TEST_F(DocumentWalk, CamerasAreConvertedInPreOrderBeforeTheRootGroupCachesExcluded) {
    load(R"([{"name": "A", "type": 5103, "children": [{"name": "B", "type": 5103}]},
             {"name": "Rig", "type": 5140, "children": [{"name": "C", "type": 5103}],
              "cache": {"name": "D", "type": 5103}},
             {"name": "E", "type": 5103}])");
    convert();
    std::vector<std::string> order;
    for (const std::string& c : factory_.api.calls) {
        if (c.rfind("beginCamera ", 0) == 0 || c == "beginGroup scene plain") {
            order.push_back(c);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"beginCamera A", "beginCamera B", "beginCamera C",
                                               "beginCamera E", "beginGroup scene plain"}));
}

// The camera pass hands each camera its own parent, also after it has come back up from a
// sibling's subtree: a rig turned a quarter about y carries A's x motion onto z, while B, whose
// parent is only moved, keeps it on x (its turned sibling Sub must not count).
TEST_F(DocumentWalk, CamerasInRigsAreAnimatedThroughTheirOwnParent) {
    const std::string track = R"("tracks": [{"id": [903, 1000], "params": {"904": 1},
        "keys": [{"time": 0, "value": 0}, {"time": 1, "value": 10}]}])";
    load(R"([{"name": "Rig1", "rotation": [0, 1.5707963267948966, 0], "children": [
               {"name": "A", "type": 5103, )" +
         track + R"(}]},
             {"name": "Rig2", "position": [5, 0, 0], "children": [
               {"name": "Sub", "rotation": [0, 1.5707963267948966, 0],
                "children": [{"name": "X"}]},
               {"name": "B", "type": 5103, )" +
         track + R"(}]}])");
    convert();
    std::vector<std::vector<double>> last;  // each block's last matrix
    for (const std::string& c : factory_.api.calls) {
        const std::string head = "attribute matrices ";
        if (c.rfind(head, 0) != 0) {
            continue;
        }
        std::vector<double> numbers;
        std::string list = c.substr(c.find(' ', c.find("count=")) + 1);
        for (size_t at = 0; at < list.size();) {
            size_t end = list.find(',', at);
            numbers.push_back(std::stod(list.substr(at, end - at)));
            at = end == std::string::npos ? list.size() : end + 1;
        }
        ASSERT_GE(numbers.size(), 16u);
        last.emplace_back(numbers.end() - 16, numbers.end());
    }
    // The camera pass's two blocks come first; the walk then writes the objects' own.
    ASSERT_EQ(last.size(), 4u);
    EXPECT_NEAR(last[0][12], 0.0, 1e-9);  // A: along z
    EXPECT_GT(std::fabs(last[0][14]), 9.0);
    EXPECT_GT(last[1][12], 9.0);  // B: along x
    EXPECT_NEAR(last[1][14], 0.0, 1e-9);
}

TEST_F(DocumentWalk, DeformCacheIsWalkedInsteadOfTheCache) {
    load(R"([{"name": "Bent", "type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0]],
              "polygons": [[0,1,2]], "deformCache": )" +
         poly("Deformed") + R"(, "cache": )" + poly("Built") + "}]");
    convert();
    EXPECT_EQ(count("beginGroup Deformed"), 1);
    EXPECT_EQ(count("beginObject Deformed"), 1);
    EXPECT_EQ(count("beginGroup Built"), 0);
    // The object's own type is not looked at once it has built geometry.
    EXPECT_EQ(count("beginObject Bent"), 0);
}

TEST_F(DocumentWalk, LightsAreConvertedWhateverTheirVisibilityAndSelection) {
    load(R"([{"name": "Hidden", "type": 5140, "params": {"901": 1, "902": 1}, "children": [
               {"name": "Lamp", "type": 5102}]},
             {"name": "Picked", "type": 5140, "selected": true}])");
    context_.selectionOnly = true;
    testing::internal::CaptureStdout();
    convert();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "whoa");  // only the picked null
    EXPECT_EQ(count("beginObject Lamp"), 1);
}
