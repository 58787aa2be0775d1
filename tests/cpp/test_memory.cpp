#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/memory.hpp"
#include "core/shared_array.hpp"
#include "query/batch/grouped_agg.hpp"

using namespace vardelin;

// Requests no machine holds are refused with MemoryError from Python (huge k, aggregate states,
// promised WKB coordinates); here what "available" means, the large-buffer cache, and the
// aggregate state's byte count, which Python sees only as refusals of sizes far past any machine.
namespace {

void write_file(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

}  // namespace

TEST(AvailableMemory, TightestOfMemAvailableAndEveryCgroupLevel) {
    char pattern[] = "/tmp/vardelin-memoryXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path root(pattern), proc = root / "proc";
    write_file(proc / "meminfo", "MemTotal:       4194304 kB\nMemAvailable:    2097152 kB\n");
    // Without the process's cgroups only MemAvailable (2 GiB) counts.
    EXPECT_EQ(available_memory(proc.string()), u64{2} << 30);
    write_file(proc / "self/cgroup", "4:cpu,memory:/jobs/one\n0::/user/app\n");
    // The v1 mount point holds a blank, which mountinfo writes as \040.
    write_file(proc / "self/mountinfo", "30 1 0:26 / " + (root / "unified").string() + " rw - cgroup2 cgroup2 rw\n" +
                                            "31 1 0:27 /jobs " + (root / "mem\\040one").string() +
                                            " rw shared:9 - cgroup cgroup rw,memory\n");
    // v2: no limit on the leaf; its parent allows 768 MiB and holds 640 MiB, 256 MiB of it
    // reclaimable: 384 MiB left.
    write_file(root / "unified/user/app/memory.max", "max\n");
    write_file(root / "unified/user/memory.max", std::to_string(u64{768} << 20) + "\n");
    write_file(root / "unified/user/memory.current", std::to_string(u64{640} << 20) + "\n");
    write_file(root / "unified/user/memory.stat",
               "active_file 7\ninactive_file " + std::to_string(u64{256} << 20) + "\n");
    // v1, mounted from /jobs: 1 GiB with 256 MiB used, then 512 MiB.
    write_file(root / "mem one/one/memory.limit_in_bytes", std::to_string(u64{1} << 30));
    write_file(root / "mem one/one/memory.usage_in_bytes", std::to_string(u64{256} << 20));
    EXPECT_EQ(available_memory(proc.string()), u64{384} << 20);
    write_file(root / "mem one/one/memory.limit_in_bytes", std::to_string(u64{512} << 20));
    EXPECT_EQ(available_memory(proc.string()), u64{256} << 20);
    std::filesystem::remove_all(root);
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

// The guard is only as good as the bytes it is told: a count of half the state would let a
// request twice the available memory through, to be killed when it is filled.
TEST(GroupedAgg, RefusesImpossibleSizes) {
    // The estimate is what a zeroed state holds: a count per group, a sum and a count per cell.
    for (const auto& [groups, columns] : {std::pair<u64, u64>{1000, 0}, {1000, 3}, {7, 12}}) {
        const GroupedAgg state(groups, columns);
        const u64 held = (state.counts.size() + state.valid_counts.size()) * sizeof(u64) +
                         state.sums.size() * sizeof(double);
        EXPECT_EQ(GroupedAgg::state_bytes(groups, columns), held) << groups << " x " << columns;
    }
    EXPECT_EQ(GroupedAgg::state_bytes(1'000'000, 4), 72'000'000u);
    // At its peak the join also holds the compact copy of every group a part can reach.
    EXPECT_EQ(GroupedAgg::peak_bytes(1'000'000, 10, 4), 72'000'000u + 10 * (4 + 8 + 4 * 16));
    EXPECT_EQ(GroupedAgg::peak_bytes(10, 1'000'000, 4), 720u + 10 * (4 + 8 + 4 * 16));
    // Products past 64 bits are refused exactly where they start, for groups and for columns.
    const u64 max = std::numeric_limits<u64>::max();
    EXPECT_EQ(GroupedAgg::state_bytes((u64{1} << 61) - 1, 0), max - 7);
    EXPECT_THROW(GroupedAgg::state_bytes(u64{1} << 61, 0), std::bad_alloc);
    EXPECT_EQ(GroupedAgg::state_bytes(1, (u64{1} << 60) - 1), max - 7);
    EXPECT_THROW(GroupedAgg::state_bytes(1, u64{1} << 60), std::bad_alloc);
    EXPECT_THROW(GroupedAgg(u64{1} << 61, 1), std::bad_alloc);
    // Fits in 64 bits, in no machine: refused before a byte is filled.
    EXPECT_THROW(GroupedAgg(u64{1} << 40, 4), std::bad_alloc);
}
