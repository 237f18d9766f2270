// The simulator's host interface table, read through the plug-in's host layer as a converter
// would: parameter kinds, links, tags, materials, tracks, hair, services, and handle bookkeeping.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "plugins/c4d/host/AtomArray.h"
#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/BaseMaterial.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/BaseTag.h"
#include "plugins/c4d/host/CTrack.h"
#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/HairGuides.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/String.h"
#include "tools/host/DocumentLimits.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"

namespace h = raydeck::host;
using raydeck::hostsim::SimHost;

namespace {

const char* const kScene = R"({"format": "raydeck-host-document", "version": 1,
  "file": "car.blue.c4d", "folder": "/docs", "minTime": {"num": 1, "den": 30}, "time": 0.5,
  "services": {"hair": HAIR, "gradient": GRADIENT},
  "layers": [{"id": "L1", "params": {"1001": 1, "1002": 0}}],
  "materials": [
    {"id": "M1", "type": 5703, "name": "Paint", "channels": [0, 8],
     "params": {"2100": [1, 0, 0], "2101": 0.5, "8000": {"link": "S1"}},
     "container": {"65": [0.1, 0.2, 0.3], "66": 4},
     "shaders": [{"id": "S1", "type": 5833, "params": {"1000": "wood.png"}},
                 {"id": "S2", "type": 1011100,
                  "params": {"1007": {"gradient": [{"position": 0, "color": [0.3, 0.2, 0.1]}]}}}]}],
  "objects": [
    {"name": "Body", "type": 5100, "id": 17, "layer": "L1", "selected": true,
     "params": {"907": 1.9, "908": [0.8, 0.1, 0.1], "1006": "front"},
     "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "polygons": [[0,1,2,3],[0,1,2]],
     "tags": [{"type": 5616, "material": "M1", "params": {"1006": "front"},
               "textureMatrix": {"offset": [1, 2, 3]}},
              {"type": 5671, "uvw": [[[0,0,0],[1,0,0],[1,1,0],[0,1,0]], [[0,0,0],[1,0,0],[1,1,0],[1,1,0]]]},
              {"type": 5673, "name": "front", "selection": [[0, 1], [5, 9]]},
              {"type": 5612}],
     "tracks": [{"id": [903, 1000], "name": "Position . X", "params": {"904": 1},
                 "keys": [{"time": 0, "value": 0}, {"time": 1, "value": 10}]}],
     "cache": {"name": "built", "type": 5100},
     "children": [{"name": "Child", "generatorInput": true}]},
    {"name": "Hair", "type": 1017305,
     "hair": {"segments": 1, "guides": [{"points": [[0,0,0],[0,1,0]], "rootUV": [0.5, 0.25, 0]}]}}]})";

std::string scene(bool hair, bool gradient) {
    std::string s = kScene;
    s.replace(s.find("HAIR"), 4, hair ? "true" : "false");
    s.replace(s.find("GRADIENT"), 8, gradient ? "true" : "false");
    return s;
}

class SimHostTest : public ::testing::Test {
  protected:
    void open(bool hair = true, bool gradient = true) {
        std::string error;
        doc_ = raydeck::hostsim::loadDocumentText(scene(hair, gradient), "x.c4d", "/x", error);
        ASSERT_TRUE(doc_) << error;
        host_.setActiveDocument(doc_.get());
        h::setHostInterface(host_.table());
        d_ = h::BaseDocument(host_.documentHandle());
    }
    void TearDown() override {
        // Everything the layer took from the host was given back.
        EXPECT_EQ(host_.liveHandles(), 0);
        h::setHostInterface(nullptr);
    }
    h::BaseObject body() const { return h::BaseObject::firstIn(d_); }

    std::unique_ptr<raydeck::hostsim::SimDocument> doc_;
    SimHost host_;
    h::BaseDocument d_;
};

}  // namespace

