#include "engine/point_builder.hpp"

#include <utility>

#include "core/append.hpp"
#include "core/error.hpp"
#include "core/row_limit.hpp"

namespace vardelin {

void PointBuilder::require_open() const {
    if (finished_) throw Error("point builder is already finished");
}

void PointBuilder::append(std::span<const double> xs, std::span<const double> ys, u64 wkb_decode_ns) {
    require_open();
    if (xs.size() != ys.size()) throw InternalError("PointBuilder::append: xs and ys differ in length");
    ensure_u32_indexable(sat_add(xs_.size(), xs.size()), "point dataset");
    append_pair(xs_, ys_, xs, ys);
    sat_add_to(wkb_decode_ns_, wkb_decode_ns);
}

Engine PointBuilder::finish() {
    require_open();
    finished_ = true;
    auto xs = make_shared_array(std::exchange(xs_, {}));
    auto ys = make_shared_array(std::exchange(ys_, {}));
    Engine engine = new_points(std::move(xs), std::move(ys));
    engine.metrics.wkb_decode_ns = wkb_decode_ns_;
    return engine;
}

}  // namespace vardelin
