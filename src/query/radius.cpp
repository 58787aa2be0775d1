#include "query/radius.hpp"

#include "core/parallel.hpp"

namespace vardelin {

namespace {

// Below these counts one thread finishes before the pool would have started: a planar test
// costs about a nanosecond, a haversine one a few tens.
constexpr std::size_t kSerialPlanar = std::size_t{1} << 16;
constexpr std::size_t kSerialHaversine = std::size_t{1} << 11;
constexpr std::size_t kChunk = std::size_t{1} << 12;

// Every candidate's id is written and the count advances by its test: the outcome of a test
// is not predictable, and a branch on it would cost more than the test.
template <class Keep>
std::vector<u64> keep_range(const std::vector<PointHit>& candidates, std::size_t b, std::size_t e, const Keep& keep) {
    std::vector<u64> kept(e - b);
    std::size_t k = 0;
    for (std::size_t i = b; i < e; ++i) {
        kept[k] = candidates[i].id;
        k += std::size_t{keep(candidates[i].x, candidates[i].y)};
    }
    kept.resize(k);
    return kept;
}

template <class Keep>
std::vector<u64> filter(const std::vector<PointHit>& candidates, std::size_t serial_limit, const Keep& keep) {
    if (candidates.size() < serial_limit) return keep_range(candidates, 0, candidates.size(), keep);
    return concat_ordered(map_chunks(candidates.size(), kChunk, [&](std::size_t, std::size_t b, std::size_t e) {
        return keep_range(candidates, b, e, keep);
    }));
}

}  // namespace

std::vector<u64> par_radius(const std::vector<PointHit>& candidates, const RadiusTest& test, const Box& search) {
    std::vector<u64> kept;
    test.keep_over(search, [&](const auto& keep) {
        kept = filter(candidates, test.geographic ? kSerialHaversine : kSerialPlanar, keep);
    });
    return kept;
}

}  // namespace vardelin
