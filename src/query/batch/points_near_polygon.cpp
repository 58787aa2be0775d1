#include "query/batch/points_near_polygon.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/parallel.hpp"
#include "query/batch/polygon_within_distance.hpp"
#include "query/geometry/point_polygon_distance.hpp"

namespace vardelin {

namespace {

constexpr std::size_t kSerialCandidates = std::size_t{1} << 12;
constexpr std::size_t kCandidatesPerTask = std::size_t{1} << 11;
// A part with fewer edges is measured whole: a grid would not pay for itself.
constexpr std::size_t kGridMinEdges = 64;
constexpr std::size_t kMaxGridSide = 1024;
constexpr u64 kMaxCellEntries = u64{1} << 24;

struct Edge {
    double ax, ay, bx, by;
};

enum CellState : std::uint8_t { kOutside = 0, kInside = 1, kMeasure = 2 };

// One part of the query polygon prepared for many points. Its box of reach (every ring, holes
// included, grown for d: a point outside it is farther than d from every ring and inside no
// ring) is cut into a grid; each cell lists the edges whose box grown for d meets it. An edge
// not listed in a point's cell lies farther than d from the point, by more than any rounding,
// so the point's answer is decided by the listed edges alone, or, when the point is beyond d of
// all of them, by whether the part contains it. A cell with no edge at all is crossed by none:
// every point of it is contained or not alike, and farther than d from the part unless
// contained, so its answer is that of its centre, found once.
class NearPart {
public:
    NearPart(const PolygonLayout& polygon, std::size_t part, double d) : polygon_(&polygon), part_(part), d_(d) {
        // A part with a non-finite vertex is nowhere: its NaN box keeps no point.
        if (!polygon.part_is_finite(part)) return;
        plain_ = plain_distance(d) && part_is_plain(polygon, part);
        Box b = kFoldStart;
        const IndexRange rings = polygon.part_rings(part);
        for (u64 r = rings.begin; r < rings.end; ++r) {
            const IndexRange ring = polygon.ring(r);
            for (u64 i = ring.begin; i < ring.end; ++i) fold_point(b, polygon.xs[i], polygon.ys[i]);
            if (ring.size() < 2) continue;
            u64 prev = ring.end - 1;
            for (u64 i = ring.begin; i < ring.end; prev = i++) {
                edges_.push_back({polygon.xs[prev], polygon.ys[prev], polygon.xs[i], polygon.ys[i]});
            }
        }
        box_ = reach_box(b, d);
        // An infinite distance reaches everywhere: no grid could cut that box.
        const bool finite = std::isfinite(box_.min_x) && std::isfinite(box_.min_y) && std::isfinite(box_.max_x) &&
                            std::isfinite(box_.max_y);
        if (finite && edges_.size() >= kGridMinEdges) build_grid();
    }

    // (x, y) is finite.
    bool keeps(double x, double y) const {
        if (!point_in_box(x, y, box_)) return false;
        const bool plain = plain_ && plain_point(x, y);
        if (side_ == 0) return part_within(*polygon_, part_, x, y, d_, plain);
        const std::size_t cell = row_of(y) * side_ + column_of(x);
        if (state_[cell] != kMeasure) return state_[cell] == kInside;
        // The distance over all edges is at most this one, and 0 inside: either way within d.
        if (nearest_listed(cell, x, y, plain) <= d_) return true;
        return plain ? plain_part_contains_point(*polygon_, part_, x, y) : part_contains_point(*polygon_, part_, x, y);
    }

private:
    // The distance from (x, y) to the nearest edge listed in the cell, as NearestEdge measures
    // it. For a plain part and point no square can overflow and no nonzero length underflow:
    // when the smallest square is in range, so is every one, and its root is the answer.
    double nearest_listed(std::size_t cell, double x, double y, bool plain) const noexcept {
        if (plain) {
            double best2 = kInfinity;
            for (u32 k = cell_start_[cell]; k < cell_start_[cell + 1]; ++k) {
                const Edge& e = edges_[cell_edges_[k]];
                const double d2 = edge_squares(x, y, e.ax, e.ay, e.bx, e.by).d2;
                best2 = d2 < best2 ? d2 : best2;
            }
            if (best2 >= kSquaredLow) [[likely]] return std::sqrt(best2);
        }
        NearestEdge nearest;
        for (u32 k = cell_start_[cell]; k < cell_start_[cell + 1]; ++k) {
            const Edge& e = edges_[cell_edges_[k]];
            nearest.add(x, y, e.ax, e.ay, e.bx, e.by);
        }
        return nearest.distance();
    }

    std::size_t column_of(double x) const noexcept { return cell_index((x - box_.min_x) / cell_w_); }
    std::size_t row_of(double y) const noexcept { return cell_index((y - box_.min_y) / cell_h_); }
    std::size_t cell_index(double f) const noexcept {
        const double c = std::floor(f);
        if (!(c > 0.0)) return 0;
        return c >= static_cast<double>(side_ - 1) ? side_ - 1 : static_cast<std::size_t>(c);
    }

