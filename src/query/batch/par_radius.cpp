#include "query/batch/par_radius.hpp"

#include "core/error.hpp"
#include "core/parallel.hpp"

namespace vardelin {

namespace {

// Below these counts one thread finishes before the pool would have started: a planar test
// costs about a nanosecond, a haversine one a few tens.
constexpr std::size_t kSerialPlanar = std::size_t{1} << 16;
constexpr std::size_t kSerialHaversine = std::size_t{1} << 11;
constexpr std::size_t kChunk = std::size_t{1} << 12;

template <class Keep>
std::vector<u64> filter(std::vector<u64> candidates, std::size_t serial_limit, const Keep& keep) {
    if (candidates.size() < serial_limit) {
        std::size_t kept = 0;
        for (const u64 id : candidates) {
            if (keep(id)) candidates[kept++] = id;
        }
        candidates.resize(kept);
        return candidates;
    }
    auto pieces = map_chunks(candidates.size(), kChunk, [&](std::size_t, std::size_t b, std::size_t e) {
        std::vector<u64> piece;
        for (std::size_t i = b; i < e; ++i) {
            if (keep(candidates[i])) piece.push_back(candidates[i]);
        }
        return piece;
    });
    return concat_ordered(std::move(pieces));
}

}  // namespace

std::vector<u64> par_radius(std::vector<u64> candidates, std::span<const double> xs, std::span<const double> ys,
                            const RadiusTest& test) {
    const std::size_t n = std::min(xs.size(), ys.size());
    for (const u64 id : candidates) {
        if (id >= n) throw InternalError("radius candidate beyond the coordinate arrays");
    }
    if (test.geographic) {
        return filter(std::move(candidates), kSerialHaversine,
                      [&](u64 id) { return test.keeps_haversine(xs[id], ys[id]); });
    }
    return filter(std::move(candidates), kSerialPlanar, [&](u64 id) { return test.keeps_planar(xs[id], ys[id]); });
}

}  // namespace vardelin
