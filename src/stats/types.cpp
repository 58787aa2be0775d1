#include "stats/types.hpp"

namespace vardelin {

const char* name_of(GeometryKind kind) noexcept {
    switch (kind) {
        case GeometryKind::Point: return "Point";
        case GeometryKind::LineString: return "LineString";
        case GeometryKind::Polygon: return "Polygon";
        case GeometryKind::Mixed: return "Mixed";
        case GeometryKind::Empty: return "Empty";
    }
    return "Empty";
}

const char* name_of(Distribution distribution) noexcept {
    switch (distribution) {
        case Distribution::Uniform: return "Uniform";
        case Distribution::Clustered: return "Clustered";
        case Distribution::Unknown: return "Unknown";
    }
    return "Unknown";
}

u64 SpatialHistogram::count_in(const Box& box) const noexcept {
    const int col_lo = cell_of(box.min_x, min_x, cell_w, kHistogramSide);
    const int col_hi = cell_of(box.max_x, min_x, cell_w, kHistogramSide);
    const int row_lo = cell_of(box.min_y, min_y, cell_h, kHistogramSide);
    const int row_hi = cell_of(box.max_y, min_y, cell_h, kHistogramSide);
    u64 sum = 0;
    for (int row = row_lo; row <= row_hi; ++row) {
        for (int col = col_lo; col <= col_hi; ++col) sum += counts[static_cast<std::size_t>(row * kHistogramSide + col)];
    }
    return sum;
}

}  // namespace vardelin
