#include "query/batch/query_tiles.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/error.hpp"
#include "core/parallel_map.hpp"

namespace vardelin {

namespace {

constexpr std::size_t kMinTileSlice = 1024;

void require_coordinates(std::span<const double> xs, std::span<const double> ys) {
    if (xs.size() != ys.size()) throw InternalError("query order: coordinate arrays of unequal length");
    if (xs.size() > kU32Max) throw InternalError("query order: more than 4294967295 query points");
}

// A flat axis, one distinct value or no number at all gives scale 0: every point in cell 0.
double axis_scale(double cells, double lo, double hi) noexcept { return hi > lo ? cells / (hi - lo) : 0.0; }

u32 spread_bits(u32 v) noexcept {
    v &= 0xFFFF;
    v = (v | v << 8) & 0x00FF00FF;
    v = (v | v << 4) & 0x0F0F0F0F;
    v = (v | v << 2) & 0x33333333;
    v = (v | v << 1) & 0x55555555;
    return v;
}

// Ascending order of distinct keys, in parallel: the keys are dealt into buckets by their top
// bits (a counting pass per stretch of them, then a stable scatter), and every bucket is sorted
// on its own. Distinct keys have one ascending order, so neither the stretches nor the pool
// size can change it; one comparison sort over everything would cost several times more.
void sort_unique_keys(Buffer<u64>& keys) {
    constexpr unsigned kBucketBits = 12;
    constexpr std::size_t kBuckets = std::size_t{1} << kBucketBits;
    constexpr std::size_t kMaxStretches = 256;  // bounds the counting tables at 8 MiB
    const std::size_t n = keys.size();
    const std::size_t stretch = std::max<std::size_t>(std::size_t{1} << 16, chunk_count(n, kMaxStretches));
    const std::size_t stretches = chunk_count(n, stretch);
    auto bucket_of = [](u64 key) { return static_cast<std::size_t>(key >> (64 - kBucketBits)); };
    std::vector<std::vector<std::size_t>> at(stretches, std::vector<std::size_t>(kBuckets, 0));
    parallel_blocks(stretches, 1, [&](std::size_t b, std::size_t e) {
        for (std::size_t s = b; s < e; ++s) {
            for (std::size_t i = s * stretch; i < std::min(n, (s + 1) * stretch); ++i) ++at[s][bucket_of(keys[i])];
        }
    });
    std::vector<std::size_t> bucket_start(kBuckets + 1, 0);
    std::size_t total = 0;
    for (std::size_t k = 0; k < kBuckets; ++k) {
        bucket_start[k] = total;
        for (std::size_t s = 0; s < stretches; ++s) {
            const std::size_t c = at[s][k];
            at[s][k] = total;
            total += c;
        }
    }
    bucket_start[kBuckets] = total;
    Buffer<u64> dealt;
    dealt.resize(n);
    parallel_blocks(stretches, 1, [&](std::size_t b, std::size_t e) {
        for (std::size_t s = b; s < e; ++s) {
            for (std::size_t i = s * stretch; i < std::min(n, (s + 1) * stretch); ++i) {
                dealt[at[s][bucket_of(keys[i])]++] = keys[i];
            }
        }
    });
    parallel_blocks(kBuckets, 1, [&](std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k) {
            parallel_sort(dealt.begin() + static_cast<std::ptrdiff_t>(bucket_start[k]),
                               dealt.begin() + static_cast<std::ptrdiff_t>(bucket_start[k + 1]));
        }
    });
    keys.swap(dealt);
}

}  // namespace

QueryExtent query_extent(std::span<const double> xs, std::span<const double> ys) noexcept {
    constexpr double inf = std::numeric_limits<double>::infinity();
    QueryExtent e{inf, inf, -inf, -inf};
    const std::size_t n = std::min(xs.size(), ys.size());
    for (std::size_t i = 0; i < n; ++i) {
        e.min_x = std::fmin(e.min_x, xs[i]);
        e.max_x = std::fmax(e.max_x, xs[i]);
        e.min_y = std::fmin(e.min_y, ys[i]);
        e.max_y = std::fmax(e.max_y, ys[i]);
    }
    return e;
}

std::vector<u32> morton_order(std::span<const double> xs, std::span<const double> ys) {
    require_coordinates(xs, ys);
    const std::size_t n = xs.size();
    std::vector<u32> order(n);
    if (n < kMortonMinPoints) {
        for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<u32>(i);
        return order;
    }
    const QueryExtent e = query_extent(xs, ys);
    const double sx = axis_scale(65535.0, e.min_x, e.max_x);
    const double sy = axis_scale(65535.0, e.min_y, e.max_y);
    // The position rides below the code, so the keys are distinct and the parallel sort's
    // order is the same for every pool size.
    Buffer<u64> keys = parallel_map<u64>(n, [&](std::size_t i) {
        const u32 cx = saturating_cast<u32>((xs[i] - e.min_x) * sx);
        const u32 cy = saturating_cast<u32>((ys[i] - e.min_y) * sy);
        const u64 code = spread_bits(cx) | (u64{spread_bits(cy)} << 1);
        return code << 32 | i;
    });
    sort_unique_keys(keys);
    parallel_blocks(n, 1 << 16, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) order[i] = static_cast<u32>(keys[i]);
    });
    return order;
}

QueryTiles build_query_tiles(std::span<const double> xs, std::span<const double> ys, std::span<const u32> order) {
    const QueryExtent e = query_extent(xs, ys);
    const double sx = axis_scale(static_cast<double>(kQueryTileSide), e.min_x, e.max_x);
    const double sy = axis_scale(static_cast<double>(kQueryTileSide), e.min_y, e.max_y);
    constexpr u32 top = kQueryTileSide - 1;
    QueryTiles tiles(kQueryTileCount);
    for (const u32 id : order) {
        if (id >= xs.size() || id >= ys.size()) throw InternalError("query tiles: position beyond the query arrays");
        // The maximum edge maps to 16 and rounding may pass it: both belong to the last cell.
        const u32 tx = std::min(saturating_cast<u32>((xs[id] - e.min_x) * sx), top);
        const u32 ty = std::min(saturating_cast<u32>((ys[id] - e.min_y) * sy), top);
        tiles[ty * kQueryTileSide + tx].push_back(id);
    }
    return tiles;
}

std::vector<TileSlice> slice_query_tiles(const QueryTiles& tiles, std::size_t max_positions) {
    const std::size_t limit = std::max<std::size_t>(max_positions, 1);
    std::vector<TileSlice> slices;
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        const std::span<const u32> all(tiles[t]);
        for (std::size_t b = 0; b < all.size(); b += limit) {
            slices.push_back({t, all.subspan(b, std::min(limit, all.size() - b))});
        }
    }
    return slices;
}

std::size_t tile_slice_limit(u64 query_count) noexcept {
    const u64 share = query_count / kQueryTileCount + (query_count % kQueryTileCount != 0);
    return static_cast<std::size_t>(std::max<u64>(share, kMinTileSlice));
}

}  // namespace vardelin
