#pragma once
#include <cstddef>

namespace vardelin {

// Twice the signed area of the ring of n coordinates (x(k), y(k)), closed by an edge back to the
// first coordinate whether or not it is stored again at the end; counter-clockwise is positive.
// Coordinates are shifted by the first one before the products: on a ring far from the origin
// the unshifted products are huge and cancel, losing the area in rounding. With the shift the
// first coordinate becomes exactly (0, 0), so the terms of the edges that touch it, the closing
// edge among them, are exact zeros and are left out; a ring stored closed and the same ring
// stored open therefore sum the same terms and give the same area.
template <class X, class Y>
double shifted_shoelace_twice(std::size_t n, const X& x, const Y& y) noexcept {
    if (n < 3) return 0.0;
    const double x0 = x(0), y0 = y(0);
    double sum = 0.0;
    double xa = x(1) - x0, ya = y(1) - y0;
    for (std::size_t k = 2; k < n; ++k) {
        const double xb = x(k) - x0, yb = y(k) - y0;
        sum += xa * yb - xb * ya;
        xa = xb;
        ya = yb;
    }
    return sum;
}

}  // namespace vardelin
