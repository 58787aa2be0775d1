#include "engine/query_frame.hpp"

#include "engine/delta.hpp"
#include "engine/delta_work.hpp"

namespace vardelin {

bool nothing_under(const Engine& engine, const Box& normalised) noexcept {
    if (!engine.delta_xs.empty() || engine.stats.kind != GeometryKind::Point || !engine.stats.histogram) {
        return false;
    }
    return !engine.stats.histogram->has_any_in_bbox(normalised);
}

void scan_delta_box(Engine& engine, IndexKind kind, const Box& raw, std::vector<u64>& hits) {
    if (engine.delta_xs.empty()) return;
    const std::vector<u32> found = delta_range(engine, raw.min_x, raw.min_y, raw.max_x, raw.max_y);
    hits.insert(hits.end(), found.begin(), found.end());
    add_delta_work(engine, kind, engine.delta_xs.size());
}

}  // namespace vardelin
