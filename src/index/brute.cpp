#include "index/brute.hpp"

#include <algorithm>
#include <cmath>

namespace vardelin {

static_assert(SpatialIndex<BruteForce>);

BruteForce::BruteForce(SharedArray<double> min_x, SharedArray<double> min_y, SharedArray<double> max_x,
                       SharedArray<double> max_y)
    : min_x_(std::move(min_x)), min_y_(std::move(min_y)), max_x_(std::move(max_x)), max_y_(std::move(max_y)) {
    if (!min_x_) min_x_ = max_x_ = min_y_ = max_y_ = make_shared_array(Buffer<double>());
    n_ = std::min({min_x_->size(), min_y_->size(), max_x_->size(), max_y_->size()});
}

BruteForce BruteForce::over_points(SharedArray<double> xs, SharedArray<double> ys) {
    if (!xs || !ys) return BruteForce(nullptr, nullptr, nullptr, nullptr);
    return BruteForce(xs, ys, xs, ys);
}

BruteForce BruteForce::over_parts(const PolygonLayout& layout) {
    const std::size_t parts = layout.part_count();
    Buffer<double> lx, ly, hx, hy;
    lx.reserve(parts), ly.reserve(parts), hx.reserve(parts), hy.reserve(parts);
    for (std::size_t p = 0; p < parts; ++p) {
        const Box b = part_box(layout, p);
        lx.push_back(b.min_x), ly.push_back(b.min_y), hx.push_back(b.max_x), hy.push_back(b.max_y);
    }
    BruteForce b(make_shared_array(std::move(lx)), make_shared_array(std::move(ly)), make_shared_array(std::move(hx)),
                 make_shared_array(std::move(hy)));
    b.empty_parts_ = empty_parts(layout);
    return b;
}

void BruteForce::nearest(double x, double y, u64 k, std::vector<Neighbor>& out) const {
    if (k == 0 || n_ == 0 || nan_query(x, y)) return;
    const std::size_t base = out.size();
    const double *lx = min_x_->data(), *ly = min_y_->data(), *hx = max_x_->data(), *hy = max_y_->data();
    out.resize(base + n_);
    for (std::size_t i = 0; i < n_; ++i) {
        out[base + i] = Neighbor{static_cast<u32>(i), box_dist2(Box{lx[i], ly[i], hx[i], hy[i]}, x, y)};
    }
    for (const u32 id : empty_parts_) out[base + id].dist2 = kInfinity;
    keep_nearest(out, base, k);
}

}  // namespace vardelin
