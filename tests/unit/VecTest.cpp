#include <gtest/gtest.h>

#include "TestSupport.h"

#include <climits>
#include <string>

#include "Containers/Vec.h"
#include "VMError.h"

using namespace vm;

namespace {
}  // namespace

TEST(VecTest, CapacityRules)
{
    Vec<int> v;
    EXPECT_EQ(v.capacity(), 0);
    int seen[4];
    int k = 0;
    for (int i = 0; i < 40; ++i) {
        int before = v.capacity();
        v.append(i);
        if (v.capacity() != before)
            seen[k++] = v.capacity();
    }
    ASSERT_EQ(k, 4);
    EXPECT_EQ(seen[0], 8);
    EXPECT_EQ(seen[1], 18);
    EXPECT_EQ(seen[2], 30);
    EXPECT_EQ(seen[3], 45);

    EXPECT_EQ(Vec<int>(0).capacity(), 7);
    EXPECT_EQ(Vec<int>(-3).capacity(), 7);
    EXPECT_EQ(Vec<int>(10).capacity(), 16);
    // A hint whose capacity int cannot hold is refused before any allocation.
    EXPECT_EQ(errorCode([] { Vec<char> big(INT_MAX); }), KErrVm);

    Vec<int> w;
    w.setCapacity(0);
    EXPECT_EQ(w.capacity(), 1);
    w.append(1);
    w.append(2);
    EXPECT_EQ(errorCode([&] { w.setCapacity(1); }), KErrInvalidArgument);
    EXPECT_EQ(w.count(), 2);
}

TEST(VecTest, BoundsAndRemoval)
{
    Vec<int> v{1, 2, 3, 4};
    EXPECT_EQ(v[3], 4);
    EXPECT_EQ(errorCode([&] { (void)v[4]; }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([&] { (void)v[-1]; }), KErrInvalidArgument);
    EXPECT_TRUE(pendingError().text == u"InvalidArgumentException");
    EXPECT_EQ(errorCode([&] { v.removeLast(5); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([&] { v.removeLast(-1); }), KErrInvalidArgument);
    v.removeLast(2);
    EXPECT_EQ(v.count(), 2);
    v.removeAt(0);
    EXPECT_EQ(v[0], 2);
    Vec<int> empty;
    EXPECT_EQ(errorCode([&] { (void)empty.last(); }), KErrInvalidArgument);
    v.clear();
    EXPECT_EQ(v.capacity(), 0);
    EXPECT_EQ(v.count(), 0);
}

TEST(VecTest, CopyAppendPartAndSelfAppend)
{
    Vec<std::string> v;
    for (int i = 0; i < 20; ++i)
        v.append(std::to_string(i));
    // Appending an element of the vector itself while it grows.
    while (v.count() != v.capacity())
        v.append("x");
    v.append(v[0]);
    EXPECT_EQ(v.last(), "0");

    Vec<std::string> part;
    part.appendPart(v, 2, 3);
    ASSERT_EQ(part.count(), 3);
    EXPECT_EQ(part[0], "2");
    EXPECT_EQ(part[2], "4");
    EXPECT_EQ(errorCode([&] { part.appendPart(v, v.count(), 1); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([&] { part.appendPart(v, 1, -1); }), KErrInvalidArgument);
    EXPECT_EQ(errorCode([&] { part.appendPart(v, 1, INT_MAX); }), KErrInvalidArgument);

    part.appendAll(part);
    EXPECT_EQ(part.count(), 6);
    EXPECT_EQ(part[5], "4");

    Vec<std::string> copy(part);
    copy[0] = "changed";
    EXPECT_EQ(part[0], "2");
    Vec<std::string> moved(std::move(copy));
    EXPECT_EQ(moved[0], "changed");
    EXPECT_EQ(copy.count(), 0);
}
