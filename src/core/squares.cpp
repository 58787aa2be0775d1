#include "core/squares.hpp"

namespace vardelin {

namespace {

// sqrt(dx^2 + dy^2) for finite dx, dy: both scaled by the power of two that brings the larger
// into [1, 2), so that neither square can overflow and only a part of the smaller one far
// below the sum's last bit can underflow.
double finite_length(double dx, double dy) noexcept {
    if (dx == 0.0 && dy == 0.0) return 0.0;
    const int e = common_exponent(dx, dy);
    const double sx = std::ldexp(dx, -e), sy = std::ldexp(dy, -e);
    return std::ldexp(std::sqrt(sx * sx + sy * sy), e);
}

bool all_finite(double a, double b, double c, double d) noexcept {
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

}  // namespace

double planar_length_scaled(double dx, double dy) noexcept {
    if (std::isnan(dx) || std::isnan(dy)) return std::numeric_limits<double>::quiet_NaN();
    if (std::isinf(dx) || std::isinf(dy)) return kInfinity;
    return finite_length(dx, dy);
}

double planar_distance_scaled(double px, double py, double qx, double qy) noexcept {
    if (std::isnan(px) || std::isnan(py) || std::isnan(qx) || std::isnan(qy)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (!all_finite(px, py, qx, qy)) return kInfinity;
    const double dx = px - qx, dy = py - qy;
    // Finite coordinates whose difference overflows: halving every operand is exact at these
    // magnitudes (a subnormal that loses its last bit is nothing beside them).
    if (std::isinf(dx) || std::isinf(dy)) return 2.0 * finite_length(px * 0.5 - qx * 0.5, py * 0.5 - qy * 0.5);
    return finite_length(dx, dy);
}

bool Disc::holds_scaled(double px, double py) const noexcept {
    if (!all_finite(px, py, cx, cy) || !(r >= 0.0)) return false;
    double dx = px - cx, dy = py - cy, radius = r;
    if (std::isinf(dx) || std::isinf(dy)) {
        dx = px * 0.5 - cx * 0.5;
        dy = py * 0.5 - cy * 0.5;
        radius = r * 0.5;
    }
    if (dx == 0.0 && dy == 0.0) return true;
    const int e = common_exponent(dx, dy);
    const double sx = std::ldexp(dx, -e), sy = std::ldexp(dy, -e), sr = std::ldexp(radius, -e);
    // sr = +inf (an infinite radius) or a square of sr that overflows holds every finite point;
    // one that underflows holds none, as the scaled point lies at least 1 away.
    return sx * sx + sy * sy <= sr * sr;
}

SquareKey square_key_scaled(double gx, double gy, bool halved) noexcept {
    if (std::isnan(gx) || std::isnan(gy)) return {SquareKey::kBeyond, std::numeric_limits<double>::quiet_NaN()};
    if (std::isinf(gx) || std::isinf(gy)) return {SquareKey::kBeyond, kInfinity};
    if (gx == 0.0 && gy == 0.0) return {SquareKey::kZero, 0.0};
    // Both scaled gaps lie below 2, the larger at least 1: their sum lies in [1, 8), and a
    // quarter of it, exact, brings it into [1, 4) with one more power of four.
    const int e = common_exponent(gx, gy);
    const double sx = std::ldexp(gx, -e), sy = std::ldexp(gy, -e);
    double sum = sx * sx + sy * sy;
    int scale = e + (halved ? 1 : 0);
    if (sum >= 4.0) {
        sum *= 0.25;
        ++scale;
    }
    return {scale, sum};
}

SquareKey square_key_between_scaled(double px, double py, double x, double y) noexcept {
    const double dx = px - x, dy = py - y;
    if (!all_finite(px, py, x, y)) return {SquareKey::kBeyond, dx * dx + dy * dy};
    // Finite coordinates whose difference overflows: halved as in planar_distance_scaled.
    if (std::isinf(dx) || std::isinf(dy)) return square_key_scaled(px * 0.5 - x * 0.5, py * 0.5 - y * 0.5, true);
    return square_key_scaled(dx, dy, false);
}

}  // namespace vardelin
