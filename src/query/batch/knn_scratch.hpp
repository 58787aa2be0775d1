#pragma once
#include <vector>

#include "core/numeric.hpp"
#include "core/squares.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// A logical polygon and its exact distance from the query point.
struct NearestPolygon {
    u32 id;
    double distance;
};

// A part the refinement still has to measure, by its box key.
struct RankedPart {
    SquareKey key;
    u32 id;
};

// The working lists of the exact point-to-polygon kNN search, one per task and reused for
// every query of it: each search empties a list before filling it, so once the lists have
// grown a query allocates nothing.
struct KnnScratch {
    std::vector<Neighbor> candidates;  // the index's nearest parts: (part id, squared MBR distance)
    std::vector<u64> range_hits;       // parts met by the refinement box
    std::vector<RankedPart> ranked;    // refinement parts not yet measured, by MBR key
    std::vector<NearestPolygon> best;  // kept by insert_nearest

    // Capacities 2k, 4k, 4k and k + 1 for k = min(k, findable), where `findable` bounds what a
    // search can hold (the dataset's part count): k comes from the caller and may be 2^64 - 1,
    // while no list ever outgrows the dataset. The extra entry of `best` lets one insertion
    // into a full list happen before its last entry is dropped, without reallocating.
    static KnnScratch with_capacity(u64 k, u64 findable);
};

// Keeps `best` the at most k nearest logical polygons seen so far, each id once with its
// smallest distance, ascending, entries of equal distance in insertion order (a re-inserted id
// counts as new). A distance that only ties the id's stored one, or a full list's last one,
// changes nothing. Distances compare NaN last; k = 0 keeps nothing.
void insert_nearest(std::vector<NearestPolygon>& best, u32 id, u64 k, double distance);

}  // namespace vardelin
