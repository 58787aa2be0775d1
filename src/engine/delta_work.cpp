#include "engine/delta_work.hpp"

#include <cmath>

#include "engine/delta.hpp"

namespace vardelin {

std::optional<u64> delta_work_threshold(IndexKind kind, u64 main_length) noexcept {
    switch (kind) {
        case IndexKind::BruteForce: break;
        case IndexKind::RTree:
        case IndexKind::KdTree: {
            // A tree rebuild costs about n log n; below two points it never pays.
            if (main_length < 2) break;
            const u64 depth = saturating_cast<u64>(std::ceil(std::log2(static_cast<double>(main_length))));
            return sat_mul(main_length, depth);
        }
        case IndexKind::Grid: return main_length;
    }
    return std::nullopt;
}

bool add_delta_work(Engine& engine, IndexKind kind, u64 work) {
    sat_add_to(engine.delta_scan_work, work);
    const auto threshold = delta_work_threshold(kind, engine.x().size());
    if (!threshold || engine.delta_scan_work < *threshold) return false;
    merge_delta(engine);
    return true;
}

}  // namespace vardelin
