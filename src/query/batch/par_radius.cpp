#include "query/batch/par_radius.hpp"

#include "core/parallel.hpp"

namespace vardelin {

namespace {

// Below these counts one thread finishes before the pool would have started: a planar test
// costs about a nanosecond, a haversine one a few tens.
constexpr std::size_t kSerialPlanar = std::size_t{1} << 16;
constexpr std::size_t kSerialHaversine = std::size_t{1} << 11;
constexpr std::size_t kChunk = std::size_t{1} << 12;

template <class Keep>
std::vector<u64> filter(const std::vector<PointHit>& candidates, std::size_t serial_limit, const Keep& keep) {
    const auto keep_range = [&](std::size_t b, std::size_t e) {
        std::vector<u64> kept;
        for (std::size_t i = b; i < e; ++i) {
            const PointHit& c = candidates[i];
            if (keep(c.x, c.y)) kept.push_back(c.id);
        }
        return kept;
    };
    if (candidates.size() < serial_limit) return keep_range(0, candidates.size());
    return concat_ordered(map_chunks(candidates.size(), kChunk,
                                     [&](std::size_t, std::size_t b, std::size_t e) { return keep_range(b, e); }));
}

}  // namespace

std::vector<u64> par_radius(const std::vector<PointHit>& candidates, const RadiusTest& test) {
    if (test.geographic) {
        return filter(candidates, kSerialHaversine, [&](double x, double y) { return test.keeps_haversine(x, y); });
    }
    return filter(candidates, kSerialPlanar, [&](double x, double y) { return test.keeps_planar(x, y); });
}

}  // namespace vardelin