TEST_F(SimHostTest, DocumentParametersAndEvaluation) {
    open();
    h::HostTime t, minT;
    ASSERT_TRUE(d_.getTime(RD_HOST_DOC_TIME, t));
    ASSERT_TRUE(d_.getTime(RD_HOST_DOC_MINTIME, minT));
    EXPECT_DOUBLE_EQ(t.seconds(), 0.5);
    EXPECT_EQ(minT.num, 1.0);
    EXPECT_EQ(minT.den, 30.0);
    EXPECT_FALSE(d_.getTime(1001, t));
    h::Filename file, path;
    ASSERT_TRUE(d_.getFilename(RD_HOST_DOC_FILENAME, file));
    ASSERT_TRUE(d_.getFilename(RD_HOST_DOC_PATH, path));
    EXPECT_EQ(file.utf8(), "car.blue.c4d");
    EXPECT_EQ(path.utf8(), "/docs");

    // The file's time (0.5 s) was applied at load; moving to 1 s needs an evaluation.
    EXPECT_DOUBLE_EQ(body().position().x, 5.0);
    ASSERT_TRUE(d_.setTime(RD_HOST_DOC_TIME, h::HostTime(1, 1)));
    EXPECT_FALSE(d_.setTime(RD_HOST_DOC_MINTIME, h::HostTime(1, 1)));
    EXPECT_DOUBLE_EQ(body().position().x, 5.0);
    ASSERT_TRUE(d_.executePasses(false, true, true, true, 0));
    EXPECT_DOUBLE_EQ(body().position().x, 10.0);
    EXPECT_DOUBLE_EQ(body().matrix().off.x, 10.0);
}

// The application hands an empty text out as an empty text; the simulator answered nothing,
// which made an unnamed material's texture tag unreadable.
TEST_F(SimHostTest, EmptyTextIsHandedOutAsAnEmptyTextNotAsNone) {
    open();
    h::String empty;
    ASSERT_TRUE(empty.valid());
    std::string out = "stale";
    EXPECT_TRUE(empty.toUtf8(out));
    EXPECT_EQ(out, "");
    ASSERT_TRUE(empty.set("a"));
    ASSERT_TRUE(empty.set(""));
    out = "stale";
    EXPECT_TRUE(empty.toUtf8(out));
    EXPECT_EQ(out, "");
}

TEST_F(SimHostTest, ParameterReadsSucceedOnlyForTheStoredKind) {
    open();
    h::BaseObject o = body();
    int32_t i = -1;
    double f = 0;
    h::Vector v;
    std::string s;
    EXPECT_TRUE(o.getInt(907, i));
    EXPECT_EQ(i, 1);  // truncated toward zero
    EXPECT_TRUE(o.getFloat(907, f));
    EXPECT_DOUBLE_EQ(f, 1.9);
    EXPECT_TRUE(o.getInt(901, i));
    EXPECT_EQ(i, 2);  // the host's default visibility
    EXPECT_FALSE(o.getVector(907, v));
    EXPECT_TRUE(o.getVector(908, v));
    EXPECT_DOUBLE_EQ(v.x, 0.8);
    EXPECT_FALSE(o.getInt(908, i));
    EXPECT_TRUE(o.getStringUtf8(1006, s));
    EXPECT_EQ(s, "front");
    EXPECT_FALSE(o.getInt(1006, i));
    EXPECT_FALSE(o.getInt(4242, i));
    EXPECT_EQ(i, 2);  // untouched by the failed reads
    EXPECT_EQ(o.guid(), 17u);
    EXPECT_EQ(o.type(), h::kObjectPolygon);
    ASSERT_TRUE(o.nameUtf8(s));
    EXPECT_EQ(s, "Body");
    ASSERT_TRUE(o.cache().nameUtf8(s));
    EXPECT_EQ(s, "built");
}

TEST_F(SimHostTest, TreeSelectionLayerAndBits) {
    open();
    h::BaseObject o = body();
    EXPECT_FALSE(o.bit(RD_HOST_BIT_GENERATOR_INPUT));
    EXPECT_TRUE(o.down().bit(RD_HOST_BIT_GENERATOR_INPUT));
    EXPECT_EQ(o.next().type(), h::kObjectHair);
    EXPECT_FALSE(o.next().next());
    EXPECT_EQ(o.cache().type(), h::kObjectPolygon);
    EXPECT_FALSE(o.deformCache());
    h::BaseList2D layer = o.layer(d_);
    int32_t on = -1;
    ASSERT_TRUE(layer);
    EXPECT_TRUE(layer.getInt(1002, on));
    EXPECT_EQ(on, 0);
    h::AtomArray sel;
    ASSERT_TRUE(sel.fillWithSelection(d_));
    ASSERT_EQ(sel.count(), 1);
    EXPECT_EQ(h::BaseObject(sel.at(0)).guid(), 17u);
    EXPECT_FALSE(sel.at(1));
    EXPECT_FALSE(sel.at(-1));
}

