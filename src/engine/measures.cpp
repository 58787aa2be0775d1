#include "engine/measures.hpp"

#include <algorithm>
#include <optional>

#include "core/error.hpp"
#include "core/parallel_map.hpp"
#include "query/geometry/convex_hull.hpp"
#include "query/geometry/intersection_area.hpp"
#include "query/geometry/polygon_area.hpp"
#include "query/multipoly.hpp"

namespace vardelin {

namespace {

// The part map where the dataset has one. Absent and empty differ here: a dataset of empty
// geometries has polygons but no parts, and its areas list every polygon.
std::optional<std::span<const u32>> listed_part_map(const Engine& engine) {
    if (!engine.part_poly) return std::nullopt;
    return view(engine.part_poly);
}

void require_ids_below(std::span<const u32> ids, u64 count) {
    const bool all_below = std::all_of(ids.begin(), ids.end(), [count](u32 id) { return id < count; });
    if (!all_below) throw Error("polygon pair indices must be less than the polygon count");
}

}  // namespace

Buffer<double> polygon_areas(const Engine& engine, RunUnlocked unlocked) {
    require_dataset(engine, DatasetKind::Polygons, "polygon_areas");
    Buffer<double> areas;
    unlocked([&] { areas = polygon_areas(engine.layout(), listed_part_map(engine), engine.logical_count); });
    return areas;
}

Buffer<double> polygon_pairs_intersection_area(const Engine& engine, const DeferredArray<u32>& i_idx,
                                               const DeferredArray<u32>& j_idx, RunUnlocked unlocked) {
    require_dataset(engine, DatasetKind::Polygons, "polygon_pairs_intersection_area");
    const std::span<const u32> is = i_idx.get();
    const std::span<const u32> js = j_idx.get();
    if (is.size() != js.size()) throw Error("i_idx and j_idx must have the same length");
    require_ids_below(is, engine.logical_count);
    require_ids_below(js, engine.logical_count);

    const PolygonLayout layout = engine.layout();
    const std::optional<std::span<const u32>> map = listed_part_map(engine);
    Buffer<double> areas;
    unlocked([&] {
        if (!map) {
            areas = parallel_map<double>(is.size(), [&](std::size_t t) {
                return polygon_intersection_area(layout, is[t], js[t]);
            });
            return;
        }
        const PartsCsr csr = polygon_parts_csr(*map, engine.logical_count);
        areas = parallel_map<double>(is.size(), [&](std::size_t t) {
            double area = 0.0;
            for (const u32 a : csr.parts_of(is[t])) {
                for (const u32 b : csr.parts_of(js[t])) area += polygon_intersection_area(layout, a, b);
            }
            return area;
        });
    });
    return areas;
}

double convex_hull_area_of(std::span<const double> xs, std::span<const double> ys) {
    if (xs.size() != ys.size()) throw Error("xs and ys must have the same length");
    return convex_hull_area(xs, ys);
}

Buffer<double> group_convex_hull_areas(std::span<const double> xs, std::span<const double> ys,
                                       std::span<const i64> offsets, RunUnlocked unlocked) {
    if (xs.size() != ys.size()) throw Error("xs and ys must have the same length");
    // Compared as signed values, so a negative entry fails the start or the ordering and never
    // reads as a huge unsigned offset.
    bool valid = !offsets.empty() && offsets.front() == 0;
    for (std::size_t g = 0; valid && g + 1 < offsets.size(); ++g) valid = offsets[g] <= offsets[g + 1];
    if (!valid || static_cast<u64>(offsets.back()) != xs.size()) {
        throw Error("offsets must start at zero, be nondecreasing, and end at the coordinate length");
    }
    Buffer<double> areas;
    unlocked([&] { areas = group_convex_hull_areas(xs, ys, offsets); });
    return areas;
}

}  // namespace vardelin
