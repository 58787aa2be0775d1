#include "engine/intersect_ranges.hpp"

#include "core/radix_sort.hpp"
#include "engine/range_query.hpp"

namespace vardelin {

namespace {

HitList sorted_hits(Engine& engine, const std::array<double, 4>& box) {
    HitList hits = range_query(engine, box[0], box[1], box[2], box[3]);
    sort_ids(hits);
    return hits;
}

}  // namespace

HitList intersect_ranges(Engine& engine, std::span<const std::array<double, 4>> boxes) {
    if (boxes.empty()) return {};
    // A query that merges the delta buffer keeps every id: merged point j lands at position
    // main length + j, the id it was reported under before, so earlier hits stay comparable.
    HitList running = sorted_hits(engine, boxes[0]);
    for (std::size_t i = 1; i < boxes.size(); ++i) {
        if (running.empty()) break;
        running = sorted_intersect(std::move(running), sorted_hits(engine, boxes[i]));
    }
    return running;
}

}  // namespace vardelin