TEST_F(SimHostTest, PolygonDataAndTagsStayInRange) {
    open();
    h::BaseObject o = body();
    EXPECT_EQ(o.points().size(), 4);
    ASSERT_EQ(o.polygons().size(), 2);
    RdHostPolygon tri{};
    ASSERT_TRUE(o.polygons().at(1, tri));
    EXPECT_EQ(tri.c, tri.d);  // [a, b, c] is stored as a triangle
    EXPECT_FALSE(o.polygons().at(2, tri));
    h::PhongNormals normals = o.phongNormals();
    ASSERT_TRUE(normals);
    EXPECT_EQ(normals.polygonCount(), 2);
    float n[3];
    EXPECT_TRUE(normals.corner(1, 3, n));
    EXPECT_FALSE(normals.corner(2, 0, n));

    h::BaseTag texture = o.firstTag();
    h::BaseTag uvw = texture.next();
    h::BaseTag selection = uvw.next();
    EXPECT_EQ(texture.type(), h::kTagTexture);
    h::Matrix m;
    ASSERT_TRUE(texture.textureMatrix(m));
    EXPECT_DOUBLE_EQ(m.off.z, 3.0);
    EXPECT_DOUBLE_EQ(m.v2.y, 1.0);
    EXPECT_FALSE(uvw.textureMatrix(m));

    h::UVWData data = uvw.uvwData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data.count(), 2);
    RdHostUVWPolygon rec;
    ASSERT_TRUE(data.polygon(0, rec));
    EXPECT_DOUBLE_EQ(rec.c.y, 1.0);
    EXPECT_FALSE(data.polygon(2, rec));
    EXPECT_FALSE(texture.uvwData());

    h::Selection ranges = selection.selection();
    ASSERT_EQ(ranges.segmentCount(), 2);
    int32_t a = 0, b = 0;
    ASSERT_TRUE(ranges.range(1, 2147483647, a, b));
    EXPECT_EQ(a, 5);
    EXPECT_EQ(b, 9);
    ASSERT_TRUE(ranges.range(1, 3, a, b));
    EXPECT_EQ(b, 7);
    EXPECT_FALSE(ranges.range(2, 10, a, b));
    std::string name;
    EXPECT_TRUE(selection.getStringUtf8(900, name));
    EXPECT_EQ(name, "front");
}

TEST_F(SimHostTest, MaterialsShadersAndGradients) {
    open();
    h::BaseMaterial mat = body().firstTag().material();
    ASSERT_TRUE(mat);
    EXPECT_EQ(mat.type(), 5703);
    EXPECT_TRUE(mat.channelEnabled(8));
    EXPECT_FALSE(mat.channelEnabled(7));
    EXPECT_DOUBLE_EQ(mat.containerVector(65).z, 0.3);
    EXPECT_DOUBLE_EQ(mat.containerVector(66, h::Vector(9, 9, 9)).x, 9.0);
    h::BaseList2D linked;
    ASSERT_TRUE(mat.getLink(8000, d_, linked));
    h::BaseShader first = mat.firstShader();
    EXPECT_EQ(linked, first);
    h::Filename tex;
    ASSERT_TRUE(first.getFilename(1000, tex));
    EXPECT_EQ(tex.utf8(), "wood.png");
    EXPECT_FALSE(mat.getLink(2100, d_, linked));
    h::BaseShader second = first.next();
    EXPECT_FALSE(second.next());
    h::Gradient g;
    EXPECT_FALSE(first.getGradient(1007, g));
    ASSERT_TRUE(second.getGradient(1007, g));
    EXPECT_DOUBLE_EQ(g.firstKnotColorOrWhite().x, 0.3);
    h::Vector c;
    EXPECT_FALSE(g.knotColor(1, c));
    EXPECT_TRUE(h::libraryAvailable(RD_HOST_LIBRARY_GRADIENT));
}

TEST_F(SimHostTest, MissingGradientServiceReadsKnotsAsWhite) {
    open(/*hair=*/true, /*gradient=*/false);
    h::Gradient g;
    ASSERT_TRUE(body().firstTag().material().firstShader().next().getGradient(1007, g));
    h::Vector white = g.firstKnotColorOrWhite();
    EXPECT_EQ(white.x, 1.0);
    EXPECT_EQ(white.z, 1.0);
    EXPECT_FALSE(h::libraryAvailable(RD_HOST_LIBRARY_GRADIENT));
}

