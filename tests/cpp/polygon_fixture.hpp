#pragma once
// Polygon datasets for tests, filled by hand: rings are listed as coordinate lists and parts as
// lists of rings, exterior first.
#include <cmath>
#include <utility>
#include <vector>

#include "core/shared_array.hpp"
#include "engine/engine.hpp"
#include "stats/collector.hpp"

namespace vardelin::testing {

using Ring = std::vector<std::pair<double, double>>;
using Part = std::vector<Ring>;

struct Layout {
    std::vector<double> xs, ys;
    std::vector<i64> ring_offsets{0}, poly_offsets{0};

    void add(const Part& part) {
        for (const Ring& ring : part) {
            for (auto [x, y] : ring) {
                xs.push_back(x);
                ys.push_back(y);
            }
            ring_offsets.push_back(static_cast<i64>(xs.size()));
        }
        poly_offsets.push_back(static_cast<i64>(ring_offsets.size() - 1));
    }
    u64 parts() const { return poly_offsets.size() - 1; }
};

template <class T>
SharedArray<T> shared(const std::vector<T>& v) {
    return make_shared_array(Buffer<T>(v.begin(), v.end()));
}

// A polygon Engine with the statistics the planner reads: the extent of every coordinate and a
// histogram of the plain averages of the exterior vertices.
inline Engine polygon_engine(const Layout& l) {
    Engine e;
    e.xs = shared(l.xs);
    e.ys = shared(l.ys);
    e.ring_offsets = shared(l.ring_offsets);
    e.poly_offsets = shared(l.poly_offsets);
    e.cost_factors = CostFactors::defaults();
    const u64 parts = l.parts();
    e.logical_count = parts;
    e.stats.n = parts;
    e.stats.kind = parts == 0 ? GeometryKind::Empty : GeometryKind::Polygon;
    e.stats.distribution = Distribution::Unknown;
    if (parts == 0) return e;
    const Box b = compute_extent(l.xs, l.ys);
    if (!std::isfinite(b.min_x)) return e;
    e.stats.extent = b;
    const double w = b.max_x - b.min_x, h = b.max_y - b.min_y;
    e.stats.density = w * h > 0 ? static_cast<double>(parts) / (w * h) : 0.0;
    SpatialHistogram hist;
    hist.min_x = b.min_x;
    hist.min_y = b.min_y;
    hist.cell_w = histogram_cell_size(w, kHistogramSide);
    hist.cell_h = histogram_cell_size(h, kHistogramSide);
    for (u64 p = 0; p < parts; ++p) {
        if (l.poly_offsets[p] == l.poly_offsets[p + 1]) continue;
        const auto r = static_cast<std::size_t>(l.poly_offsets[p]);
        const auto a = static_cast<std::size_t>(l.ring_offsets[r]), z = static_cast<std::size_t>(l.ring_offsets[r + 1]);
        if (z <= a) continue;
        double sx = 0, sy = 0;
        for (std::size_t i = a; i < z; ++i) {
            sx += l.xs[i];
            sy += l.ys[i];
        }
        const double n = static_cast<double>(z - a);
        const int col = cell_of(sx / n, hist.min_x, hist.cell_w, kHistogramSide);
        const int row = cell_of(sy / n, hist.min_y, hist.cell_h, kHistogramSide);
        ++hist.counts[static_cast<std::size_t>(row * kHistogramSide + col)];
    }
    e.stats.histogram = hist;
    return e;
}

inline Ring square(double x0, double y0, double side) {
    return {{x0, y0}, {x0 + side, y0}, {x0 + side, y0 + side}, {x0, y0 + side}};
}

}  // namespace vardelin::testing
