#include "MacErrors.h"
#include "MacMemory.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class MacMemory : public ::testing::Test {
protected:
    void TearDown() override { TBFailAllocationAfter(0); }
};

TEST_F(MacMemory, PointerBlocksKnowTheirSizeAndClearOnRequest)
{
    Ptr cleared = NewPtrClear(1000);
    ASSERT_NE(cleared, nullptr);
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(GetPtrSize(cleared), 1000);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(cleared[i], 0) << i;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(cleared) % 16, 0u);

    Ptr empty = NewPtr(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(GetPtrSize(empty), 0);
    DisposePtr(empty);
    DisposePtr(cleared);
    DisposePtr(nullptr);
    EXPECT_EQ(MemError(), noErr);
}

TEST_F(MacMemory, GarbageSizesFailWithMemFullErr)
{
    for (Size size : {Size(-1), Size(-4096), Size(1) << 40, Size(0x7FFFFFFFFFFFFFFF)}) {
        EXPECT_EQ(NewPtr(size), nullptr) << size;
        EXPECT_EQ(MemError(), memFullErr);
        EXPECT_EQ(NewHandleClear(size), nullptr) << size;
        EXPECT_EQ(MemError(), memFullErr);
    }
    Handle h = NewHandle(8);
    ASSERT_NE(h, nullptr);
    SetHandleSize(h, -1);
    EXPECT_EQ(MemError(), memFullErr);
    EXPECT_EQ(GetHandleSize(h), 8);
    DisposeHandle(h);
}

TEST_F(MacMemory, HandlesResizeAndKeepTheirContents)
{
    Handle h = NewHandleClear(4);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(*h, nullptr);
    std::memcpy(*h, "abcd", 4);
    HLock(h);
    EXPECT_EQ(MemError(), noErr);
    HUnlock(h);

    SetHandleSize(h, 100000);
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(GetHandleSize(h), 100000);
    EXPECT_EQ(std::memcmp(*h, "abcd", 4), 0);

    SetHandleSize(h, 2);
    EXPECT_EQ(GetHandleSize(h), 2);
    EXPECT_EQ(std::memcmp(*h, "ab", 2), 0);
    DisposeHandle(h);
    EXPECT_EQ(MemError(), noErr);
}

TEST_F(MacMemory, NilHandlesReportNilHandleErr)
{
    EXPECT_EQ(GetHandleSize(nullptr), 0);
    EXPECT_EQ(MemError(), nilHandleErr);
    SetHandleSize(nullptr, 10);
    EXPECT_EQ(MemError(), nilHandleErr);
    EXPECT_EQ(HandToHand(nullptr), nilHandleErr);
    Handle none = nullptr;
    EXPECT_EQ(HandToHand(&none), nilHandleErr);
    EXPECT_EQ(none, nullptr);
    HLock(nullptr);
    EXPECT_EQ(MemError(), nilHandleErr);
}

TEST_F(MacMemory, SizesAnswerAcrossPointersAndHandles)
{
    // A handle's data is a block of its own, but not a pointer block.
    Handle h = NewHandle(33);
    Ptr p = NewPtr(77);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GetHandleSize(h), 33);
    EXPECT_EQ(GetPtrSize(p), 77);
    EXPECT_EQ(GetPtrSize(*h), 0);
    EXPECT_EQ(MemError(), memWZErr);
    DisposePtr(*h);  // refused, the handle stays intact
    EXPECT_EQ(MemError(), memWZErr);
    EXPECT_EQ(GetHandleSize(h), 33);
    DisposeHandle(h);
    DisposePtr(p);
}

TEST_F(MacMemory, HandToHandMakesAnIndependentCopy)
{
    Handle original = NewHandle(5);
    ASSERT_NE(original, nullptr);
    std::memcpy(*original, "hello", 5);
    Handle copy = original;
    ASSERT_EQ(HandToHand(&copy), noErr);
    ASSERT_NE(copy, original);
    EXPECT_EQ(GetHandleSize(copy), 5);
    EXPECT_EQ(std::memcmp(*copy, "hello", 5), 0);
    (*original)[0] = 'J';
    EXPECT_EQ((*copy)[0], 'h');
    DisposeHandle(original);
    EXPECT_EQ(GetHandleSize(copy), 5);
    DisposeHandle(copy);
}

TEST_F(MacMemory, InjectedFailureHitsExactlyTheNthAllocation)
{
    TBFailAllocationAfter(3);
    Ptr first = NewPtr(10);
    Handle second = NewHandle(10);
    Ptr third = NewPtrClear(10);
    Ptr fourth = NewPtr(10);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(third, nullptr);
    EXPECT_NE(fourth, nullptr);
    EXPECT_EQ(MemError(), noErr);
    DisposePtr(first);
    DisposeHandle(second);
    DisposePtr(fourth);

    Handle h = NewHandle(4);
    ASSERT_NE(h, nullptr);
    std::memcpy(*h, "keep", 4);
    TBFailAllocationAfter(1);
    SetHandleSize(h, 4096);
    EXPECT_EQ(MemError(), memFullErr);
    EXPECT_EQ(GetHandleSize(h), 4);
    EXPECT_EQ(std::memcmp(*h, "keep", 4), 0);

    // Shrinking never allocates, so it does not use up the failure.
    TBFailAllocationAfter(1);
    SetHandleSize(h, 2);
    EXPECT_EQ(MemError(), noErr);
    Handle copy = h;
    EXPECT_EQ(HandToHand(&copy), memFullErr);
    EXPECT_EQ(copy, h);

    TBFailAllocationAfter(1);
    TBFailAllocationAfter(0);
    Ptr after = NewPtr(1);
    EXPECT_NE(after, nullptr);
    DisposePtr(after);
    DisposeHandle(h);
}

TEST_F(MacMemory, BlockMoveDataHandlesOverlapAndBlockZeroClears)
{
    char text[] = "0123456789";
    BlockMoveData(text, text + 2, 6);
    EXPECT_STREQ(text, "0101234589");
    BlockMoveData(text + 2, text, 6);
    EXPECT_STREQ(text, "0123454589");
    BlockMoveData(text, text + 1, -5);
    BlockMoveData(nullptr, text, 3);
    EXPECT_STREQ(text, "0123454589");
    BlockZero(text + 8, 2);
    EXPECT_EQ(text[7], '5');
    EXPECT_EQ(text[8], 0);
    EXPECT_EQ(text[9], 0);
    BlockZero(text, -1);
    EXPECT_EQ(text[0], '0');
}

}  // namespace
