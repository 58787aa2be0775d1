#pragma once
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/shared_array.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// Square array of side x side equal cells over the points' extent (about one point per cell),
// the point ids of each cell stored contiguously. Points only; shares the coordinate arrays.
class UniformGrid {
public:
    static UniformGrid build(SharedArray<double> xs, SharedArray<double> ys);

    std::size_t size() const noexcept { return cell_items_.size(); }
    u64 bytes() const noexcept { return 4 * static_cast<u64>(cell_start_.capacity() + cell_items_.capacity()); }
    std::size_t side() const noexcept { return nx_; }

    // visit(id) for every id stored in the cells under the box: rows upward, columns left to
    // right, ids ascending within a cell; no point test.
    template <class Visit>
    void bbox_cell_range(const Box& q, Visit&& visit) const {
        const std::size_t x0 = low_cell(q.min_x, min_x_, cell_w_, nx_), x1 = high_cell(q.max_x, min_x_, cell_w_, nx_);
        const std::size_t y0 = low_cell(q.min_y, min_y_, cell_h_, ny_), y1 = high_cell(q.max_y, min_y_, cell_h_, ny_);
        if (x0 > x1 || y0 > y1) return;
        for (std::size_t cy = y0; cy <= y1; ++cy) {
            for (std::size_t cx = x0; cx <= x1; ++cx) {
                const std::size_t c = cy * nx_ + cx;
                for (u32 i = cell_start_[c]; i < cell_start_[c + 1]; ++i) visit(cell_items_[i]);
            }
        }
    }

    // visit(u32 id) for every point inside the closed box, in cell order.
    template <class Visit>
    void for_each_in_range(const Box& q, Visit&& visit) const {
        const double *xs = xs_->data(), *ys = ys_->data();
        bbox_cell_range(q, [&](u32 id) {
            if (point_in_box(xs[id], ys[id], q)) visit(id);
        });
    }

    void range(const Box& q, std::vector<u64>& out) const;
    std::vector<u64> range(const Box& q) const;
    void nearest(double x, double y, u64 k, std::vector<Neighbor>& out) const;
    std::vector<u64> nearest(double x, double y, u64 k) const;

private:
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
