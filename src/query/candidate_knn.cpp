#include "query/candidate_knn.hpp"

#include <algorithm>
#include <string>

#include "core/error.hpp"

namespace vardelin {

namespace {

struct Ranked {
    double d2;
    u64 row;
};

}  // namespace

std::vector<u64> knn_indices_from_candidates(const PointSpans& points, u64 k, std::span<const u32> candidates,
                                             double x, double y) {
    const std::span<const double> xs = points.xs(), ys = points.ys();
    const std::size_t rows = points.size();
    for (const u32 c : candidates) {
        if (c >= rows) {
            throw Error("candidate " + std::to_string(c) + " is out of bounds for " + std::to_string(rows) + " rows");
        }
    }
    if (k == 0 || candidates.empty()) return {};

    std::vector<Ranked> pairs;
    pairs.reserve(candidates.size());
    for (const u32 c : candidates) {
        const double dy = ys[c] - y;
        const double dx = xs[c] - x;
        pairs.push_back({dy * dy + dx * dx, c});
    }
    const auto closer = [](const Ranked& a, const Ranked& b) { return nan_last_less(a.d2, b.d2); };
    const std::size_t m = static_cast<std::size_t>(std::min<u64>(k, pairs.size()));
    if (m < pairs.size()) {
        std::nth_element(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(m - 1), pairs.end(), closer);
    }
    std::sort(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(m), closer);

    std::vector<u64> out(m);
    for (std::size_t i = 0; i < m; ++i) out[i] = pairs[i].row;
    return out;
}

}  // namespace vardelin
