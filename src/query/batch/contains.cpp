#include "query/batch/contains.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "core/parallel.hpp"

namespace vardelin {

namespace {

// Rows per task: enough that a task's setup is noise, few enough that the pool can balance
// clustered points whose rows cost very different amounts.
constexpr std::size_t kRowsPerTask = 2048;

template <PartIndex Index>
std::vector<u32> pairs_over(const Index& index, const ContainmentSide& side, const PointSpans& queries) {
    side.require_parts(index.size());
    auto pieces = map_chunks(queries.size(), kRowsPerTask, [&](std::size_t, std::size_t begin, std::size_t end) {
        std::vector<u32> out;
        std::vector<u32> seen;  // logical polygons already listed for the current row
        for (std::size_t q = begin; q < end; ++q) {
            const u32 row = static_cast<u32>(q);
            seen.clear();
            side.for_each_containing_part(index, queries.x(q), queries.y(q), [&](u32 part) {
                const u32 polygon = side.polygon_of(part);
                // Without a map every part is its own polygon and a candidate once per row.
                if (side.grouped()) {
                    if (std::find(seen.begin(), seen.end(), polygon) != seen.end()) return;
                    seen.push_back(polygon);
                }
                out.push_back(row);
                out.push_back(polygon);
            });
        }
        return out;
    });
    return concat_ordered(std::move(pieces));
}

}  // namespace

ContainmentSide::ContainmentSide(const PolygonLayout& layout, const PreparedPolygons* prepared,
                                 std::span<const u32> part_poly)
    : layout_(layout), prepared_(prepared), part_poly_(part_poly) {
    const std::size_t parts = layout.part_count();
    if (!part_poly.empty() && part_poly.size() != parts) {
        throw InternalError("containment join: the part map does not cover the parts");
    }
    if (prepared && prepared->part_count() != parts) {
        throw InternalError("containment join: prepared polygons of another layout");
    }
}

void ContainmentSide::require_parts(std::size_t index_items) const {
    if (index_items != layout_.part_count()) throw InternalError("containment join: index of another layout");
}

std::vector<u32> contains_pairs(const BruteForce& index, const ContainmentSide& side, const PointSpans& queries) {
    return pairs_over(index, side, queries);
}

std::vector<u32> contains_pairs(const PackedRTree& index, const ContainmentSide& side, const PointSpans& queries) {
    return pairs_over(index, side, queries);
}

}  // namespace vardelin
