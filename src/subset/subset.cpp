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

    const PolygonLayout layout = source.layout();
    u64 ring_total = 0;
    u64 coord_total = 0;
    for (const u32 p : sel.parts) {
        const IndexRange rings = layout.part_rings(p);
        ring_total = checked_add(ring_total, rings.size());
        for (u64 r = rings.begin; r < rings.end; ++r) coord_total = checked_add(coord_total, layout.ring(r).size());
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
        const IndexRange rings = layout.part_rings(p);
        for (u64 r = rings.begin; r < rings.end; ++r) {
            const IndexRange ring = layout.ring(r);
            const auto c0 = static_cast<std::ptrdiff_t>(ring.begin), c1 = static_cast<std::ptrdiff_t>(ring.end);
            new_xs.insert(new_xs.end(), layout.xs.begin() + c0, layout.xs.begin() + c1);
            new_ys.insert(new_ys.end(), layout.ys.begin() + c0, layout.ys.begin() + c1);
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
