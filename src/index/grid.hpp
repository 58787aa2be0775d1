#pragma once
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/shared_array.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// Square array of side x side equal cells over the points' extent (about one point per cell),
// the point ids of each cell stored contiguously. Points only; shares the coordinate arrays.
class UniformGrid : public ListSearches<UniformGrid> {
public:
    using ListSearches::nearest;
    using ListSearches::range;

    static UniformGrid over_points(SharedArray<double> xs, SharedArray<double> ys);

    std::size_t size() const noexcept { return cell_items_.size(); }
    u64 bytes() const noexcept { return 4 * static_cast<u64>(cell_start_.capacity() + cell_items_.capacity()); }
    std::size_t side() const noexcept { return nx_; }

    // visit(id) for every id stored in the cells under the box: rows upward, columns left to
    // right, ids ascending within a cell; no point test.
    template <class Visit>
    void bbox_cell_range(const Box& q, Visit&& visit) const {
        for_each_row_run(q, [&](u32 begin, u32 end) {
            for (u32 i = begin; i < end; ++i) visit(cell_items_[i]);
        });
    }

    // Appends every point inside the closed box with its coordinates, in cell order.
    void point_range(const Box& q, std::vector<PointHit>& out) const;

    // visit(u32 id) for every point inside the closed box, in cell order.
    template <class Visit>
    void for_each_in_range(const Box& q, Visit&& visit) const {
        const double *xs = xs_->data(), *ys = ys_->data();
        scan_box(q, [&](u32 begin, u32 end, bool x_inside, bool y_inside) {
            for (u32 i = begin; i < end; ++i) {
                const u32 id = cell_items_[i];
                const bool x_ok = x_inside || (xs[id] >= q.min_x && q.max_x >= xs[id]);
                if (x_ok && (y_inside || (ys[id] >= q.min_y && q.max_y >= ys[id]))) visit(id);
            }
        });
    }

    // Appends the ids of for_each_in_range.
    void range(const Box& q, std::vector<u64>& out) const;

    // Appends the ids of the points inside the closed box that the disc holds, in cell order:
    // the ids of point_range that pass the disc's test, in the same order.
    void disc_range(const Box& q, const Disc& disc, std::vector<u64>& out) const;
    void nearest(double x, double y, u64 k, std::vector<Neighbor>& out) const;

private:
    // The cells scan_box visits: columns x0..x1 of rows y0..y1, where xi and yi are the cells of
    // the box's max_x and max_y by the floor.
    struct CellSpan {
        std::size_t x0 = 1, xi = 0, x1 = 0, y0 = 1, yi = 0, y1 = 0;
        bool empty() const noexcept { return x0 > x1 || y0 > y1; }
    };
    CellSpan cells_under(const Box& q) const noexcept {
        if (has_nan(q)) return {};
        CellSpan s;
        s.x0 = low_cell(q.min_x, min_x_, cell_w_, nx_);
        s.y0 = low_cell(q.min_y, min_y_, cell_h_, ny_);
        s.xi = low_cell(q.max_x, min_x_, cell_w_, nx_);
        s.yi = low_cell(q.max_y, min_y_, cell_h_, ny_);
        s.x1 = std::min(high_cell(q.max_x, min_x_, cell_w_, nx_), s.xi);
        s.y1 = std::min(high_cell(q.max_y, min_y_, cell_h_, ny_), s.yi);
        return s;
    }

    // The ids of one row of scan_box's cells, cell_items[begin, end), of which those in
    // [inside_begin, inside_end) lie in cells known to be inside the box and the disc.
    struct DiscRow {
        u32 begin, inside_begin, inside_end, end;
    };
    // Fills one DiscRow per row of the span, upward, and returns the number of ids.
    std::size_t disc_rows(const Box& q, const Disc& disc, const CellSpan& span, DiscRow* rows) const;

    // The number of ids in the cells under the box (0 for a NaN box), each row's ids requested
    // from memory on the way: a result is then sized once and a scan does not wait for one row
    // after another. The scans write every candidate and advance their count by its test, so
    // no branch waits on a coordinate that missed the cache.
    std::size_t request_rows(const Box& q) const;

    // visit(begin, end) for each row of cells under the box, upward: the cells of one row are
    // adjacent, so their ids are the one run cell_items[begin, end).
    template <class Visit>
    void for_each_row_run(const Box& q, Visit&& visit) const {
        const std::size_t x0 = low_cell(q.min_x, min_x_, cell_w_, nx_), x1 = high_cell(q.max_x, min_x_, cell_w_, nx_);
        const std::size_t y0 = low_cell(q.min_y, min_y_, cell_h_, ny_), y1 = high_cell(q.max_y, min_y_, cell_h_, ny_);
        if (x0 > x1 || y0 > y1) return;
        for (std::size_t cy = y0; cy <= y1; ++cy) {
            const std::size_t row = cy * nx_;
            visit(cell_start_[row + x0], cell_start_[row + x1 + 1]);
        }
    }

    // on_run(begin, end, x_inside, y_inside) for the id runs cell_items[begin, end) under the
    // box, in cell order, saying on which axes every point of the run is known to be inside.
    // The cell of a coordinate never decreases as the coordinate grows, so a point whose
    // column lies strictly between the columns of the box's two sides has its x strictly
    // between those sides, and likewise for rows and y: that axis needs no test, and the
    // coordinates, scattered over the arrays, are loaded only where a test remains. A NaN
    // coordinate sits in column or row 0, never strictly inside; a NaN box yields nothing.
    // By the same order, a point in a column beyond the one of the box's max_x lies beyond
    // max_x (its cell is the same rule applied to a larger value), so the scan ends at that
    // column and row: the cells the ceiling adds can hold no match, and skipping them leaves
    // the result and its order as they are.
    template <class OnRun>
    void scan_box(const Box& q, OnRun&& on_run) const {
        const CellSpan span = cells_under(q);
        if (span.empty()) return;
        const auto [x0, xi, x1, y0, yi, y1] = span;
        for (std::size_t cy = y0; cy <= y1; ++cy) {
            const u32* start = cell_start_.data() + cy * nx_;
            const bool y_inside = cy > y0 && cy < yi;
            if (x0 + 1 < xi) {
                on_run(start[x0], start[x0 + 1], false, y_inside);
                on_run(start[x0 + 1], start[xi], true, y_inside);
                on_run(start[xi], start[x1 + 1], false, y_inside);
            } else {
                on_run(start[x0], start[x1 + 1], false, y_inside);
            }
        }
    }

    // Floor at the low side and ceiling at the high side keep every cell that can hold a point
    // on the box's edge.
    static std::size_t low_cell(double v, double origin, double size, std::size_t cells) noexcept {
        const double f = std::floor((v - origin) / size);
        if (!(f > 0.0)) return 0;
        return static_cast<std::size_t>(std::min(f, static_cast<double>(cells - 1)));
    }
    static std::size_t high_cell(double v, double origin, double size, std::size_t cells) noexcept {
        const double c = std::ceil((v - origin) / size);
        if (std::isnan(c) || c > static_cast<double>(cells - 1)) return cells - 1;
        return c > 0.0 ? static_cast<std::size_t>(c) : 0;
    }

    Buffer<u32> cell_start_;
    Buffer<u32> cell_items_;
    SharedArray<double> xs_, ys_;
    double min_x_ = 0, min_y_ = 0, cell_w_ = 1, cell_h_ = 1;
    std::size_t nx_ = 1, ny_ = 1;
};

}  // namespace vardelin
