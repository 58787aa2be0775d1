#include <memory>
#include <vector>

#include "core/timing.hpp"
#include "engine/index_build.hpp"
#include "query/prepared.hpp"

namespace vardelin {

namespace {

// Edge count of every part: the coordinates of its rings of at least 2 coordinates. Only
// counts, so it is cheap; the bands themselves wait for the first test that needs them.
std::vector<std::uint8_t> banded_flags(std::span<const i64> ring_offsets, std::span<const i64> poly_offsets) {
    const u64 parts = poly_offsets.size() < 2 ? 0 : poly_offsets.size() - 1;
    const u64 rings = ring_offsets.size() < 2 ? 0 : ring_offsets.size() - 1;
    std::vector<std::uint8_t> banded(parts, 0);
    for (u64 p = 0; p < parts; ++p) {
        const u64 first = static_cast<u64>(poly_offsets[p]);
        // Rings beyond the ring array are not read: such a part counts only the rings that exist.
        const u64 last = std::min(static_cast<u64>(poly_offsets[p + 1]), rings);
        u64 edges = 0;
        for (u64 r = first; r < last; ++r) {
            const u64 c = static_cast<u64>(ring_offsets[r + 1]) - static_cast<u64>(ring_offsets[r]);
            if (c >= 2) edges = sat_add(edges, c);
        }
        banded[p] = edges >= kBandedMinEdges ? 1 : 0;
    }
    return banded;
}

}  // namespace

u64 build_prepared_if_needed(Engine& engine) {
    if (engine.index_mode.tag == IndexMode::Tag::None || engine.prepared_polygons || !engine.ring_offsets ||
        !engine.poly_offsets) {
        return 0;
    }
    const Stopwatch clock;
    engine.prepared_polygons =
        std::make_shared<PreparedPolygons>(banded_flags(view(engine.ring_offsets), view(engine.poly_offsets)));
    const auto ns = clock.elapsed();
    engine.metrics.prepared_polygons.record(ns);
    return ns.value_or(0);
}

}  // namespace vardelin
