#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/numeric.hpp"
#include "core/polygon_layout.hpp"
#include "query/geometry/part_contains_point.hpp"

namespace vardelin {

// A part with at least this many edges gets bands; smaller ones are tested with part_contains_point.
inline constexpr u64 kBandedMinEdges = 32;
inline constexpr u64 kEdgesPerBand = 8;
inline constexpr u64 kMaxBands = 1024;
// Band entries a part may hold per edge before it falls back to fewer bands: edges spanning
// many bands are stored in each, and a part of long edges over 1024 bands would multiply its
// memory by 1024 for no faster answer.
inline constexpr u64 kMaxBandEntriesPerEdge = 16;

// The edges of one part (all rings together) sorted into horizontal bands of equal height, so
// that a point-in-part test scans only the band holding the point's y.
struct PartBands {
    std::vector<u32> band_offsets;  // nbands + 1 entries, from 0
    std::vector<u32> band_edges;    // edge numbers by band, ascending within a band
    std::vector<u32> edges;         // per edge: its vertex, then the ring's previous vertex
    double y_min = 0.0;
    double inv_h = 0.0;             // bands per unit of y; 0 puts everything in band 0
    u64 coordinate_count = 0;       // coordinates the vertex positions were checked against
    // Set when vertex positions or the edge count do not fit 32 bits: the test then counts
    // every edge of the part, which gives the same answer as any banding.
    bool whole_part = false;

    std::size_t band_count() const noexcept { return band_offsets.empty() ? 0 : band_offsets.size() - 1; }
    std::size_t band_of(double y) const noexcept;
};

// Builds the bands of one part with `nbands` bands at most. The number of bands is lowered
// (halved until it fits) when the band entries would exceed kMaxBandEntriesPerEdge per edge.
PartBands build_part_bands(const PolygonLayout& layout, u64 part);

// Point-in-polygon tests of the containment joins. Per part a flag (the part has enough edges
// to be worth banding) and a cell built on first use, once, also when several threads need the
// same part at the same time; once built, a cell is read without locking.
class PreparedPolygons {
public:
    explicit PreparedPolygons(std::vector<std::uint8_t> banded);
    ~PreparedPolygons();
    PreparedPolygons(const PreparedPolygons&) = delete;
    PreparedPolygons& operator=(const PreparedPolygons&) = delete;

    std::size_t part_count() const noexcept { return banded_.size(); }
    bool banded(u64 part) const noexcept { return part < banded_.size() && banded_[part] != 0; }

    // The test the joins call: part_contains_point for unbanded parts, else one even-odd count over the
    // edges of all rings of the part in the point's band. The two agree on parts whose holes
    // lie inside the exterior without overlapping. `plain_point` says the point is (plain_point):
    // where the part is plain too, found once per part and kept, the edges skip their range tests.
    bool contains(u64 part, const PolygonLayout& layout, double x, double y, bool plain_point = false) const;

    // The bands of a part, built first if needed. Thread-safe.
    const PartBands& bands(u64 part, const PolygonLayout& layout) const;

    // The bands of a part if some call has built them, else null.
    const PartBands* built_bands(u64 part) const noexcept;

private:
    struct Cell {
        std::once_flag once;
        std::unique_ptr<const PartBands> owned;
        std::atomic<const PartBands*> ready{nullptr};
    };
    std::vector<std::uint8_t> banded_;
    std::unique_ptr<Cell[]> cells_;
    PlainParts plain_parts_;
};

}  // namespace vardelin
