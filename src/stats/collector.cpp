#include "stats/collector.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <tbb/enumerable_thread_specific.h>

#include "core/parallel.hpp"
#include "core/vector_units.hpp"

namespace vardelin {

namespace {

constexpr std::size_t kSerialCount = std::size_t{1} << 18;

// The division per coordinate dominates the count, and wider vector units divide more lanes at
// once: the cells are found by the widest unit the CPU has.
[[gnu::always_inline]] inline void fine_cells_body(const double* xs, const double* ys, std::size_t m, double min_x,
                                                   double min_y, double fw, double fh, u32* slots) {
    for (std::size_t i = 0; i < m; ++i) {
        const int col = cell_of(xs[i], min_x, fw, kFineSide);
        const int row = cell_of(ys[i], min_y, fh, kFineSide);
        slots[i] = static_cast<u32>(row * kFineSide + col);
    }
}

void fine_cells_baseline(const double* xs, const double* ys, std::size_t m, double min_x, double min_y, double fw,
                         double fh, u32* slots) {
    fine_cells_body(xs, ys, m, min_x, min_y, fw, fh, slots);
}

[[gnu::target("avx2")]] void fine_cells_avx2(const double* xs, const double* ys, std::size_t m, double min_x,
                                             double min_y, double fw, double fh, u32* slots) {
    fine_cells_body(xs, ys, m, min_x, min_y, fw, fh, slots);
}

[[gnu::target("avx512f")]] void fine_cells_avx512f(const double* xs, const double* ys, std::size_t m, double min_x,
                                                   double min_y, double fw, double fh, u32* slots) {
    fine_cells_body(xs, ys, m, min_x, min_y, fw, fh, slots);
}

using FineCells = void (*)(const double* xs, const double* ys, std::size_t m, double min_x, double min_y, double fw,
                           double fh, u32* slots);

FineCells pick_fine_cells() noexcept {
    switch (widest_vector_unit()) {
        case VectorUnit::Avx512f: return fine_cells_avx512f;
        case VectorUnit::Avx2: return fine_cells_avx2;
        case VectorUnit::Baseline: break;
    }
    return fine_cells_baseline;
}

const FineCells fine_cells = pick_fine_cells();

// NaN is skipped on its own axis only: a NaN x still contributes its y. The accumulators are
// never NaN, so these comparisons are fmin/fmax, written so that the loop vectorises.
template <bool Copy>
Box fold_range(const double* xs, const double* ys, std::size_t b, std::size_t e, Box acc, double* out_x,
               double* out_y) {
    double mnx = acc.min_x, mny = acc.min_y, mxx = acc.max_x, mxy = acc.max_y;
    for (std::size_t i = b; i != e; ++i) {
        const double x = xs[i], y = ys[i];
        if constexpr (Copy) {
            out_x[i] = x;
            out_y[i] = y;
        }
        mnx = x < mnx ? x : mnx;
        mxx = x > mxx ? x : mxx;
        mny = y < mny ? y : mny;
        mxy = y > mxy ? y : mxy;
    }
    return Box{mnx, mny, mxx, mxy};
}

template <bool Copy>
Box fold_points(const PointSpans& points, double* out_x, double* out_y) {
    const double *xs = points.xs().data(), *ys = points.ys().data();
    // Waking the pool costs more than copying a few megabytes where the call runs.
    if (points.size() < kSerialCount) return fold_range<Copy>(xs, ys, 0, points.size(), kFoldStart, out_x, out_y);
    return parallel_fold(
        points.size(), 1 << 15, kFoldStart,
        [&](std::size_t b, std::size_t e, Box acc) { return fold_range<Copy>(xs, ys, b, e, acc, out_x, out_y); },
        fold_boxes);
}

}  // namespace

Box compute_extent(const PointSpans& points) { return fold_points<false>(points, nullptr, nullptr); }

Box copy_and_fold(const PointSpans& points, double* out_x, double* out_y) {
    return fold_points<true>(points, out_x, out_y);
}

std::vector<u32> count_grid(const PointSpans& points, const Box& extent) {
    const std::size_t n = points.size();
    const std::span<const double> xs = points.xs(), ys = points.ys();
    const double fw = histogram_cell_size(extent.max_x - extent.min_x, kFineSide);
    const double fh = histogram_cell_size(extent.max_y - extent.min_y, kFineSide);
    constexpr std::size_t kBlock = 1024;
    const auto count = [&](std::vector<u32>& cells, std::size_t first, std::size_t last) {
        u32 slots[kBlock];
        for (std::size_t b = first; b < last; b += kBlock) {
            const std::size_t m = std::min(last - b, kBlock);
            // Cells first, in a loop that vectorises; the increments after.
            fine_cells(xs.data() + b, ys.data() + b, m, extent.min_x, extent.min_y, fw, fh, slots);
            for (std::size_t i = 0; i < m; ++i) ++cells[slots[i]];
        }
    };
    std::vector<u32> total(kFineCells, 0);
    // Each worker's private grid costs a clear and a merge of the whole fine grid, more than
    // counting a few hundred thousand points where the call runs; a single thread counts into
    // the total at once.
    if (n < kSerialCount || worker_threads() == 1) {
        count(total, 0, n);
        return total;
    }
    // One private grid per worker thread, so workers never share a counter; small blocks keep
    // every thread busy to the end even when some of them are slowed down.
    tbb::enumerable_thread_specific<std::vector<u32>> grids([] { return std::vector<u32>(kFineCells, 0); });
    parallel_blocks(n, 16384, [&](std::size_t first, std::size_t last) { count(grids.local(), first, last); });
    for (const auto& cells : grids) {
        for (std::size_t i = 0; i < total.size(); ++i) total[i] += cells[i];
    }
    return total;
}

DatasetStats collect_points(const PointSpans& points) {
    if (points.empty()) return DatasetStats{};  // Empty, Unknown, no extent
    return collect_points(points, compute_extent(points));
}

namespace {

// Extent, density and an empty histogram frame from a raw fold; false when there is no extent.
// Only the minimum x decides whether there is one at all.
bool settle_extent(DatasetStats& stats, const Box& folded) {
    if (!std::isfinite(folded.min_x)) return false;
    const Box extent{std::fmin(folded.min_x, folded.max_x), std::fmin(folded.min_y, folded.max_y),
                     std::fmax(folded.min_x, folded.max_x), std::fmax(folded.min_y, folded.max_y)};
    stats.extent = extent;
    const double w = extent.max_x - extent.min_x;
    const double h = extent.max_y - extent.min_y;
    stats.density = (w * h > 0.0) ? static_cast<double>(stats.n) / (w * h) : 0.0;
    SpatialHistogram hist;
    hist.min_x = extent.min_x;
    hist.min_y = extent.min_y;
    hist.cell_w = histogram_cell_size(w, kHistogramSide);
    hist.cell_h = histogram_cell_size(h, kHistogramSide);
    stats.histogram = hist;
    return true;
}

}  // namespace

DatasetStats collect_points(const PointSpans& points, const Box& folded) {
    DatasetStats stats;
    const std::size_t n = points.size();
    if (n == 0) return stats;
    stats.n = n;
    stats.kind = GeometryKind::Point;
    if (!settle_extent(stats, folded)) return stats;

    const std::vector<u32> fine = count_grid(points, *stats.extent);

    if (n < 20) {
        stats.distribution = Distribution::Unknown;
    } else {
        // Morisita index of dispersion over the fine cells.
        double s = 0.0;
        for (u32 c : fine) {
            const double cf = static_cast<double>(c);
            s += cf * (cf - 1.0);
        }
        const double nf = static_cast<double>(n);
        const double index = (static_cast<double>(kFineCells) * s) / ((nf - 1.0) * nf);
        stats.distribution = index > 1.5 ? Distribution::Clustered : Distribution::Uniform;
    }

    constexpr int fold = kFineSide / kHistogramSide;
    auto& counts = stats.histogram->counts;
    for (int a = 0; a < kFineSide; ++a) {
        for (int b = 0; b < kFineSide; ++b) {
            counts[static_cast<std::size_t>((a / fold) * kHistogramSide + b / fold)] +=
                fine[static_cast<std::size_t>(a * kFineSide + b)];
        }
    }
    return stats;
}

DatasetStats collect_polygons(const PolygonLayout& layout) {
    DatasetStats stats;
    const u64 parts = layout.part_count();
    if (parts == 0) return stats;  // Empty, Unknown, no extent
    stats.n = parts;
    stats.kind = GeometryKind::Polygon;
    if (!settle_extent(stats, compute_extent({layout.xs, layout.ys}))) return stats;
    SpatialHistogram& hist = *stats.histogram;
    hist.counts = build_polygon_centroid_histogram(layout, hist.min_x, hist.min_y, hist.cell_w, hist.cell_h);
    return stats;
}

std::array<u32, kHistogramCells> build_polygon_centroid_histogram(const PolygonLayout& layout, double min_x,
                                                                  double min_y, double cell_w, double cell_h) {
    using Counts = std::array<u32, kHistogramCells>;
    const std::size_t parts = layout.part_count();
    const std::size_t chunk = std::max<std::size_t>(parts / worker_threads(), 4096);
    auto partial = map_chunks(parts, chunk, [&](std::size_t, std::size_t b, std::size_t e) {
        Counts counts{};
        for (std::size_t p = b; p < e; ++p) {
            const IndexRange ring = layout.exterior(p);
            if (ring.empty()) continue;
            double sx = 0.0;
            double sy = 0.0;
            for (u64 i = ring.begin; i < ring.end; ++i) {
                sx += layout.xs[i];
                sy += layout.ys[i];
            }
            const double k = static_cast<double>(ring.size());
            const int col = cell_of(sx / k, min_x, cell_w, kHistogramSide);
            const int row = cell_of(sy / k, min_y, cell_h, kHistogramSide);
            ++counts[static_cast<std::size_t>(row * kHistogramSide + col)];
        }
        return counts;
    });
    Counts total{};
    for (const Counts& c : partial) {
        for (std::size_t i = 0; i < total.size(); ++i) total[i] += c[i];
    }
    return total;
}

}  // namespace vardelin
