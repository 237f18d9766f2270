// Writing scalar attributes and packed arrays allocates nothing per call: every global
// operator new of this binary is counted.
#include <gtest/gtest.h>

#include <new>
#include <vector>

#include "counting_allocator.h"
#include "scene_file_test_util.h"

namespace {

TEST(SceneFileAllocation, ScalarAttributesAndPackedArraysAllocateNothing) {
    MemoryScene s(true);
    std::vector<float> floats(100000, 0.5f);
    std::vector<int32_t> ints(30000, 7);
    const trvArray fa = {floats.data(), uint32_t(floats.size())};
    const trvArray pa = {floats.data(), uint32_t(floats.size() / 3)};
    const trvArray ia = {ints.data(), uint32_t(ints.size())};
    const float f3[3] = {1, 2, 3};
    const double d3[3] = {1, 2, 3};
    double m[16] = {};
    const int32_t one = 1;
    const double half = 0.5;
    const char* ref = "ref";
    const unsigned char block[4] = {1, 2, 3, 4};
    s->beginGroup("root", true);
    s->beginObject("o", true);
    s->beginGeometry("triangles");

    const long probe = allocationCount();
    ::operator delete(::operator new(16));
    ASSERT_EQ(allocationCount() - probe, 1) << "the counting operator new is not in use";

    const long before = allocationCount();
    for (int round = 0; round < 200; ++round) {
        s->attribute("f", trvType::float_, f3);
        s->attribute("d", trvType::double_, &half);
        s->attribute("v", trvType::vec3f, f3);
        s->attribute("w", trvType::vec3d, d3);
        s->attribute("i", trvType::int_, &one);
        s->attribute("b", trvType::bool_, &one);
        s->attribute("m", trvType::matrix, m);
        s->attribute("s", trvType::string, "text");
        s->attribute("r", trvType::string_ref, &ref);
        s->attribute("h\xE9x", trvType::int_, &one);
        s->attribute("fa", trvType::array_bit | trvType::float_, &fa);
        s->attribute("pa", trvType::array_bit | trvType::vec3f, &pa);
        s->attribute("ia", trvType::array_bit | trvType::int_, &ia);
        s->transform(m);
        s->namedBlock("blk", block, 4);
    }
    const long during = allocationCount() - before;
    EXPECT_EQ(during, 0) << "allocations while writing attributes";
}

TEST(SceneFileAllocation, ElementWisePackedArrayReusesItsBuffer) {
    MemoryScene s(true);
    const float f = 1;
    auto oneArray = [&] {
        s->beginArray("a");
        for (int i = 0; i < 1000; ++i) {
            s->arrayValue(trvType::float_, &f);
        }
        s->endArray();
    };
    oneArray();  // the first array may grow the gathering buffer
    const long before = allocationCount();
    oneArray();
    oneArray();
    EXPECT_EQ(allocationCount() - before, 0);
}

}  // namespace
