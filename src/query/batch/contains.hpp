#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "core/polygon_layout.hpp"
#include "core/shared_array.hpp"
#include "index/brute.hpp"
#include "index/rtree.hpp"
#include "index/search.hpp"
#include "query/geometry/part_contains_point.hpp"
#include "query/geometry/prepared_polygons.hpp"
#include "query/multipoly.hpp"

namespace vardelin {

// The dataset side of the point-in-polygon joins: the layout, the prepared polygons when the
// dataset has them, and the logical polygon of every part. Checked against each other once, so that the per-point work indexes nothing out
// of range.
class ContainmentSide {
public:
    ContainmentSide(const PolygonLayout& layout, const PreparedPolygons* prepared, std::span<const u32> part_poly);

    // The index must hold exactly the layout's parts: its ids are read as part numbers.
    void require_parts(std::size_t index_items) const;

    // The banded test and part_contains_point give the same answers on valid polygons; the banded one
    // reads only the edges of the point's band. A plain part and point skip the edges' range tests;
    // the prepared polygons keep which parts are plain from call to call.
    bool contains(u32 part, double x, double y) const {
        if (prepared_) return prepared_->contains(part, layout_, x, y, plain_point(x, y));
        const bool plain = plain_point(x, y) && plain_parts_(layout_, part);
        return plain ? plain_part_contains_point(layout_, part, x, y) : part_contains_point(layout_, part, x, y);
    }

    bool grouped() const noexcept { return parts_.grouped(); }
    u32 polygon_of(u32 part) const noexcept { return parts_.polygon_of(part); }

    // emit(part) for every part containing (x, y), in the index's candidate order: the parts
    // whose box holds the point (boundary included), tested exactly. A NaN coordinate is
    // inside nothing, so such a point is not searched at all.
    template <class Index, class Emit>
    void for_each_containing_part(const Index& index, double x, double y, Emit&& emit) const {
        if (nan_query(x, y)) return;
        for_each_in_range(index, Box{x, y, x, y}, [&](u32 part) {
            if (contains(part, x, y)) emit(part);
        });
    }

private:
    PolygonLayout layout_;
    const PreparedPolygons* prepared_;
    PartMap parts_;
    PlainParts plain_parts_;  // without prepared polygons
};

// The logical polygons containing each query point of a run of rows, listed by row: row
// first_row + i holds polygons[starts[i] .. starts[i + 1]), each polygon once, in the order its
// first containing part came in the candidate order.
struct RowMatches {
    u64 first_row = 0;
    Buffer<u64> starts;  // rows + 1 entries
    Buffer<u32> polygons;

    std::size_t rows() const noexcept { return starts.empty() ? 0 : starts.size() - 1; }
    std::span<const u32> of(std::size_t i) const noexcept {
        return {polygons.data() + starts[i], static_cast<std::size_t>(starts[i + 1] - starts[i])};
    }
};

// The matches of query rows begin .. end - 1, searched in parallel. The points are visited
// along a Z-order curve, so that neighbouring points find the index nodes and the polygon
// coordinates of the one before them in cache; the listing by row does not depend on that
// order or on the thread count.
RowMatches find_row_matches(const BruteForce& index, const ContainmentSide& side, const PointSpans& queries,
                            u64 begin, u64 end);
RowMatches find_row_matches(const PackedRTree& index, const ContainmentSide& side, const PointSpans& queries,
                            u64 begin, u64 end);

// The point-in-polygon pairs, flat [q0, g0, q1, g1, ...]: per query row ascending, the
// logical polygons containing the point as find_row_matches lists them.
Buffer<u32> contains_pairs(const BruteForce& index, const ContainmentSide& side, const PointSpans& queries);
Buffer<u32> contains_pairs(const PackedRTree& index, const ContainmentSide& side, const PointSpans& queries);

}  // namespace vardelin
