#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include "core/error.hpp"
#include "query/batch/fold_listed.hpp"
#include "query/batch/grouped_agg.hpp"

using namespace vardelin;

namespace {

// Value columns whose sums depend on the order of addition: magnitudes from 1e-8 to 1e8,
// an occasional NaN and infinity, and validity bytes 0, 1, 2 and 255.
struct Columns {
    std::vector<std::vector<double>> values;
    std::vector<std::vector<std::uint8_t>> validity;
    AggColumns view() const {
        AggColumns c;
        for (const auto& v : values) c.values.emplace_back(v);
        for (const auto& v : validity) c.validity.emplace_back(v);
        return c;
    }
};

Columns make_columns(std::size_t rows, std::size_t cols, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-8, 8);
    const std::uint8_t bytes[] = {0, 1, 2, 255, 1, 1};
    Columns c;
    c.values.assign(cols, std::vector<double>(rows));
    c.validity.assign(cols, std::vector<std::uint8_t>(rows));
    for (std::size_t j = 0; j < cols; ++j) {
        for (std::size_t q = 0; q < rows; ++q) {
            c.values[j][q] = mantissa(gen) * std::pow(10.0, exponent(gen));
            c.validity[j][q] = bytes[gen() % 6];
        }
    }
    return c;
}

// The groups a row matches, as a kernel would report them: in no particular order, some twice
// (two parts of one polygon), many rows matching nothing.
std::vector<u32> reported_groups(u32 row, u64 groups) {
    std::vector<u32> out;
    u64 h = (u64{row} + 1) * 0x9E3779B97F4A7C15ULL;
    const unsigned n = static_cast<unsigned>((h >> 60) % 5);
    for (unsigned i = 0; i < n; ++i) {
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ULL;
        // Most matches in a few hot groups, so those sums see many additions.
        const u64 g = (h >> 62) == 0 ? (h >> 20) % groups : (h >> 20) % std::min<u64>(groups, 7);
        out.push_back(static_cast<u32>(g));
        if ((h & 7) == 0) out.push_back(static_cast<u32>(g));
    }
    return out;
}

// A valid NaN and a valid infinity in column 0 of rows that match, and an invalid NaN that
// must never be read. Returns the row holding the valid NaN.
u32 plant_specials(Columns& c, u64 groups) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {nan, std::numeric_limits<double>::infinity(), nan};
    const std::uint8_t valid[] = {1, 255, 0};
    u32 first = 0;
    for (u32 q = 10, planted = 0; planted < 3; ++q) {
        if (reported_groups(q, groups).empty()) continue;
        if (planted == 0) first = q;
        c.values[0][q] = values[planted];
        c.validity[0][q] = valid[planted];
        ++planted;
    }
    return first;
}

// The plain serial fold: rows begin .. end - 1 in order, each matched group once per row.
GroupedAgg serial_fold(u64 begin, u64 end, u64 groups, const Columns& c) {
    const std::size_t cols = c.values.size();
    GroupedAgg s;
    s.n_groups = groups;
    s.counts.assign(groups, 0);
    s.sums.assign(groups * cols, 0.0);
    s.valid_counts.assign(groups * cols, 0);
    for (u64 row = begin; row < end; ++row) {
        const u32 q = static_cast<u32>(row);
        std::vector<u32> seen;
        for (const u32 g : reported_groups(q, groups)) {
            bool again = false;
            for (const u32 s2 : seen) again = again || s2 == g;
            if (again) continue;
            seen.push_back(g);
            ++s.counts[g];
            for (std::size_t j = 0; j < cols; ++j) {
                if (!c.validity[j][q]) continue;
                s.sums[j * groups + g] += c.values[j][q];
                ++s.valid_counts[j * groups + g];
            }
        }
    }
    return s;
}

// The groups of rows begin .. end - 1 listed by row, each once, as the joins list them.
struct Listing {
    std::vector<u64> starts;
    std::vector<u32> polygons;
};

Listing listing(u64 begin, u64 end, u64 groups) {
    Listing m;
    m.starts.push_back(0);
    for (u64 row = begin; row < end; ++row) {
        std::vector<u32> g = reported_groups(static_cast<u32>(row), groups);
        std::sort(g.begin(), g.end());
        g.erase(std::unique(g.begin(), g.end()), g.end());
        // Listed in reverse: a row's own order must not matter.
        m.polygons.insert(m.polygons.end(), g.rbegin(), g.rend());
        m.starts.push_back(m.polygons.size());
    }
    return m;
}

GroupedAgg run_listed(u64 rows, u64 groups, const Columns& c, int threads) {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(threads));
    GroupedAgg state(groups, c.values.size());
    aggregate_listed(state, rows, c.view(), [&](u64 b, u64 e) { return listing(b, e, groups); });
    return state;
}

// Bit for bit, so that NaN equals NaN and -0.0 differs from +0.0.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

