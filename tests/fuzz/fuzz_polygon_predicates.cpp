// Arbitrary polygon layouts, valid or not, through the raw predicates and the prepared bands:
// nothing may read out of bounds, and a broken layout may only raise InternalError.
#include <cstdint>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "core/error.hpp"
#include "query/geometry/part_contains_point.hpp"
#include "query/geometry/part_meets_box.hpp"
#include "query/geometry/prepared_polygons.hpp"

using namespace vardelin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::size_t coords = in.ConsumeIntegralInRange<std::size_t>(0, 64);
    std::vector<double> xs, ys;
    for (std::size_t i = 0; i < coords; ++i) {
        xs.push_back(in.ConsumeFloatingPoint<double>());
        ys.push_back(in.ConsumeFloatingPoint<double>());
    }
    auto offsets = [&](std::size_t max_len, i64 lo, i64 hi) {
        std::vector<i64> v(in.ConsumeIntegralInRange<std::size_t>(0, max_len));
        for (auto& o : v) o = in.ConsumeIntegralInRange<i64>(lo, hi);
        return v;
    };
    const std::vector<i64> rings = offsets(12, -1, static_cast<i64>(coords) + 1);
    const std::vector<i64> parts = offsets(6, -1, static_cast<i64>(rings.size()) + 1);
    const std::vector<std::uint8_t> banded(parts.size() < 2 ? 0 : parts.size() - 1, 1);
    const PreparedPolygons prepared(banded);
    const PolygonLayout layout(xs, ys, rings, parts);
    while (in.remaining_bytes() > 0) {
        const u64 part = in.ConsumeIntegralInRange<u64>(0, parts.size());
        const double x = in.ConsumeFloatingPoint<double>(), y = in.ConsumeFloatingPoint<double>();
        try {
            (void)part_contains_point(layout, part, x, y);
            (void)part_meets_box(layout, part, Box{x, y, x + 1.0, y + 1.0});
            (void)prepared.contains(part, layout, x, y);
        } catch (const InternalError&) {
        }
    }
    return 0;
}
