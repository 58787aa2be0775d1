#include "query/batch/flipped_polygon_query.hpp"

#include <algorithm>

#include "core/parallel.hpp"
#include "index/part_boxes.hpp"
#include "query/batch/polygon_within_distance.hpp"
#include "query/multipoly.hpp"

namespace vardelin {

namespace {

// Polygons per parallel task: the polygons differ widely in the query points near them, so
// tasks stay small enough to spread, and a few polygons still use every worker.
std::size_t polygons_per_task(u64 polygons) {
    return static_cast<std::size_t>(std::clamp<u64>(polygons / (16 * worker_threads()), 1, 64));
}

SharedArray<double> copy_of(std::span<const double> values) {
    return make_shared_array(parallel_copy(values.data(), values.size()));
}

}  // namespace

FlippedPolygonQuery::FlippedPolygonQuery(const PointSpans& queries, const PolygonLayout& layout,
                                         PartMap parts, u64 logical_count, double d)
    // The grid shares its coordinates by ownership; the caller's arrays are only borrowed.
    : grid_(UniformGrid::over_points(copy_of(queries.xs()), copy_of(queries.ys()))),
      part_boxes_(part_boxes_parallel(layout)),
      queries_(queries),
      layout_(layout),
      logical_count_(logical_count),
      d_(d) {
    if (parts.grouped()) polygon_parts_ = polygon_parts_csr(parts.part_poly, logical_count);
}

template <class Visit>
void FlippedPolygonQuery::for_each_part(u64 g, Visit&& visit) const {
    if (!polygon_parts_) {
        if (g < part_boxes_.size()) visit(static_cast<u32>(g));
        return;
    }
    if (g + 1 >= polygon_parts_->offsets.size()) return;
    for (const u32 part : polygon_parts_->parts_of(g)) visit(part);
}

void FlippedPolygonQuery::matching_queries(u64 g, std::vector<u32>& out) const {
    out.clear();
    for_each_part(g, [&](u32 p) {
        // Looked at once for all the points near the part.
        const bool plain_part = plain_distance(d_) && part_is_plain(layout_, p);
        // A part with a non-finite vertex has the NaN box: grown, it stays NaN and meets no point.
        grid_.for_each_in_range(reach_box(part_boxes_[p], d_), [&](u32 q) {
            const double x = queries_.x(q), y = queries_.y(q);
            // A plain point is finite.
            const bool near = plain_part && plain_point(x, y)
                                  ? part_within<true>(layout_, p, x, y, d_)
                                  : finite_point(x, y) && part_within<false>(layout_, p, x, y, d_);
            if (near) out.push_back(q);
        });
    });
    // The grid hands out rows in cell order, and a row near two parts comes twice.
    if (out.size() > 1) {
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    }
}

Buffer<u32> flipped_within_distance_pairs(const FlippedPolygonQuery& query) {
    const u64 polygons = query.polygons();
    auto chunks = map_chunks(polygons, polygons_per_task(polygons), [&](std::size_t, std::size_t b, std::size_t e) {
        std::vector<u32> out;
        std::vector<u32> rows;
        for (std::size_t g = b; g < e; ++g) {
            query.matching_queries(g, rows);
            for (const u32 q : rows) {
                out.push_back(q);
                out.push_back(static_cast<u32>(g));
            }
        }
        return out;
    });
    return concat_ordered<Buffer<u32>>(std::move(chunks));
}

GroupedAgg flipped_within_distance_aggregate(const FlippedPolygonQuery& query, const AggColumns& columns) {
    const u64 polygons = query.polygons();
    columns.require_rows(query.query_count());
    GroupedAgg state(polygons, columns.size());
    const std::size_t c = columns.size();
    // Each polygon writes only its own entries of the state.
    parallel_blocks(polygons, polygons_per_task(polygons), [&](std::size_t b, std::size_t e) {
        std::vector<u32> rows;
        for (std::size_t g = b; g < e; ++g) {
            query.matching_queries(g, rows);
            state.counts[g] = rows.size();
            for (std::size_t j = 0; j < c; ++j) {
                const std::span<const double> values = columns.values[j];
                const std::span<const std::uint8_t> valid = columns.validity[j];
                double sum = 0.0;
                u64 count = 0;
                for (const u32 q : rows) {
                    if (valid[q] == 0) continue;
                    sum += values[q];
                    ++count;
                }
                state.sums[j * polygons + g] = sum;
                state.valid_counts[j * polygons + g] = count;
            }
        }
    });
    return state;
}

}  // namespace vardelin
