#pragma once
#include <array>
#include <span>
#include <vector>

#include "core/point_spans.hpp"
#include "core/polygon_layout.hpp"
#include "stats/types.hpp"

namespace vardelin {

inline constexpr int kFineSide = 256;
inline constexpr int kFineCells = kFineSide * kFineSide;

// Per-axis NaN-skipping fold over the points; starts from kFoldStart, so an empty input gives
// that.
Box compute_extent(const PointSpans& points);

// The 256 x 256 count over the extent that the distribution class and the histogram come from.
std::vector<u32> count_grid(const PointSpans& points, const Box& extent);

DatasetStats collect_points(const PointSpans& points);

// The same, for a caller that already folded the raw extent (while copying the input).
DatasetStats collect_points(const PointSpans& points, const Box& folded);

// Statistics of a polygon dataset: n counts parts, the histogram counts exterior-ring centroids.
DatasetStats collect_polygons(const PolygonLayout& layout);

// Copies the pairs into `out_x`, `out_y` (already sized) and folds their raw extent in the
// same pass, so construction reads its input once instead of twice.
Box copy_and_fold(const PointSpans& points, double* out_x, double* out_y);

// Counts every part 0 ... parts-1 with a non-empty exterior ring in the cell of the plain
// average of that ring's stored vertices (no area weighting; holes and other parts ignored).
std::array<u32, kHistogramCells> build_polygon_centroid_histogram(const PolygonLayout& layout, double min_x,
                                                                  double min_y, double cell_w, double cell_h);

// Side of a histogram cell for an extent side: degenerate and non-numeric sides still give a
// usable grid.
inline double histogram_cell_size(double side, int cells) noexcept {
    return std::fmax(side, kEpsilon) / static_cast<double>(cells);
}

}  // namespace vardelin
