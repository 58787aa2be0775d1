#pragma once
#include <vector>

#include "core/shared_array.hpp"
#include "index/part_boxes.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// One box per item and a scan per query: the answer when an index would not pay, and of the
// index mode "none". Over points it shares the coordinate arrays instead of copying them. Over
// parts, a part without exterior coordinates has the empty box but lies at +inf; a part with a
// non-finite vertex has the NaN box, which meets no box and lies at +inf.
class BruteForce : public ListSearches<BruteForce> {
public:
    using ListSearches::nearest;
    using ListSearches::range;

    static BruteForce over_points(SharedArray<double> xs, SharedArray<double> ys);
    static BruteForce over_parts(const PolygonLayout& layout);

    std::size_t size() const noexcept { return n_; }
    // Nothing of its own over points (the boxes are the coordinate arrays), else 32 per item.
    u64 bytes() const noexcept { return min_x_ == max_x_ ? 0 : 32 * static_cast<u64>(n_); }

    // visit(u32 id) for every item meeting the closed box, ascending ids.
    template <class Visit>
    void for_each_in_range(const Box& q, Visit&& visit) const {
        for_each_box_in_range(q, [&](u32 id, const Box&) { visit(id); });
    }

    // The same with each item's box: visit(u32 id, const Box& box).
    template <class Visit>
    void for_each_box_in_range(const Box& q, Visit&& visit) const {
        const double *lx = min_x_->data(), *ly = min_y_->data(), *hx = max_x_->data(), *hy = max_y_->data();
        for (std::size_t i = 0; i < n_; ++i) {
            if (hx[i] >= q.min_x && q.max_x >= lx[i] && hy[i] >= q.min_y && q.max_y >= ly[i]) {
                visit(static_cast<u32>(i), Box{lx[i], ly[i], hx[i], hy[i]});
            }
        }
    }

    // Over points only (the caller knows): visit(u32 id, double x, double y) for every point
    // inside the closed box, ascending ids.
    template <class Visit>
    void for_each_point_in_range(const Box& q, Visit&& visit) const {
        const double *xs = min_x_->data(), *ys = min_y_->data();
        for (std::size_t i = 0; i < n_; ++i) {
            if (point_in_box(xs[i], ys[i], q)) visit(static_cast<u32>(i), xs[i], ys[i]);
        }
    }

    void nearest(double x, double y, u64 k, std::vector<Neighbor>& out) const;

private:
    BruteForce(SharedArray<double> min_x, SharedArray<double> min_y, SharedArray<double> max_x,
               SharedArray<double> max_y);

    SharedArray<double> min_x_, min_y_, max_x_, max_y_;
    std::size_t n_ = 0;
    std::vector<u32> empty_parts_;  // ascending; at +inf although their box is the origin
};

}  // namespace vardelin
