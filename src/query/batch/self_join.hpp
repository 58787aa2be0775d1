#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/parallel.hpp"
#include "core/polygon_layout.hpp"
#include "core/shared_array.hpp"
#include "index/search.hpp"
#include "query/geometry/intersects.hpp"

namespace vardelin {

// The box part p searches with: its item box in the index, the NaN-skipping fold of its
// exterior ring, or for a part with a non-finite vertex the NaN box, which meets nothing. A
// part without exterior coordinates (no rings, or an empty first ring) searches with the
// inverted fold start instead, which meets nothing either: its item box, the origin, would
// meet every part lying there.
Box self_join_search_box(const PolygonLayout& layout, std::size_t part) noexcept;

// Asks the memory system for the offsets and first coordinates of the second part of every
// pair (flat, [i0, j0, ...]) ahead of the tests that read them. A hint only: reads nothing
// outside the arrays and changes no result.
void prefetch_parts(const PolygonLayout& layout, std::span<const u32> pairs) noexcept;

// Polygon parts are taken in chunks of this many: a dense cluster costs many exact tests per part, and
// small chunks let the pool spread such clusters over its workers.
inline constexpr std::size_t kSelfJoinChunk = 64;

// Every pair of parts (i, j) with i < j that intersect, flat [i0, j0, i1, j1, ...]: ascending
// i, and for one i the index's candidate order. Each part searches the index over the parts'
// exterior boxes with its own box; the j > i test comes before the exact one, so a candidate
// pair is tested once. Chunks are joined in part order: the result does not depend on the
// number of threads.
template <class Index>
Buffer<u32> par_polygon_intersects_join(const Index& index, const PolygonLayout& layout) {
    // A part meets many candidates: whether its coordinates need range checks is found once.
    const PlainParts plain(layout.part_count());
    auto chunks = map_chunks(layout.part_count(), kSelfJoinChunk, [&](std::size_t, std::size_t begin, std::size_t end) {
        // The chunk's candidate pairs first, in emission order, then their exact tests: the
        // coordinates of a candidate part lie anywhere in memory, and fetching those of many
        // candidates ahead of their tests overlaps the cache misses.
        std::vector<u32> candidates;
        for (std::size_t i = begin; i < end; ++i) {
            const u32 first = static_cast<u32>(i);
            for_each_in_range(index, self_join_search_box(layout, i), [&](u32 j) {
                if (j > first) {
                    candidates.push_back(first);
                    candidates.push_back(j);
                }
            });
        }
        prefetch_parts(layout, candidates);
        std::vector<u32> out;
        for (std::size_t k = 0; k < candidates.size(); k += 2) {
            if (polygons_intersect(layout, candidates[k], candidates[k + 1], &plain)) {
                out.push_back(candidates[k]);
                out.push_back(candidates[k + 1]);
            }
        }
        return out;
    });
    return concat_ordered<Buffer<u32>>(std::move(chunks));
}

// Part pairs (flat, as above) turned into logical pairs: each part replaced by its polygon,
// pairs within one polygon dropped, the lower id first, sorted by (first, second) and each
// pair kept once. Reuses the storage of `part_pairs`.
Buffer<u32> logical_pairs(Buffer<u32>&& part_pairs, std::span<const u32> part_poly);

}  // namespace vardelin
