#include "MacErrors.h"
#include "MacMemory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

TEST(MacMemory, GarbageSizesAndNilHandlesFail)
{
    for (Size size : {Size(-1), Size(1) << 40}) {
        EXPECT_EQ(NewPtr(size), nullptr) << size;
        EXPECT_EQ(NewHandleClear(size), nullptr) << size;
    }
    Handle h = NewHandle(8);
    ASSERT_NE(h, nullptr);
    DisposePtr(*h);  // not a pointer block: refused, the handle stays intact
    EXPECT_EQ(GetHandleSize(h), 8);
    DisposeHandle(h);
    Handle none = nullptr;
    EXPECT_EQ(HandToHand(&none), nilHandleErr);
}

TEST(MacMemory, FailedCopyKeepsTheOriginal)
{
    Handle h = NewHandle(4);
    ASSERT_NE(h, nullptr);
    std::memcpy(*h, "keep", 4);
    TBFailAllocationAfter(1);
    Handle copy = h;
    EXPECT_EQ(HandToHand(&copy), memFullErr);
    EXPECT_EQ(copy, h);
    EXPECT_EQ(std::memcmp(*h, "keep", 4), 0);
    TBFailAllocationAfter(0);
    DisposeHandle(h);
}

// Host and plug-in threads share one Memory Manager: blocks are counted
// right and an injected failure strikes exactly one allocation among them all.
TEST(MacMemory, ThreadsShareTheBlockCountAndTheInjectedFailure)
{
    constexpr int kThreads = 4, kRounds = 500;
    const long before = TBLiveBlockCount();
    std::atomic<int> failures{0};
    TBFailAllocationAfter(kThreads * kRounds / 2);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&failures] {
            for (int round = 0; round < kRounds; ++round) {
                Ptr p = NewPtrClear(64 + round);
                Handle h = NewHandle(32);
                failures += (p == nullptr) + (h == nullptr);
                DisposePtr(p);
                DisposeHandle(h);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 1);
    EXPECT_FALSE(TBAllocationFailurePending());
    EXPECT_EQ(TBLiveBlockCount(), before);
}

}  // namespace
