// Host layer values that are reduced or owned: the millisecond fraction of a time in seconds
// (against the floating-point Euclid it replaces), and phong normals lent by the host or handed
// over as a copy (who frees what), against the simulator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <random>
#include <string>

#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/Values.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"

namespace {

namespace host = raydeck::host;
using raydeck::host::HostTime;

// The reduction as it was: Euclid with fmod on the doubles.
HostTime byFmod(double s) {
    if (!(s == s)) {
        s = 0.0;
    }
    s = std::fmax(-1e15, std::fmin(1e15, s));
    const double n = std::floor(s * 1000.0 + 0.5), d = 1000.0;
    if (std::fabs(n) < 0.001) {
        return HostTime(0.0, 1.0);
    }
    double a = std::fabs(n), b = d;
    while (b != 0.0) {
        const double r = std::fmod(a, b);
        a = b;
        b = r;
    }
    return HostTime(n / a, d / a);
}

void expectSame(double s) {
    const HostTime got = HostTime::fromSeconds(s), want = byFmod(s);
    EXPECT_EQ(got.num, want.num) << s;
    EXPECT_EQ(got.den, want.den) << s;
}

TEST(HostTimeFromSeconds, MatchesFloatingPointEuclidEverywhere) {
    for (int ms = -100000; ms <= 100000; ++ms) {
        expectSame(ms / 1000.0);
        expectSame(ms / 1000.0 + 0.0004);
    }
    for (double s : {0.0, -0.0, 1e-4, -1e-4, 0.0005, -0.0005, 1e15, -1e15, 2e15, -3e17,
                     9.007199254740993e12, 123456789.123, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        expectSame(s);
    }
    std::mt19937_64 random(15);
    std::uniform_real_distribution<double> exponent(-4.0, 16.0);
    for (int i = 0; i < 200000; ++i) {
        const double s = std::pow(10.0, exponent(random));
        expectSame(s);
        expectSame(-s);
    }
    // Lowest terms: 0.25 s is 1/4, 1.5 s is 3/2, 0.001 s is 1/1000.
    EXPECT_EQ(HostTime::fromSeconds(0.25).num, 1.0);
    EXPECT_EQ(HostTime::fromSeconds(0.25).den, 4.0);
    EXPECT_EQ(HostTime::fromSeconds(1.5).num, 3.0);
    EXPECT_EQ(HostTime::fromSeconds(1.5).den, 2.0);
    EXPECT_EQ(HostTime::fromSeconds(0.001).den, 1000.0);
}

// The simulator's table with memFree counted.
int g_frees = 0;
void (*g_simFree)(void*) = nullptr;
void countingFree(void* block) {
    ++g_frees;
    g_simFree(block);
}

class PhongOwnership : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        doc_ = raydeck::hostsim::loadDocumentText(
            R"({"format": "raydeck-host-document", "version": 1, "objects": [
              {"name": "Given", "type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
               "polygons": [[0,1,2,3]], "tags": [{"type": 5612,
               "normals": [[0,0,1, 0,0,1, 0,0,1, 0,0,1]]}]},
              {"name": "Smooth", "type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0]],
               "polygons": [[0,1,2]], "tags": [{"type": 5612}]},
              {"name": "Flat", "type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0]],
               "polygons": [[0,1,2]]}]})",
            "x.c4d", "", error);
        ASSERT_TRUE(doc_) << error;
        host_.setActiveDocument(doc_.get());
        table_ = *host_.table();
        g_simFree = table_.memFree;
        table_.memFree = countingFree;
        g_frees = 0;
        host::setHostInterface(&table_);
    }
    void TearDown() override { host::setHostInterface(nullptr); }
    host::BaseObject object(size_t i) const {
        return host::BaseObject(reinterpret_cast<RdHostNode*>(doc_->objects[i].get()));
    }

    std::unique_ptr<raydeck::hostsim::SimDocument> doc_;
    raydeck::hostsim::SimHost host_;
    RdHostInterface table_{};
};

// Normals the document gives are lent: the tag's own array, never freed by the plug-in.
TEST_F(PhongOwnership, GivenNormalsAreLentAndNeverFreed) {
    {
        host::PhongNormals lent = object(0).phongNormals();
        ASSERT_TRUE(lent.isBorrowed());
        EXPECT_EQ(lent.data(), doc_->objects[0]->tags[0]->normals.data());
        EXPECT_EQ(lent.polygonCount(), 1);
        host::PhongNormals moved = std::move(lent);
        EXPECT_FALSE(lent);
        EXPECT_TRUE(moved.isBorrowed());
        float n[3] = {0, 0, 0};
        EXPECT_TRUE(moved.corner(0, 3, n));
        EXPECT_EQ(n[2], 1.0f);
    }
    EXPECT_EQ(g_frees, 0);
}

// Smooth normals are computed per request: a copy, freed exactly once however it is moved.
TEST_F(PhongOwnership, ComputedNormalsAreACopyFreedOnce) {
    {
        host::PhongNormals copy = object(1).phongNormals();
        ASSERT_TRUE(copy);
        EXPECT_FALSE(copy.isBorrowed());
        EXPECT_EQ(copy.polygonCount(), 1);
        host::PhongNormals moved = std::move(copy);
        host::PhongNormals assigned;
        assigned = std::move(moved);
        EXPECT_TRUE(assigned);
        EXPECT_EQ(g_frees, 0);
    }
    EXPECT_EQ(g_frees, 1);
    // Assigning over a copy frees the copy it held.
    host::PhongNormals first = object(1).phongNormals();
    first = object(0).phongNormals();
    EXPECT_EQ(g_frees, 2);
    EXPECT_TRUE(first.isBorrowed());
}

TEST_F(PhongOwnership, NoPhongTagNoNormalsAndNoHandleNothingToLend) {
    EXPECT_FALSE(object(2).phongNormals());
    int32_t count = 7;
    EXPECT_EQ(table_.polygonGetPhongNormals(nullptr, &count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(table_.polygonGetPhongNormals(reinterpret_cast<RdHostNode*>(doc_->objects[1].get()),
                                            &count),
              nullptr);
    // A host whose table ends before the lending operation hands out copies.
    table_.structSize = offsetof(RdHostInterface, polygonGetPhongNormals);
    host::PhongNormals copy = object(0).phongNormals();
    ASSERT_TRUE(copy);
    EXPECT_FALSE(copy.isBorrowed());
    EXPECT_NE(copy.data(), doc_->objects[0]->tags[0]->normals.data());
}

}  // namespace
