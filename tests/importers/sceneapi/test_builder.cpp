// trv::trvSceneapi_oo over a recording back end: construction order, counters, typed setters.
#include <gtest/gtest.h>

#include <stdexcept>

#include "AttachedBuilder.h"

using Calls = std::vector<std::string>;

TEST(Builder, NullBackendWritesNothingAndSkipsBeginScene) {
    StubFactory factory(nullptr);
    trv::trvSceneapi_oo builder(&factory);
    EXPECT_EQ(builder.backend(), nullptr);
    EXPECT_EQ(factory.beginScenes, 0);
}

TEST(Builder, ConstructionWritesHeaderThenBannerThenVersion) {
    RecordingApi api;
    StubFactory factory(&api);
    trv::trvSceneapi_oo builder(&factory);
    EXPECT_EQ(builder.backend(), &api);
    EXPECT_EQ(
        api.calls,
        (Calls{"factory.beginScene",
               "print Raydeck SceneApi oo 9.0.45  (built Wed Feb 20 10:46:13 2019)", "version 8"}));
}

TEST(Builder, IdAndShaderCountersAreIndependentAndResetByAttach) {
    Attached a;
    EXPECT_EQ(a.builder.beginShader("trv_diffuse"), 1);
    EXPECT_EQ(a.builder.writeId(), 1);
    EXPECT_EQ(a.builder.writeId(), 2);
    EXPECT_EQ(a.builder.beginShader("trv_advanced"), 2);
    EXPECT_EQ(a.builder.attach(&a.api), 0);
    EXPECT_EQ(a.builder.writeId(), 1);
    EXPECT_EQ(a.builder.beginShader("x"), 1);
    EXPECT_EQ(a.api.calls, (Calls{"beginShaderId trv_diffuse 1", "id 1", "id 2",
                                  "beginShaderId trv_advanced 2", "id 1", "beginShaderId x 1"}));
}

TEST(Builder, ScalarSettersUseTheirTypeCodes) {
    Attached a;
    a.builder.setAttribute("s", std::string("text"));
    a.builder.setAttribute("v3f", trv::vec3f{1.5f, 2.0f, -3.0f});
    a.builder.setAttribute("v3d", trv::vec3d{0.25, 0.5, 1.0});
    a.builder.setAttribute("d", 2.5);
    a.builder.setAttribute("f", 0.5f);
    a.builder.setAttribute("i", -7);
    a.builder.setAttribute("t", true);
    a.builder.setAttribute("n", false);
    EXPECT_EQ(a.api.calls, (Calls{"attribute s string text", "attribute v3f vec3f 1.5,2,-3",
                                  "attribute v3d vec3d 0.25,0.5,1", "attribute d double 2.5",
                                  "attribute f float 0.5", "attribute i int -7",
                                  "attribute t bool 1", "attribute n bool 0"}));
}

TEST(Builder, CharPointerSetterThrowsAndWritesNothing) {
    Attached a;
    try {
        a.builder.setAttribute("texture", "startup.hdr");
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "const char * are deprecated");
    }
    EXPECT_TRUE(a.api.calls.empty());
}

TEST(Builder, ArraySettersSendCountedRecords) {
    Attached a;
    a.builder.setAttribute("ints", std::vector<int>{1, 2, 3});
    a.builder.setAttribute("floats", std::vector<float>{0.5f});
    a.builder.setAttribute("doubles", std::vector<double>{});
    trv::matrix m = {};
    m.m[0] = 1;
    m.m[15] = 2;
    a.builder.setAttribute("matrices", std::vector<trv::matrix>{m});
    a.builder.setAttribute("points", trv::vec3fArray{{1, 2, 3, 4, 5, 6, 7}});
    a.builder.setAttribute("none", trv::vec3fArray{});
    EXPECT_EQ(
        a.api.calls,
        (Calls{"attribute ints int[] count=3 1,2,3", "attribute floats float[] count=1 0.5",
               "attribute doubles double[] count=0 ",
               "attribute matrices matrix[] count=1 1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,2",
               "attribute points vec3f[] count=2 1,2,3,4,5,6", "attribute none vec3f[] count=0 "}));
}

TEST(Builder, ForwardingOperations) {
    Attached a;
    trv::matrix m = {};
    m.m[12] = 4;
    a.builder.transform(m);
    a.builder.transform(m, true);
    a.builder.transform(m, false);
    a.builder.beginGroup("root");
    a.builder.endGroup();
    a.builder.endShader();
    a.builder.flags(1);
    a.builder.progress("walking", 0.5f);
    const std::string mt = "0,0,0,0,0,0,0,0,0,0,0,0,4,0,0,0";
    EXPECT_EQ(a.api.calls, (Calls{"transform " + mt, "setTransform " + mt, "transform " + mt,
                                  "beginGroup root plain", "endGroup", "endShader", "flags 1",
                                  "progress walking 0.5"}));
}