TEST_F(SimHostTest, TracksCurvesAndKeys) {
    open();
    h::CTrack track = body().firstTrack();
    ASSERT_TRUE(track);
    EXPECT_FALSE(track.next());
    h::TrackId id = track.id();
    EXPECT_EQ(id.depth, 2);
    EXPECT_EQ(id.first, 903);
    EXPECT_EQ(id.second, 1000);
    std::string name;
    ASSERT_TRUE(track.nameUtf8(name));
    EXPECT_EQ(name, "Position . X");
    int32_t enabled = 0;
    EXPECT_TRUE(track.getInt(904, enabled));
    EXPECT_EQ(enabled, 1);
    h::CCurve curve = track.curve();
    ASSERT_EQ(curve.keyCount(), 2);
    h::HostTime t;
    ASSERT_TRUE(curve.key(1).time(t));
    EXPECT_DOUBLE_EQ(t.seconds(), 1.0);
    EXPECT_FALSE(curve.key(2));
    EXPECT_DOUBLE_EQ(track.value(d_, h::HostTime::fromSeconds(0.25)), 2.5);
    EXPECT_DOUBLE_EQ(track.value(d_, h::HostTime(1, 0)), 0.0);  // denominator 0 is time 0
}

TEST_F(SimHostTest, HairGuidesComeFromTheServiceWhenItIsThere) {
    open();
    h::BaseObject hair = body().next();
    h::HairAccess access(hair, d_);
    h::HairGuides guides = access.generateGuides();
    ASSERT_TRUE(guides);
    EXPECT_EQ(guides.segmentCount(), 1);
    EXPECT_EQ(guides.guideCount(), 1);
    EXPECT_EQ(guides.points().size(), 2);
    h::Vector uv;
    ASSERT_TRUE(guides.rootUV(0, uv));
    EXPECT_DOUBLE_EQ(uv.y, 0.25);
    EXPECT_FALSE(guides.rootUV(1, uv));
    EXPECT_FALSE(h::HairAccess(body(), d_).generateGuides());
}

TEST_F(SimHostTest, MissingHairServiceGivesNoGuides) {
    open(/*hair=*/false);
    h::BaseObject hair = body().next();
    h::HairAccess access(hair, d_);
    EXPECT_FALSE(access.generateGuides());
    EXPECT_FALSE(h::libraryAvailable(RD_HOST_LIBRARY_HAIR));
}

TEST_F(SimHostTest, FileNamesAndTheSaveDialog) {
    open();
    h::Filename f;
    f.setDirectory("%USERDATA%");
    f.setFile("untitled");
    f.setSuffix("rdk");
    EXPECT_EQ(f.utf8(), "%USERDATA%/untitled.rdk");
    EXPECT_EQ(f.file().utf8(), "untitled.rdk");
    EXPECT_EQ(f.directory().utf8(), "%USERDATA%");
    EXPECT_FALSE(f.isEmpty());
    EXPECT_TRUE(h::Filename().isEmpty());
    EXPECT_EQ(h::Filename("C:\\docs\\a.c4d").file().utf8(), "a.c4d");

    EXPECT_FALSE(
        f.select(RD_HOST_FILESELECT_ANY, RD_HOST_FILESELECT_SAVE, "Export to .rdk", "rdk"));
    EXPECT_EQ(f.utf8(), "%USERDATA%/untitled.rdk");  // a cancelled dialog changes nothing
    host_.setSaveDialogAnswer(std::string("/tmp/out.rdk"));
    EXPECT_TRUE(f.select(RD_HOST_FILESELECT_ANY, RD_HOST_FILESELECT_SAVE, "Export to .rdk", "rdk"));
    EXPECT_EQ(f.utf8(), "/tmp/out.rdk");
    ASSERT_EQ(host_.dialogCalls().size(), 2u);
    EXPECT_EQ(host_.dialogCalls()[1].initialName, "%USERDATA%/untitled.rdk");
    EXPECT_EQ(host_.dialogCalls()[1].title, "Export to .rdk");
    EXPECT_EQ(host_.dialogCalls()[1].forcedSuffix, "rdk");
    EXPECT_EQ(host_.dialogCalls()[1].mode, RD_HOST_FILESELECT_SAVE);
}

TEST(SimHostLayer, EveryReadFailsSafelyWithoutAHost) {
    h::setHostInterface(nullptr);
    h::BaseObject o;
    int32_t i = 7;
    EXPECT_FALSE(o.getInt(901, i));
    EXPECT_EQ(i, 7);
    EXPECT_EQ(o.points().size(), 0);
    EXPECT_FALSE(o.phongNormals());
    EXPECT_TRUE(h::Filename("a").isEmpty());
    EXPECT_EQ(h::hostNew<int>(3), nullptr);
}

