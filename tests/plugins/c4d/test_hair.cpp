// Hair curves: radii from root to tip, counts, guide points under the inverse object matrix, the
// hair material tags' precedence, and guide data the converter must not read past.
#include <gtest/gtest.h>

#include "plugins/c4d/convert/hair.h"
#include "test_animation_support.h"

namespace raydeck {
namespace {

using testing::ConverterScene;
using testing::documentWith;

// Two guides of four segments, reported at the object's own placement (10, 0, 0).
const char kGuides[] = R"("hair": {"segments": 4, "guides": [
    {"points": [[10,0,0],[10,1,0],[10,2,0],[10,3,0],[10,4,0]], "rootUV": [0.25, 0.5, 9]},
    {"points": [[11,0,0],[11,1,0],[11,2,0],[11,3,0],[11,4,0]], "rootUV": [0.75, 1, 9]}]})";

std::string hairObject(const std::string& extra = "") {
    return R"({"name": "Fur", "type": 1017305, "position": [10, 0, 0], )" +
           (extra.empty() ? "" : extra + ", ") + kGuides + "}";
}

const char kHairMaterials[] = R"("materials": [
    {"id": "HM1", "type": 1017730, "name": "Thick", "params": {"3009": 1.0, "3010": 0.2,
     "3139": {"gradient": [{"position": 0, "color": [0.3, 0.2, 0.1]}]}}},
    {"id": "HM2", "type": 1017730, "name": "Thin", "params": {"3009": 0.05, "3010": 0.01}}])";

c4d::TextureTagList tagsOf(const host::BaseObject& o) {
    c4d::TextureTagList list{host::BaseTag()};
    for (host::BaseTag t = o.firstTag(); t; t = t.next()) {
        list.push_back(t);
    }
    return list;
}

bool wroteMaterial(const ConverterScene& s, const std::string& name) {
    for (const std::string& c : s.api.calls) {
        if (c == "beginMaterial " + name + " plain") {
            return true;
        }
    }
    return false;
}

TEST(Hair, DefaultsRadiiCountsAndInverseMatrixPlacement) {
    ConverterScene s(documentWith(hairObject()));
    c4d::convertHairObject(s.context, s.object(), tagsOf(s.object()));
    auto geo = s.api.of("geometry");
    ASSERT_EQ(geo.size(), 1u);
    EXPECT_EQ(geo[0]->name, "trv_bezier_curves");
    EXPECT_EQ(s.api.of("object").at(0)->name, "Fur");
    const std::vector<double>& pr = geo[0]->values("pr");
    ASSERT_EQ(pr.size(), 10u);
    const float step = static_cast<float>(static_cast<double>(0.1f - 0.5f) / 4.0);
    float r = 0.5f;
    for (int j = 0; j < 5; ++j, r += step) {
        EXPECT_EQ(pr[j], r);
        EXPECT_EQ(pr[5 + j], r);
    }
    EXPECT_NEAR(pr[4], 0.1, 1e-6);
    EXPECT_EQ(geo[0]->values("nvertices"), (std::vector<double>{5, 5}));
    EXPECT_EQ(geo[0]->values("curve_uv"), (std::vector<double>{0.25, 0.5, 0.75, 1}));
    const std::vector<double>& p = geo[0]->values("p");
    ASSERT_EQ(p.size(), 30u);
    EXPECT_EQ(std::vector<double>(p.begin(), p.begin() + 6),
              (std::vector<double>{0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(std::vector<double>(p.begin() + 27, p.end()), (std::vector<double>{1, 4, 0}));
    EXPECT_EQ(geo[0]->values("radius"), std::vector<double>{0.5});
    EXPECT_EQ(geo[0]->values("order"), std::vector<double>{2});
    EXPECT_TRUE(wroteMaterial(s, "Display color"));
    EXPECT_EQ(s.api.calls.back(), "endObject");
}

TEST(Hair, TagNearestTheListStartWinsAndSetsNameThicknessAndColour) {
    // Own tags come after the ancestors' in the list; the first listed tag overrides the later.
    ConverterScene s(documentWith(
        hairObject(
            R"("tags": [{"type": 1017729, "name": "Outer", "params": {"1000": {"link": "HM1"}}},
                                {"type": 1017729, "name": "Inner", "params": {"1000": {"link": "HM2"}}}])"),
        kHairMaterials));
    c4d::convertHairObject(s.context, s.object(), tagsOf(s.object()));
    auto geo = s.api.of("geometry");
    ASSERT_EQ(geo.size(), 1u);
    const std::vector<double>& pr = geo[0]->values("pr");
    ASSERT_EQ(pr.size(), 10u);
    EXPECT_EQ(pr[0], 1.0);
    EXPECT_NEAR(pr[4], 0.2, 1e-6);
    EXPECT_TRUE(wroteMaterial(s, "Outer"));
    bool gradientColour = false;
    for (const std::string& c : s.api.calls) {
        gradientColour = gradientColour || c == "attribute diffuse 1 0.3,0.2,0.1";
    }
    EXPECT_TRUE(gradientColour);
}

TEST(Hair, TagWithoutHairMaterialOnlyNamesIt) {
    ConverterScene s(documentWith(hairObject(R"("tags": [{"type": 1017729, "name": "Bare"}])")));
    c4d::convertHairObject(s.context, s.object(), tagsOf(s.object()));
    auto geo = s.api.of("geometry");
    ASSERT_EQ(geo.size(), 1u);
    EXPECT_EQ(geo[0]->values("pr")[0], 0.5f);
    EXPECT_TRUE(wroteMaterial(s, "Bare"));
}

TEST(Hair, MissingServiceWritesNothing) {
    ConverterScene s(documentWith(hairObject(), R"("services": {"hair": false})"));
    c4d::convertHairObject(s.context, s.object(), tagsOf(s.object()));
    EXPECT_TRUE(s.api.calls.empty());
}

TEST(Hair, NoGuidesStillWritesEmptyArrays) {
    ConverterScene s(
        documentWith(R"({"name": "Fur", "type": 1017305, "hair": {"segments": 4, "guides": []}})"));
    c4d::convertHairObject(s.context, s.object(), tagsOf(s.object()));
    auto geo = s.api.of("geometry");
    ASSERT_EQ(geo.size(), 1u);
    EXPECT_TRUE(geo[0]->values("p").empty());
    EXPECT_TRUE(geo[0]->values("nvertices").empty());
    ASSERT_NE(geo[0]->find("pr"), nullptr);
}

TEST(Hair, ShortPointArrayIsNotReadPastItsEnd) {
    ConverterScene s(documentWith(hairObject()));
    auto& points = s.doc->objects[0]->hair.points;
    points.resize(7);  // two guides of five points claimed, seven delivered
    points.shrink_to_fit();
    c4d::convertHairObject(s.context, s.object(), tagsOf(s.object()));
    auto geo = s.api.of("geometry");
    ASSERT_EQ(geo.size(), 1u);
    EXPECT_EQ(geo[0]->values("nvertices"), std::vector<double>{5});
    EXPECT_EQ(geo[0]->values("p").size(), 15u);
    EXPECT_EQ(geo[0]->values("curve_uv").size(), 2u);
}

}  // namespace
}  // namespace raydeck
