#pragma once
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

#include "core/box.hpp"
#include "core/numeric.hpp"

namespace vardelin {

enum class GeometryKind : std::uint8_t { Point = 0, LineString = 1, Polygon = 2, Mixed = 3, Empty = 4 };
enum class Distribution : std::uint8_t { Uniform = 0, Clustered = 1, Unknown = 2 };

const char* name_of(GeometryKind kind) noexcept;
const char* name_of(Distribution distribution) noexcept;

// Maps v to one of k cells of size `size` from `origin`. Values beyond the grid land in the
// border cells and a NaN quotient in cell 0, so every coordinate has a cell.
// Truncation is floor once the quotient is clamped to [0, k - 1], and the clamps written as
// selects let the binning loops vectorise.
inline int cell_of(double v, double origin, double size, int k) noexcept {
    double q = (v - origin) / size;
    q = q >= 0.0 ? q : 0.0;  // NaN lands here too
    const double top = static_cast<double>(k - 1);
    q = q < top ? q : top;
    return static_cast<int>(q);
}

inline constexpr int kHistogramSide = 32;
inline constexpr int kHistogramCells = kHistogramSide * kHistogramSide;

// Coarse occupancy over the extent: rows follow y, columns follow x.
struct SpatialHistogram {
    std::array<u32, kHistogramCells> counts{};
    double min_x = 0, min_y = 0, cell_w = 0, cell_h = 0;

    // The sum of the cells the box overlaps. The box must be normalised (min <= max on each
    // axis). Conservative: clamping to the border cells means a box beyond the extent still
    // counts the nearest border cells.
    u64 count_in(const Box& box) const noexcept;
    bool has_any_in_bbox(const Box& box) const noexcept { return count_in(box) != 0; }
};

struct DatasetStats {
    std::optional<Box> extent;
    std::optional<SpatialHistogram> histogram;
    u64 n = 0;
    double density = 0.0;
    Distribution distribution = Distribution::Unknown;
    GeometryKind kind = GeometryKind::Empty;
};

}  // namespace vardelin
