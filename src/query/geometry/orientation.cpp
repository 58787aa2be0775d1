#include "query/geometry/orientation.hpp"

#include <algorithm>
#include <array>
#include <climits>

#include <boost/multiprecision/cpp_int.hpp>

namespace vardelin {

namespace {

// Every double is an integer of at most 53 bits times a power of two no lower than 2^-1074, so
// six of them, brought to their lowest power, are integers below 2^2099; the determinant's
// products stay below 2^4199. Fixed-width integers of that size live on the stack.
using Exact = boost::multiprecision::number<
    boost::multiprecision::cpp_int_backend<4352, 4352, boost::multiprecision::signed_magnitude,
                                           boost::multiprecision::unchecked, void>>;

// v = mantissa * 2^exponent with an integer mantissa below 2^53 in magnitude; v nonzero, finite.
struct Split {
    long long mantissa;
    int exponent;
};

Split split(double v) noexcept {
    int e = 0;
    const double f = std::frexp(v, &e);
    return {static_cast<long long>(std::ldexp(f, 53)), e - 53};
}

int exact_orientation(const std::array<double, 6>& v) noexcept {
    std::array<Split, 6> parts{};
    int base = INT_MAX;
    for (std::size_t i = 0; i < 6; ++i) {
        if (v[i] == 0.0) continue;
        parts[i] = split(v[i]);
        base = std::min(base, parts[i].exponent);
    }
    std::array<Exact, 6> n;
    for (std::size_t i = 0; i < 6; ++i) {
        n[i] = v[i] == 0.0 ? Exact(0) : Exact(parts[i].mantissa) << (parts[i].exponent - base);
    }
    const Exact det = (n[0] - n[4]) * (n[3] - n[5]) - (n[1] - n[5]) * (n[2] - n[4]);
    return det > 0 ? 1 : (det < 0 ? -1 : 0);
}

}  // namespace

int orientation_beyond_window(double ax, double ay, double bx, double by, double cx, double cy) noexcept {
    const std::array<double, 6> v{ax, ay, bx, by, cx, cy};
    // Outside the contract (finite coordinates): the predicate's own answer, as before.
    if (!std::all_of(v.begin(), v.end(), [](double c) { return std::isfinite(c); })) {
        return orientation_in_window(ax, ay, bx, by, cx, cy);
    }
    int lo = INT_MAX, hi = INT_MIN;
    for (const double c : v) {
        if (c == 0.0) continue;
        const int e = std::ilogb(c);
        lo = std::min(lo, e);
        hi = std::max(hi, e);
    }
    if (lo == INT_MAX) return 0;  // six zeros: one point
    // The smallest nonzero magnitude goes to [2^-400, 2^-399), the largest then stays below
    // 2^480; a power of two changes no mantissa bit and no sign of the determinant.
    if (hi - lo < 880) {
        const int s = -400 - lo;
        return orientation_in_window(std::ldexp(ax, s), std::ldexp(ay, s), std::ldexp(bx, s), std::ldexp(by, s),
                                     std::ldexp(cx, s), std::ldexp(cy, s));
    }
    return exact_orientation(v);
}

}  // namespace vardelin
