#pragma once
#include <span>

#include "core/numeric.hpp"
#include "core/shared_array.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// Collects point batches and turns them into one dataset, paying for the statistics once.
// Finishing hands the arrays over; a finished builder refuses everything after.
class PointBuilder {
public:
    // Fails before appending anything: finished builder, then the row limit over the points
    // already held plus the batch.
    void append(std::span<const double> xs, std::span<const double> ys, u64 wkb_decode_ns);

    // The dataset of every batch in append order, its decode time the sum of the batches'.
    Engine finish();

private:
    void require_open() const;

    Buffer<double> xs_;
    Buffer<double> ys_;
    u64 wkb_decode_ns_ = 0;
    bool finished_ = false;
};

}  // namespace vardelin
