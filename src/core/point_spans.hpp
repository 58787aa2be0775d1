#pragma once
#include <cstddef>
#include <span>

#include "core/error.hpp"

namespace vardelin {

// Two coordinate arrays of one length: the pair is checked once where it is made, so that
// every reader indexes both arrays by one count instead of guarding each loop with the
// shorter length. Query arrays from Python are paired after their user-facing length check,
// so a mismatch here is a broken internal invariant.
class PointSpans {
public:
    PointSpans() = default;
    PointSpans(std::span<const double> xs, std::span<const double> ys) : xs_(xs), ys_(ys) {
        if (xs.size() != ys.size()) throw InternalError("paired coordinate arrays differ in length");
    }

    std::span<const double> xs() const noexcept { return xs_; }
    std::span<const double> ys() const noexcept { return ys_; }
    std::size_t size() const noexcept { return xs_.size(); }
    bool empty() const noexcept { return xs_.empty(); }
    double x(std::size_t i) const noexcept { return xs_[i]; }
    double y(std::size_t i) const noexcept { return ys_[i]; }

private:
    std::span<const double> xs_;
    std::span<const double> ys_;
};

}  // namespace vardelin
