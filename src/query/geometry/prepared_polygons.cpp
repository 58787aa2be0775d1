#include "query/geometry/prepared_polygons.hpp"

#include <algorithm>
#include <cmath>

#include "core/box.hpp"
#include "core/error.hpp"
#include "query/geometry/part_contains_point.hpp"

namespace vardelin {

namespace {

// Band of y for a band count and mapping; the build and the lookup must share this exactly,
// since the band of a value has to grow with the value for every spanning edge to be found.
std::size_t band_index(double y, double y_min, double inv_h, std::size_t nbands) noexcept {
    if (inv_h == 0.0) return 0;
    const i64 v = saturating_cast<i64>(inv_h * (y - y_min));
    if (v <= 0) return 0;
    return std::min(static_cast<std::size_t>(v), nbands - 1);
}

// Parity over every edge of every ring of the part: what the bands compute, without them.
bool whole_part_contains(const PolygonLayout& layout, u64 part, double x, double y) noexcept {
    const IndexRange rings = layout.part_rings(part);
    bool inside = false;
    for (u64 r = rings.begin; r < rings.end; ++r) {
        const IndexRange ring = layout.ring(r);
        if (ring_contains(layout.xs.data(), layout.ys.data(), ring.begin, ring.end, x, y)) inside = !inside;
    }
    return inside;
}

// Parity over the edges of one band; Plain as for ring_contains.
template <bool Plain>
bool band_contains(const PartBands& b, std::size_t band, std::span<const double> xs, std::span<const double> ys,
                   double x, double y) noexcept {
    bool inside = false;
    for (u32 k = b.band_offsets[band]; k < b.band_offsets[band + 1]; ++k) {
        const u32 e = b.band_edges[k];
        const u32 i = b.edges[2 * static_cast<std::size_t>(e)];
        const u32 j = b.edges[2 * static_cast<std::size_t>(e) + 1];
        const bool flips = Plain ? edge_flips_plain(x, y, xs[i], ys[i], xs[j], ys[j])
                                 : edge_flips(x, y, xs[i], ys[i], xs[j], ys[j]);
        if (flips) inside = !inside;
    }
    return inside;
}

struct BandPlan {
    std::size_t nbands;
    double inv_h;
    u64 entries;
};

// Band sizes for one plan as a difference array (band b holds the sum of steps 0..b), and the
// plan's total entries: sizing a candidate costs one pass over the edges, however many entries
// it would make.
std::vector<i64> band_size_steps(std::span<const double> ys, const std::vector<u32>& edges, double y_min,
                                 BandPlan& plan, u64 edge_count) {
    std::vector<i64> steps(plan.nbands + 1, 0);
    plan.entries = 0;
    for (u64 e = 0; e < edge_count; ++e) {
        const double yi = ys[edges[2 * e]];
        const double yj = ys[edges[2 * e + 1]];
        // fmin and fmax take the other operand when one is NaN.
        const std::size_t b0 = band_index(std::fmin(yi, yj), y_min, plan.inv_h, plan.nbands);
        const std::size_t b1 = band_index(std::fmax(yi, yj), y_min, plan.inv_h, plan.nbands);
        ++steps[b0];
        --steps[b1 + 1];
        plan.entries += b1 - b0 + 1;
    }
    return steps;
}

}  // namespace

std::size_t PartBands::band_of(double y) const noexcept { return band_index(y, y_min, inv_h, band_count()); }

PartBands build_part_bands(const PolygonLayout& layout, u64 part) {
    PartBands out;
    const std::span<const double> ys = layout.ys;
    const IndexRange rings = layout.part_rings(part);
    out.coordinate_count = layout.coordinate_count();

    u64 edge_count = 0;
    bool fits = true;
    for (u64 r = rings.begin; r < rings.end; ++r) {
        const IndexRange ring = layout.ring(r);
        if (ring.size() < 2) continue;
        edge_count += ring.size();
        fits = fits && ring.end - 1 <= kU32Max;
    }
    if (!fits || edge_count > kU32Max) {
        out.whole_part = true;
        return out;
    }

    out.edges.reserve(checked_mul(edge_count, 2));
    double y_min = kInfinity;
    double y_max = -kInfinity;
    for (u64 r = rings.begin; r < rings.end; ++r) {
        const IndexRange ring = layout.ring(r);
        if (ring.size() < 2) continue;
        for (u64 k = ring.begin; k < ring.end; ++k) {
            out.edges.push_back(static_cast<u32>(k));
            out.edges.push_back(static_cast<u32>(k == ring.begin ? ring.end - 1 : k - 1));
            y_min = std::fmin(y_min, ys[k]);
            y_max = std::fmax(y_max, ys[k]);
        }
    }

    const std::size_t wanted =
        edge_count < kEdgesPerBand ? 1 : static_cast<std::size_t>(std::min(edge_count / kEdgesPerBand, kMaxBands));
    const double height = y_max - y_min;
    // An infinite or NaN height gives 0 as well: every edge in band 0, as for a flat part.
    auto inv_h_for = [height](std::size_t nbands) {
        return height > 0.0 ? static_cast<double>(nbands) / height : 0.0;
    };
    // Replaced only after the height is taken from it.
    const double base = std::isfinite(y_min) ? y_min : 0.0;

    const u64 budget = std::min<u64>(kU32Max, edge_count * kMaxBandEntriesPerEdge);
    BandPlan plan{wanted, inv_h_for(wanted), 0};
    std::vector<i64> diff = band_size_steps(ys, out.edges, base, plan, edge_count);
    while (plan.entries > budget && plan.nbands > 1) {
        plan.nbands /= 2;
        plan.inv_h = inv_h_for(plan.nbands);
        diff = band_size_steps(ys, out.edges, base, plan, edge_count);
    }

    out.y_min = base;
    out.inv_h = plan.inv_h;
    out.band_offsets.resize(plan.nbands + 1);
    out.band_offsets[0] = 0;
    i64 running = 0;
    for (std::size_t b = 0; b < plan.nbands; ++b) {
        running += diff[b];
        out.band_offsets[b + 1] = out.band_offsets[b] + static_cast<u32>(running);
    }
    out.band_edges.resize(plan.entries);
    std::vector<u32> cursor(out.band_offsets.begin(), out.band_offsets.end() - 1);
    for (u64 e = 0; e < edge_count; ++e) {
        const double yi = ys[out.edges[2 * e]];
        const double yj = ys[out.edges[2 * e + 1]];
        const std::size_t b0 = out.band_of(std::fmin(yi, yj));
        const std::size_t b1 = out.band_of(std::fmax(yi, yj));
        for (std::size_t b = b0; b <= b1; ++b) out.band_edges[cursor[b]++] = static_cast<u32>(e);
    }
    return out;
}

PreparedPolygons::PreparedPolygons(std::vector<std::uint8_t> banded)
    : banded_(std::move(banded)), cells_(std::make_unique<Cell[]>(banded_.size())), plain_parts_(banded_.size()) {}

PreparedPolygons::~PreparedPolygons() = default;

const PartBands& PreparedPolygons::bands(u64 part, const PolygonLayout& layout) const {
    if (part >= banded_.size()) throw InternalError("prepared polygon part out of range");
    Cell& cell = cells_[part];
    // A build that throws leaves the flag unset, so a later call tries again.
    std::call_once(cell.once, [&] {
        cell.owned = std::make_unique<const PartBands>(build_part_bands(layout, part));
        cell.ready.store(cell.owned.get(), std::memory_order_release);
    });
    return *cell.owned;
}

const PartBands* PreparedPolygons::built_bands(u64 part) const noexcept {
    if (part >= banded_.size()) return nullptr;
    return cells_[part].ready.load(std::memory_order_acquire);
}

bool PreparedPolygons::contains(u64 part, const PolygonLayout& layout, double x, double y, bool plain_point) const {
    if (part >= banded_.size()) throw InternalError("prepared polygon part out of range");
    const bool plain = plain_point && plain_parts_(layout, part);
    if (!banded_[part]) {
        return plain ? plain_part_contains_point(layout, part, x, y) : part_contains_point(layout, part, x, y);
    }
    const PartBands& b = bands(part, layout);
    if (b.whole_part) return whole_part_contains(layout, part, x, y);
    const std::span<const double> xs = layout.xs, ys = layout.ys;
    if (layout.coordinate_count() < b.coordinate_count) {
        throw InternalError("prepared polygon coordinates changed");
    }
    const std::size_t band = b.band_of(y);
    return plain ? band_contains<true>(b, band, xs, ys, x, y) : band_contains<false>(b, band, xs, ys, x, y);
}

}  // namespace vardelin