void expect_same(const GroupedAgg& got, const GroupedAgg& want) {
    EXPECT_EQ(got.n_groups, want.n_groups);
    EXPECT_EQ(got.counts, want.counts);
    EXPECT_EQ(got.valid_counts, want.valid_counts);
    EXPECT_TRUE(same_bits(got.sums, want.sums));
}

}  // namespace

// Zeroed states, compaction and merging are checked bit for bit through the public aggregate
// join against np.bincount; here the sizes no machine holds.
TEST(GroupedAgg, RefusesImpossibleSizes) {
    EXPECT_EQ(GroupedAgg::state_bytes(1'000'000, 4), 72'000'000u);
    const u64 max = std::numeric_limits<u64>::max();
    EXPECT_THROW(GroupedAgg::state_bytes(max, 0), std::bad_alloc);   // groups * 8
    EXPECT_THROW(GroupedAgg::state_bytes(1, max / 8), std::bad_alloc);  // 16 * columns
    EXPECT_THROW(GroupedAgg(u64{1} << 61, 1), std::bad_alloc);
    // Fits in 64 bits, in no machine: refused before a byte is filled.
    EXPECT_THROW(GroupedAgg(u64{1} << 40, 4), std::bad_alloc);
}

TEST(FoldListed, EqualsSerialFoldBitForBitOnAnyPoolSizeAndInBlocks) {
    const u64 rows = 60'000, groups = 1'000;
    Columns c = make_columns(rows, 3, 7);
    const u32 nan_row = plant_specials(c, groups);
    const GroupedAgg want = serial_fold(0, rows, groups, c);
    EXPECT_TRUE(std::isnan(want.sums[reported_groups(nan_row, groups)[0]]));
    // The data must tell orders apart: folding two halves and adding them differs.
    const GroupedAgg halves =
        GroupedAgg::merge(serial_fold(0, rows / 2, groups, c), serial_fold(rows / 2, rows, groups, c));
    EXPECT_EQ(halves.counts, want.counts);
    EXPECT_FALSE(same_bits(halves.sums, want.sums));
    expect_same(run_listed(rows, groups, c, 1), want);
    expect_same(run_listed(rows, groups, c, 8), want);
    expect_same(run_listed(rows, groups, c, 3), want);
    // Blocks folded one after the other continue the sums of the state they find.
    GroupedAgg blockwise(groups, 3);
    for (u64 b = 0; b < rows; b += 7'000) {
        const u64 e = std::min(rows, b + 7'000);
        const Listing m = listing(b, e, groups);
        fold_listed(blockwise, b, m.starts, m.polygons, c.view());
    }
    expect_same(blockwise, want);
    // Fewer groups than workers, and no value columns.
    const Columns none;
    expect_same(run_listed(rows, 3, none, 8), serial_fold(0, rows, 3, none));
}

TEST(FoldListed, LargeStateCutIntoManyRangesStaysExact) {
    // 72 MB of state: more ranges than workers, so that the copies held at once stay small.
    const u64 rows = 100'000, groups = 1'000'000;
    const Columns c = make_columns(rows, 4, 11);
    const GroupedAgg want = serial_fold(0, rows, groups, c);
    expect_same(run_listed(rows, groups, c, 8), want);
    expect_same(run_listed(rows, groups, c, 1), want);
}

TEST(FoldListed, BrokenListingsAndColumnsAreRefused) {
    const Columns c = make_columns(10, 2, 3);
    const AggColumns cols = c.view();
    GroupedAgg state(5, 2);
    const std::vector<u64> starts = {0, 1, 2};
    const std::vector<u32> beyond = {1, 5};
    EXPECT_THROW(fold_listed(state, 0, starts, beyond, cols), InternalError);
    const std::vector<u32> ok = {1, 4};
    EXPECT_THROW(fold_listed(state, 9, starts, ok, cols), InternalError);  // rows past the columns
    const std::vector<u64> decreasing = {0, 2, 1, 2};
    EXPECT_THROW(fold_listed(state, 0, decreasing, ok, cols), InternalError);
    const std::vector<u64> short_end = {0, 1};
    EXPECT_THROW(fold_listed(state, 0, short_end, ok, cols), InternalError);
    GroupedAgg other(5, 3);
    EXPECT_THROW(fold_listed(other, 0, starts, ok, cols), InternalError);
    fold_listed(state, 8, starts, ok, cols);
    EXPECT_EQ(state.counts, (std::vector<u64>{0, 1, 0, 0, 1}));
    EXPECT_THROW(run_listed(11, 5, c, 2), InternalError);  // more rows than the columns hold
    int calls = 0;
    GroupedAgg empty(5, 2);
    aggregate_listed(empty, 0, cols, [&](u64 b, u64 e) { ++calls; return listing(b, e, 5); });
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(empty.counts, std::vector<u64>(5, 0));
}
