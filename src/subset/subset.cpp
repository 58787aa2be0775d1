#include "subset/subset.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/row_limit.hpp"
#include "engine/construction.hpp"
#include "query/multipoly.hpp"

namespace vardelin {

namespace {

// The parts to copy, in copy order, and for a source with a part map the new logical polygon
// of each.
struct Selection {
    std::vector<u32> parts;
    SharedArray<u32> part_poly;
};

Selection select_parts(const Engine& source, std::span<const u32> indices) {
    Selection s;
    if (!source.part_poly) {
        s.parts.assign(indices.begin(), indices.end());
        return s;
    }
    const auto csr = query::multipoly::polygon_parts_csr(view(source.part_poly), source.logical_count);
    // Repeated entries copy their parts again, so the selection can outgrow the row limit
    // even when the number of entries does not.
    u64 total = 0;
    for (const u32 g : indices) total = checked_add(total, csr.offsets[g + 1] - csr.offsets[g]);
    ensure_u32_indexable(total, "polygon subset");
    s.parts.reserve(total);
    Buffer<u32> map;
    map.reserve(total);
    for (std::size_t k = 0; k < indices.size(); ++k) {
        const u32 g = indices[k];
        for (u32 j = csr.offsets[g]; j < csr.offsets[g + 1]; ++j) {
            s.parts.push_back(csr.parts[j]);
            map.push_back(static_cast<u32>(k));
        }
    }
    s.part_poly = make_shared_array(std::move(map));
    return s;
}

}  // namespace

Engine subset(const Engine& source, std::span<const u32> indices) {
    ensure_u32_indexable(indices.size(), "polygon subset");
    if (!source.is_polygons()) throw Error("subset currently requires a polygon dataset");
    for (const u32 g : indices) {
        if (g >= source.logical_count) {
            throw Error("subset index " + std::to_string(g) + " is out of bounds for " +
                        std::to_string(source.logical_count) + " polygons");
        }
    }
    Selection sel = select_parts(source, indices);

    // The source's offsets start at or above 0, never decrease and end within their arrays
    // (its constructors refuse anything else), so they read safely as unsigned positions.
    const auto xs = source.x();
    const auto ys = source.y();
    const auto rings = view(source.ring_offsets);
    const auto parts = view(source.poly_offsets);
    const auto at = [](std::span<const i64> offsets, std::size_t i) { return static_cast<std::size_t>(offsets[i]); };

    u64 ring_total = 0;
    u64 coord_total = 0;
    for (const u32 p : sel.parts) {
        const std::size_t r0 = at(parts, p), r1 = at(parts, p + 1);
        ring_total = checked_add(ring_total, r1 - r0);
        coord_total = checked_add(coord_total, at(rings, r1) - at(rings, r0));
    }

    Buffer<double> new_xs, new_ys;
    Buffer<i64> new_rings, new_parts;
    new_xs.reserve(coord_total);
    new_ys.reserve(coord_total);
    new_rings.reserve(checked_add(ring_total, 1));
    new_parts.reserve(sel.parts.size() + 1);
    new_rings.push_back(0);
    new_parts.push_back(0);
    for (const u32 p : sel.parts) {
        for (std::size_t r = at(parts, p); r < at(parts, p + 1); ++r) {
            const std::size_t c0 = at(rings, r), c1 = at(rings, r + 1);
            new_xs.insert(new_xs.end(), xs.begin() + c0, xs.begin() + c1);
            new_ys.insert(new_ys.end(), ys.begin() + c0, ys.begin() + c1);
            new_rings.push_back(static_cast<i64>(new_xs.size()));
        }
        new_parts.push_back(static_cast<i64>(new_rings.size() - 1));
    }

    Engine out = new_polygons(make_shared_array(std::move(new_xs)), make_shared_array(std::move(new_ys)),
                              make_shared_array(std::move(new_rings)), make_shared_array(std::move(new_parts)),
                              std::move(sel.part_poly), indices.size());
    out.index_mode = source.index_mode;
    out.cost_factors = source.cost_factors;
    out.coordinate_system = source.coordinate_system;
    return out;
}

}  // namespace vardelin
