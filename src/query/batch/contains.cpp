#include "query/batch/contains.hpp"

#include <algorithm>
#include <cmath>

#include "core/error.hpp"
#include "core/parallel.hpp"
#include "query/batch/query_tiles.hpp"

namespace vardelin {

namespace {

// Points per task: enough that a task's setup is noise, few enough that the pool can balance
// clustered points whose rows cost very different amounts.
constexpr std::size_t kPointsPerTask = 2048;

// Consecutive points along the curve lie close together: one search with the box around a
// group of them finds every part any of them can be in, in the index's order, and each point
// then sorts those out by their boxes instead of descending the tree itself. A group whose
// box is wide (a jump of the curve) finds too many parts to pay; its points search alone.
constexpr std::size_t kGroupPoints = 32;
constexpr std::size_t kMaxGroupCandidates = 128;

struct Candidate {
    u32 part;
    Box box;
};

// The candidates of the finite points of order[begin .. end); false when they are too many to
// share (or there is no finite point), and the points search one by one. Infinite coordinates
// would widen the box to whole axes, so those points always search alone.
template <class Index>
bool group_candidates(const Index& index, const PointSpans& block, const std::vector<u32>& order,
                      std::size_t begin, std::size_t end, std::vector<Candidate>& candidates) {
    candidates.clear();
    Box around = kFoldStart;
    bool any = false;
    for (std::size_t i = begin; i < end; ++i) {
        const double x = block.x(order[i]), y = block.y(order[i]);
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        fold_point(around, x, y);
        any = true;
    }
    if (!any) return false;
    for_each_box_in_range(index, around, [&](u32 part, const Box& box) { candidates.push_back({part, box}); });
    return candidates.size() <= kMaxGroupCandidates;
}

// What one task found along its stretch of the curve: per point its polygon count, and the
// polygons one point after the other. Points without a polygon, most of a sparse join, are
// then passed over without looking up their rows.
struct Found {
    std::vector<u32> counts;
    std::vector<u32> polygons;
};

template <class Index>
RowMatches matches_over(const Index& index, const ContainmentSide& side, const PointSpans& queries, u64 begin,
                        u64 end) {
    side.require_parts(index.size());
    if (begin > end || end > queries.size()) throw InternalError("containment join: rows beyond the query");
    const std::size_t n = static_cast<std::size_t>(end - begin);
    const PointSpans block(queries.xs().subspan(begin, n), queries.ys().subspan(begin, n));
    const std::vector<u32> order = morton_order(block.xs(), block.ys());

    RowMatches m;
    m.first_row = begin;
    m.starts.resize(n + 1);
    // Each task lists the polygons of its stretch of the curve; the row's own run of the list is
    // its seen list. Counts go to the row's slot, which no other task writes.
    auto found = map_chunks(n, kPointsPerTask, [&](std::size_t, std::size_t b, std::size_t e) {
        Found out;
        out.counts.reserve(e - b);
        std::vector<Candidate> candidates;
        for (std::size_t g = b; g < e; g += kGroupPoints) {
            const std::size_t group_end = std::min(e, g + kGroupPoints);
            const bool shared = group_candidates(index, block, order, g, group_end, candidates);
            for (std::size_t i = g; i < group_end; ++i) {
                const u32 at = order[i];
                const double x = block.x(at), y = block.y(at);
                std::vector<u32>& polygons = out.polygons;
                const std::size_t first = polygons.size();
                auto keep = [&](u32 part) {
                    const u32 polygon = side.polygon_of(part);
                    // Without a map every part is its own polygon and a candidate once per point.
                    if (side.grouped() && std::find(polygons.begin() + static_cast<std::ptrdiff_t>(first),
                                                    polygons.end(), polygon) != polygons.end()) {
                        return;
                    }
                    polygons.push_back(polygon);
                };
                if (shared && std::isfinite(x) && std::isfinite(y)) {
                    for (const Candidate& c : candidates) {
                        if (point_in_box(x, y, c.box) && side.contains(c.part, x, y)) keep(c.part);
                    }
                } else {
                    side.for_each_containing_part(index, x, y, keep);
                }
                const u32 count = static_cast<u32>(polygons.size() - first);
                m.starts[at] = count;
                out.counts.push_back(count);
            }
        }
        return out;
    });

    u64 total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const u64 count = m.starts[i];
        m.starts[i] = total;
        total += count;
    }
    m.starts[n] = total;
    m.polygons.resize(total);
    parallel_blocks(found.size(), 1, [&](std::size_t first_task, std::size_t last_task) {
        for (std::size_t t = first_task; t < last_task; ++t) {
            const u32* from = found[t].polygons.data();
            const std::size_t begin_at = t * kPointsPerTask;
            for (std::size_t k = 0; k < found[t].counts.size(); ++k) {
                const u32 count = found[t].counts[k];
                if (count == 0) continue;
                std::copy_n(from, count, m.polygons.data() + m.starts[order[begin_at + k]]);
                from += count;
            }
        }
    });
    return m;
}

Buffer<u32> pairs_of(const RowMatches& m) {
    Buffer<u32> pairs;
    pairs.resize(checked_mul(m.polygons.size(), 2));
    parallel_blocks(m.rows(), 4096, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) {
            const u32 row = static_cast<u32>(m.first_row + i);
            u32* out = pairs.data() + 2 * m.starts[i];
            for (const u32 polygon : m.of(i)) {
                *out++ = row;
                *out++ = polygon;
            }
        }
    });
    return pairs;
}

}  // namespace

ContainmentSide::ContainmentSide(const PolygonLayout& layout, const PreparedPolygons* prepared,
                                 std::span<const u32> part_poly)
    : layout_(layout), prepared_(prepared), parts_(part_poly), plain_parts_(prepared ? 0 : layout.part_count()) {
    if (!parts_.covers(layout.part_count())) {
        throw InternalError("containment join: the part map does not cover the parts");
    }
    if (prepared && prepared->part_count() != layout.part_count()) {
        throw InternalError("containment join: prepared polygons of another layout");
    }
}

void ContainmentSide::require_parts(std::size_t index_items) const {
    if (index_items != layout_.part_count()) throw InternalError("containment join: index of another layout");
}

RowMatches find_row_matches(const BruteForce& index, const ContainmentSide& side, const PointSpans& queries,
                            u64 begin, u64 end) {
    return matches_over(index, side, queries, begin, end);
}

RowMatches find_row_matches(const PackedRTree& index, const ContainmentSide& side, const PointSpans& queries,
                            u64 begin, u64 end) {
    return matches_over(index, side, queries, begin, end);
}

Buffer<u32> contains_pairs(const BruteForce& index, const ContainmentSide& side, const PointSpans& queries) {
    return pairs_of(matches_over(index, side, queries, 0, queries.size()));
}

Buffer<u32> contains_pairs(const PackedRTree& index, const ContainmentSide& side, const PointSpans& queries) {
    return pairs_of(matches_over(index, side, queries, 0, queries.size()));
}

}  // namespace vardelin
