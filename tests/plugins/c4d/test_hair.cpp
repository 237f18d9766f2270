// Hair curves: radii from root to tip, counts, guide points under the inverse object matrix, the
// hair material tags' precedence, and guide data the converter must not read past.
#include <gtest/gtest.h>

#include <algorithm>

#include "plugins/c4d/convert/hair.h"
#include "test_animation_support.h"

namespace raydeck {
namespace {

using testing::ConverterScene;

// Two guides of four segments, reported at the object's own placement (10, 0, 0).
std::string hairDocument(const std::string& tags = "", const std::string& extra = "") {
    return testing::documentWith(
        R"({"name": "Fur", "type": 1017305, "position": [10, 0, 0], "tags": [)" + tags +
            R"(], "hair": {"segments": 4, "guides": [
            {"points": [[10,0,0],[10,1,0],[10,2,0],[10,3,0],[10,4,0]], "rootUV": [0.25, 0.5, 9]},
            {"points": [[11,0,0],[11,1,0],[11,2,0],[11,3,0],[11,4,0]], "rootUV": [0.75, 1, 9]}]}})",
        extra);
}

void convert(ConverterScene& s) {
    c4d::TextureTagList list{host::BaseTag()};
    for (host::BaseTag t = s.object().firstTag(); t; t = t.next()) {
        list.push_back(t);
    }
    c4d::convertHairObject(s.context, s.object(), list);
}

bool called(const ConverterScene& s, const std::string& line) {
    return std::find(s.api.calls.begin(), s.api.calls.end(), line) != s.api.calls.end();
}

TEST(Hair, DefaultsRadiiCountsAndInverseMatrixPlacement) {
    ConverterScene s(hairDocument());
    convert(s);
    auto geo = s.api.of("geometry");
    ASSERT_EQ(geo.size(), 1u);
    const auto& v = geo[0]->values;
    const float step = static_cast<float>(static_cast<double>(0.1f - 0.5f) / 4.0);
    std::vector<double> radii;
    for (float r = 0.5f; radii.size() < 5; r += step) {
        radii.push_back(r);
    }
    radii.insert(radii.end(), radii.begin(), radii.end());
    EXPECT_EQ(v.at("pr"), radii);
    EXPECT_NEAR(radii[4], 0.1, 1e-6);
    EXPECT_EQ(v.at("nvertices"), (std::vector<double>{5, 5}));
    EXPECT_EQ(v.at("curve_uv"), (std::vector<double>{0.25, 0.5, 0.75, 1}));
    ASSERT_EQ(v.at("p").size(), 30u);
    EXPECT_EQ(std::vector<double>(v.at("p").begin(), v.at("p").begin() + 6),
              (std::vector<double>{0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(std::vector<double>(v.at("p").end() - 3, v.at("p").end()),
              (std::vector<double>{1, 4, 0}));
    EXPECT_EQ(std::vector<std::string>(geo[0]->order.begin(), geo[0]->order.begin() + 6),
              (std::vector<std::string>{"radius", "order", "p", "pr", "curve_uv", "nvertices"}));
    EXPECT_TRUE(called(s, "beginObject Fur plain"));
    EXPECT_TRUE(called(s, "beginMaterial Display color plain"));
    EXPECT_EQ(s.api.calls.back(), "endObject");
}

TEST(Hair, TagNearestTheListStartWinsAndBareTagOnlyNames) {
    // Visited last to first, so the first listed overrides: Bare names, Outer (not Inner) sets
    // thickness and colour.
    ConverterScene s(hairDocument(
        R"({"type": 1017729, "name": "Bare"},
           {"type": 1017729, "name": "Outer", "params": {"1000": {"link": "HM1"}}},
           {"type": 1017729, "name": "Inner", "params": {"1000": {"link": "HM2"}}})",
        R"("materials": [{"id": "HM1", "type": 1017730, "params": {"3009": 1.0, "3010": 0.2,
             "3139": {"gradient": [{"position": 0, "color": [0.3, 0.2, 0.1]}]}}},
           {"id": "HM2", "type": 1017730, "params": {"3009": 0.05, "3010": 0.01}}])"));
    convert(s);
    auto geo = s.api.of("geometry");
    ASSERT_EQ(geo.size(), 1u);
    EXPECT_EQ(geo[0]->values.at("pr")[0], 1.0);
    EXPECT_NEAR(geo[0]->values.at("pr")[4], 0.2, 1e-6);
    EXPECT_TRUE(called(s, "beginMaterial Bare plain"));
    EXPECT_TRUE(called(s, "attribute diffuse vec3f 0.3,0.2,0.1"));
}

// The host hands over no text for an empty name; the curves' object is then named like every
// other converter's output, "object", not left with an empty name.
TEST(Hair, UnnamedHairObjectIsNamedObject) {
    ConverterScene s(testing::documentWith(
        R"({"type": 1017305, "hair": {"segments": 1, "guides": [{"points": [[0,0,0],[0,1,0]]}]}})"));
    convert(s);
    EXPECT_TRUE(called(s, "beginObject object plain"));
}

TEST(Hair, MissingServiceWritesNothingAndShortPointArrayIsNotOverrun) {
    ConverterScene off(hairDocument("", R"("services": {"hair": false})"));
    convert(off);
    EXPECT_TRUE(off.api.calls.empty());

    ConverterScene s(hairDocument());
    auto& points = s.doc->objects[0]->hair.points;
    points.resize(7);  // two guides of five points claimed, seven delivered
    points.shrink_to_fit();
    convert(s);
    auto geo = s.api.of("geometry");
    ASSERT_EQ(geo.size(), 1u);
    EXPECT_EQ(geo[0]->values.at("nvertices"), std::vector<double>{5});
    EXPECT_EQ(geo[0]->values.at("p").size(), 15u);
    EXPECT_EQ(geo[0]->values.at("curve_uv").size(), 2u);
}

}  // namespace
}  // namespace raydeck
