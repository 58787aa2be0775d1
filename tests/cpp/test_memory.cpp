#include <limits>
#include <new>

#include <gtest/gtest.h>

#include "core/memory.hpp"

using namespace vardelin;

TEST(EnsureAllocatable, RefusesWhatNoMachineHolds) {
    EXPECT_NO_THROW(ensure_allocatable(0));
    EXPECT_NO_THROW(ensure_allocatable(1 << 20));
    EXPECT_THROW(ensure_allocatable(std::numeric_limits<u64>::max()), std::bad_alloc);
    // 2^62 bytes fit in a pointer difference but in no machine's memory.
    EXPECT_THROW(ensure_allocatable(u64{1} << 62), std::bad_alloc);
}