TEST(SimHostLayer, ShortHostTablesHideTheOperationsBeyondTheirSize) {
    SimHost host;
    RdHostInterface shortTable = *host.table();
    shortTable.structSize = offsetof(RdHostInterface, nodeGetInt);
    h::setHostInterface(&shortTable);
    std::string error;
    auto doc = raydeck::hostsim::loadDocumentText(scene(true, true), "x.c4d", "/x", error);
    ASSERT_TRUE(doc);
    host.setActiveDocument(doc.get());
    h::BaseObject o = h::BaseObject::firstIn(h::BaseDocument(host.documentHandle()));
    EXPECT_EQ(o.type(), h::kObjectPolygon);  // before the cut
    int32_t i = 0;
    EXPECT_FALSE(o.getInt(901, i));  // at and after the cut
    h::setHostInterface(nullptr);
}

// Global matrices: the product of the ancestors' local matrices and the object's own, reached
// from the top (the model links downwards only), through the object that built a cache, and
// deep hierarchies without recursion.
TEST(SimHostGlobalMatrix, ComposesAncestorsCachesAndDeepChains) {
    std::string error;
    auto doc = raydeck::hostsim::loadDocumentText(
        R"({"format": "raydeck-host-document", "version": 1, "objects": [
            {"name": "Top", "matrix": {"offset": [1, 2, 3], "x": [1, -0.0, 0]}},
            {"name": "Rig", "position": [10, 0, 0], "scale": [2, 2, 2],
             "children": [{"name": "Arm", "position": [0, 5, 0], "rotation": [0, 0, 1.5707963267948966],
                           "children": [{"name": "Hand", "position": [1, 0, 0]}]}],
             "cache": {"name": "Built", "position": [0, 0, 4]}}]})",
        "x.c4d", "/x", error);
    ASSERT_TRUE(doc) << error;
    // A chain deeper than any stack would take in recursion, built in place: the file loader
    // refuses documents nested deeper than kMaxObjectDepth.
    constexpr int kDepth = 20000;
    static_assert(kDepth > raydeck::hostsim::kMaxObjectDepth,
                  "a chain this shallow could come from a document file");
    using raydeck::hostsim::SimObject;
    auto link = [&doc](double x, double z) {
        auto o = std::make_unique<SimObject>();
        o->document = doc.get();
        o->matrix.off = RdHostVector{x, 0, z};
        return o;
    };
    SimObject* tail = nullptr;
    for (int i = 0; i < kDepth; ++i) {
        auto o = link(i + 1 < kDepth ? 1 : 0, i + 1 < kDepth ? 0 : 1);
        SimObject* added = o.get();
        if (tail == nullptr) {
            doc->objects.back()->next = added;
            doc->objects.push_back(std::move(o));
        } else {
            tail->down = added;
            tail->children.push_back(std::move(o));
        }
        tail = added;
    }
    SimHost host;
    host.setActiveDocument(doc.get());
    h::setHostInterface(host.table());
    const h::BaseObject top = h::BaseObject::firstIn(h::BaseDocument(host.documentHandle()));
    auto offset = [](const h::BaseObject& o) {
        h::Matrix m;
        EXPECT_TRUE(o.globalMatrix(m));
        return std::vector<double>{m.off.x, m.off.y, m.off.z};
    };
    EXPECT_EQ(offset(top), (std::vector<double>{1, 2, 3}));
    h::Matrix topMatrix;
    ASSERT_TRUE(top.globalMatrix(topMatrix));
    EXPECT_TRUE(std::signbit(topMatrix.v1.y));  // a top-level object's matrix as it is
    const h::BaseObject rig = top.next();
    const h::BaseObject hand = rig.down().down();
    const std::vector<double> handAt = offset(hand);
    ASSERT_EQ(handAt.size(), 3u);
    // Rig * Arm * Hand: the arm's quarter turn (the host turns by -angle) sends the hand's x
    // down y: 10 + 2 * (0, 5 - 1, 0).
    EXPECT_NEAR(handAt[0], 10.0, 1e-12);
    EXPECT_NEAR(handAt[1], 8.0, 1e-12);
    EXPECT_NEAR(handAt[2], 0.0, 1e-12);
    h::Matrix handMatrix;
    ASSERT_TRUE(hand.globalMatrix(handMatrix));
    EXPECT_NEAR(handMatrix.v1.y, -2.0, 1e-12);  // the rig's scale comes along
    EXPECT_EQ(offset(rig.cache()), (std::vector<double>{10, 0, 8}));

    h::BaseObject leaf = rig.next();
    while (leaf.down()) {
        leaf = leaf.down();
    }
    EXPECT_EQ(offset(leaf), (std::vector<double>{kDepth - 1, 0, 1}));
    h::Matrix untouched;
    untouched.off.x = 7;
    EXPECT_FALSE(h::BaseObject().globalMatrix(untouched));
    EXPECT_EQ(untouched.off.x, 7);
    h::setHostInterface(nullptr);
}
