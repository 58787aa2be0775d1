#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "core/memory.hpp"
#include "core/shared_array.hpp"

using namespace vardelin;

TEST(EnsureAllocatable, RefusesWhatNoMachineHolds) {
    EXPECT_NO_THROW(ensure_allocatable(0));
    EXPECT_NO_THROW(ensure_allocatable(1 << 20));
    EXPECT_THROW(ensure_allocatable(std::numeric_limits<u64>::max()), std::bad_alloc);
    // 2^62 bytes fit in a pointer difference but in no machine's memory.
    EXPECT_THROW(ensure_allocatable(u64{1} << 62), std::bad_alloc);
}

TEST(LargeBuffers, FreedBlockServesOneLaterBufferOfItsSizeWhole) {
    constexpr std::size_t kBytes = (std::size_t{3} << 20) + 17;  // rounds up to 4 MiB
    const void* first = nullptr;
    {
        Buffer<char> a(kBytes);
        first = a.data();
    }
    // The next buffer of the same rounded size takes the freed block and may use it to its
    // last byte; a second live buffer of that size must not share it.
    Buffer<char> b(std::size_t{4} << 20), c(std::size_t{4} << 20);
    EXPECT_EQ(b.data(), first);
    EXPECT_NE(b.data(), c.data());
    std::fill(b.begin(), b.end(), 'b');
    std::fill(c.begin(), c.end(), 'c');
    EXPECT_EQ(std::count(b.begin(), b.end(), 'b'), static_cast<std::ptrdiff_t>(b.size()));
    EXPECT_EQ(std::count(c.begin(), c.end(), 'c'), static_cast<std::ptrdiff_t>(c.size()));
}

TEST(LargeBuffers, ManyFreedBlocksOfManySizesStayUsable) {
    // More blocks than are ever kept, of sizes that do and do not meet each other.
    for (int round = 0; round < 3; ++round) {
        std::vector<Buffer<double>> live;
        for (std::size_t i = 1; i <= 40; ++i) live.emplace_back(i * (std::size_t{1} << 18) + round);
        for (auto& v : live) std::fill(v.begin(), v.end(), static_cast<double>(v.size()));
        for (const auto& v : live) EXPECT_EQ(v.back(), static_cast<double>(v.size()));
    }
}
