// The host layer's common shapes against a hand-made host table: owned handles are freed exactly
// once however they are moved or handed over, calls without the operation or the handle answer
// zero without reaching the host, failed reads leave their output alone, and lent arrays with a
// negative count or no data read as empty.
#include <gtest/gtest.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "plugins/c4d/host/BaseBitmap.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/HostInterface.h"
#include "plugins/c4d/host/String.h"

namespace {

namespace host = raydeck::host;

// What the fake host handed out, freed and was asked; the table's operations are plain C
// functions, so they reach it as a global.
struct FakeHost {
    int bitmapsMade = 0;
    std::vector<int> freedBitmaps;  // numbers of the bitmaps freed, in order
    int stringsMade = 0;
    int stringsFreed = 0;
    int calls = 0;  // operations that took a node
    const RdHostVector* points = nullptr;
    int32_t pointCount = 0;
    int32_t readAnswer = 0;  // what the vector read answers
};
FakeHost g_host;
int g_storage[16];  // bitmap i is &g_storage[i]

int bitmapNumber(const RdHostBitmap* b) {
    return static_cast<int>(reinterpret_cast<const int*>(b) - g_storage);
}

RdHostInterface fakeTable() {
    RdHostInterface t{};
    t.apiVersion = RD_HOST_API_VERSION;
    t.structSize = sizeof(RdHostInterface);
    t.bitmapAlloc = [] {
        return reinterpret_cast<RdHostBitmap*>(&g_storage[g_host.bitmapsMade++]);
    };
    t.bitmapFree = [](RdHostBitmap* b) { g_host.freedBitmaps.push_back(bitmapNumber(b)); };
    t.stringAlloc = [] {
        ++g_host.stringsMade;
        return reinterpret_cast<RdHostString*>(&g_storage[15]);
    };
    t.stringFree = [](RdHostString*) { ++g_host.stringsFreed; };
    t.polygonGetPoints = [](const RdHostNode*, int32_t* count) {
        ++g_host.calls;
        *count = g_host.pointCount;
        return g_host.points;
    };
    t.nodeGetVector = [](const RdHostNode*, int32_t, RdHostVector* out) {
        ++g_host.calls;
        *out = RdHostVector{7, 7, 7};  // a host that scribbles before it fails
        return g_host.readAnswer;
    };
    t.nodeGetType = [](const RdHostNode*) {
        ++g_host.calls;
        return int32_t{5100};
    };
    return t;
}

class HostHandles : public ::testing::Test {
  protected:
    void SetUp() override {
        g_host = FakeHost();
        table_ = fakeTable();
        host::setHostInterface(&table_);
    }
    void TearDown() override { host::setHostInterface(nullptr); }
    static host::BaseObject someNode() {
        return host::BaseObject(reinterpret_cast<RdHostNode*>(&g_storage[14]));
    }

    RdHostInterface table_{};
};

TEST_F(HostHandles, OwnedHandleIsFreedOnceAfterMovesAndNeverAfterRelease) {
    {
        host::BaseBitmap first;   // 0
        host::BaseBitmap second;  // 1
        host::BaseBitmap moved(std::move(first));
        EXPECT_FALSE(first.valid());
        second = std::move(moved);  // frees 1, holds 0
        EXPECT_EQ(g_host.freedBitmaps, std::vector<int>{1});
        host::BaseBitmap& same = second;
        second = std::move(same);  // assigning to itself keeps it
        ASSERT_TRUE(second.valid());
        host::BaseBitmap handedOver;  // 2
        RdHostBitmap* raw = handedOver.release();
        EXPECT_EQ(bitmapNumber(raw), 2);
        EXPECT_FALSE(handedOver.valid());
    }
    EXPECT_EQ(g_host.freedBitmaps, (std::vector<int>{1, 0}));
    EXPECT_EQ(g_host.bitmapsMade, 3);
}

TEST_F(HostHandles, CopiedAndMovedStringsFreeEachHandleOnce) {
    {
        host::String a;
        host::String copy(a);  // a handle of its own
        host::String moved(std::move(a));
        host::String assigned;
        assigned = std::move(moved);
    }
    EXPECT_EQ(g_host.stringsMade, 3);
    EXPECT_EQ(g_host.stringsFreed, 3);
}

TEST_F(HostHandles, WithoutTheOperationOrTheHandleNothingIsAskedOrFreed) {
    table_.bitmapAlloc = nullptr;
    EXPECT_FALSE(host::BaseBitmap().valid());
    // A table that ends before an operation lacks it.
    table_.structSize = offsetof(RdHostInterface, nodeGetType);
    EXPECT_EQ(someNode().type(), 0);
    table_.structSize = sizeof(RdHostInterface);
    EXPECT_EQ(host::BaseObject().type(), 0);
    EXPECT_TRUE(host::BaseObject().points().empty());
    EXPECT_EQ(g_host.calls, 0);
    EXPECT_EQ(someNode().type(), 5100);
    host::setHostInterface(nullptr);
    { host::BaseBitmap adopted(reinterpret_cast<RdHostBitmap*>(&g_storage[3])); }
    EXPECT_TRUE(g_host.freedBitmaps.empty());
}

TEST_F(HostHandles, FailedReadLeavesOutputAsItWas) {
    host::Vector out(1, 2, 3);
    g_host.readAnswer = 0;
    EXPECT_FALSE(someNode().getVector(10, out));
    EXPECT_EQ(out.x, 1.0);
    EXPECT_EQ(out.z, 3.0);
    g_host.readAnswer = 1;
    EXPECT_TRUE(someNode().getVector(10, out));
    EXPECT_EQ(out.y, 7.0);
}

TEST_F(HostHandles, LentArrayWithNegativeCountOrNoDataIsEmpty) {
    const RdHostVector points[2] = {{0, 0, 0}, {1, 2, 3}};
    g_host.points = points;
    g_host.pointCount = 2;
    host::ConstArray<RdHostVector> lent = someNode().points();
    EXPECT_EQ(lent.data, points);
    EXPECT_EQ(lent.size(), 2);
    g_host.pointCount = -1;
    lent = someNode().points();
    EXPECT_TRUE(lent.empty());
    EXPECT_EQ(lent.data, nullptr);
    EXPECT_EQ(lent.begin(), lent.end());
    g_host.points = nullptr;
    g_host.pointCount = 5;
    EXPECT_EQ(someNode().points().size(), 0);
}

}  // namespace