    // The cells under an edge's box grown for d, on one axis, by the same rounding as a point's
    // cell: a point inside the grown box always falls in one of them.
    void build_grid() {
        const double side_f = std::ceil(8.0 * std::sqrt(static_cast<double>(edges_.size())));
        const std::size_t side = static_cast<std::size_t>(std::min(side_f, static_cast<double>(kMaxGridSide)));
        const double w = (box_.max_x - box_.min_x) / static_cast<double>(side);
        const double h = (box_.max_y - box_.min_y) / static_cast<double>(side);
        if (!(w > 0.0) || !(h > 0.0)) return;
        side_ = side, cell_w_ = w, cell_h_ = h;
        struct Span {
            std::size_t x0, x1, y0, y1;
        };
        std::vector<Span> spans(edges_.size());
        u64 entries = 0;
        for (std::size_t k = 0; k < edges_.size(); ++k) {
            const Edge& e = edges_[k];
            const Box grown = reach_box(Box{std::fmin(e.ax, e.bx), std::fmin(e.ay, e.by), std::fmax(e.ax, e.bx),
                                            std::fmax(e.ay, e.by)}, d_);
            spans[k] = {column_of(grown.min_x), column_of(grown.max_x), row_of(grown.min_y), row_of(grown.max_y)};
            entries += (spans[k].x1 - spans[k].x0 + 1) * (spans[k].y1 - spans[k].y0 + 1);
        }
        if (entries > kMaxCellEntries) {
            side_ = 0;
            return;
        }
        const std::size_t cells = side * side;
        cell_start_.assign(cells + 1, 0);
        for (const Span& s : spans) {
            for (std::size_t r = s.y0; r <= s.y1; ++r) {
                for (std::size_t c = s.x0; c <= s.x1; ++c) ++cell_start_[r * side + c + 1];
            }
        }
        for (std::size_t c = 0; c < cells; ++c) cell_start_[c + 1] += cell_start_[c];
        cell_edges_.resize(entries);
        std::vector<u32> fill(cell_start_.begin(), cell_start_.end() - 1);
        for (std::size_t k = 0; k < spans.size(); ++k) {
            const Span& s = spans[k];
            for (std::size_t r = s.y0; r <= s.y1; ++r) {
                for (std::size_t c = s.x0; c <= s.x1; ++c) cell_edges_[fill[r * side + c]++] = static_cast<u32>(k);
            }
        }
        state_.assign(cells, kMeasure);
        for (std::size_t r = 0; r < side; ++r) {
            for (std::size_t c = 0; c < side; ++c) {
                const std::size_t cell = r * side + c;
                if (cell_start_[cell] != cell_start_[cell + 1]) continue;
                const double cx = box_.min_x + (static_cast<double>(c) + 0.5) * w;
                const double cy = box_.min_y + (static_cast<double>(r) + 0.5) * h;
                // A centre that rounds into another cell would not speak for this one.
                if (column_of(cx) != c || row_of(cy) != r) continue;
                state_[cell] = part_contains_point(*polygon_, part_, cx, cy) ? kInside : kOutside;
            }
        }
    }

    const PolygonLayout* polygon_;
    std::size_t part_;
    double d_;
    bool plain_ = false;  // the part is plain and d a plain_distance
    Box box_ = kNowhereBox;
    std::vector<Edge> edges_;
    std::size_t side_ = 0;  // 0: no grid, every point measured whole
    double cell_w_ = 1.0, cell_h_ = 1.0;
    std::vector<u32> cell_start_;
    std::vector<u32> cell_edges_;
    std::vector<std::uint8_t> state_;
};

}  // namespace

Box polygon_reach_box(const PolygonLayout& polygon, double d) noexcept {
    Box b = kFoldStart;
    for (std::size_t p = 0; p < polygon.part_count(); ++p) {
        if (!polygon.part_is_finite(p)) continue;
        const IndexRange rings = polygon.part_rings(p);
        for (u64 r = rings.begin; r < rings.end; ++r) {
            const IndexRange ring = polygon.ring(r);
            for (u64 i = ring.begin; i < ring.end; ++i) fold_point(b, polygon.xs[i], polygon.ys[i]);
        }
    }
    return reach_box(b, d);
}

std::vector<u64> points_near_polygon(const std::vector<PointHit>& candidates, const PolygonLayout& polygon, double d) {
    const std::size_t parts = polygon.part_count();
    if (!distance_matches_some(d) || parts == 0) return {};
    std::vector<NearPart> near;
    near.reserve(parts);
    for (std::size_t p = 0; p < parts; ++p) near.emplace_back(polygon, p, d);
    const auto keep_range = [&](std::size_t, std::size_t b, std::size_t e) {
        std::vector<u64> kept;
        for (std::size_t i = b; i < e; ++i) {
            const double x = candidates[i].x, y = candidates[i].y;
            if (!finite_point(x, y)) continue;
            for (const NearPart& part : near) {
                if (part.keeps(x, y)) {
                    kept.push_back(candidates[i].id);
                    break;
                }
            }
        }
        return kept;
    };
    if (candidates.size() < kSerialCandidates) return keep_range(0, 0, candidates.size());
    return concat_ordered(map_chunks(candidates.size(), kCandidatesPerTask, keep_range));
}

}  // namespace vardelin
