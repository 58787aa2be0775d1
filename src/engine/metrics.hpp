#pragma once
#include <array>
#include <cstdint>
#include <optional>

#include "core/numeric.hpp"
#include "index/kind.hpp"

namespace vardelin {

// The metered operations, one metrics row each, in report order: X(enumerator, name).
#define VARDELIN_OPERATIONS(X)                                                                      \
    X(Knn, knn)                                                                                     \
    X(RangeQuery, range_query)                                                                      \
    X(RadiusQuery, radius_query)                                                                    \
    X(ContainsQuery, contains_query)                                                                \
    X(BatchKnnJoin, batch_knn_join)                                                                 \
    X(BatchWithinDistance, batch_within_distance)                                                   \
    X(BatchContains, batch_contains)                                                                \
    X(BatchWithinDistanceToPolygons, batch_within_distance_to_polygons)                             \
    X(BatchContainsAggregate, batch_contains_aggregate)                                             \
    X(BatchWithinDistanceToPolygonsAggregate, batch_within_distance_to_polygons_aggregate)          \
    X(BatchKnnToPolygons, batch_knn_to_polygons)                                                    \
    X(BatchKnnToPolygonsSorted, batch_knn_to_polygons_sorted)                                       \
    X(PolygonIntersectsSelfJoin, polygon_intersects_self_join)                                      \
    X(PointsWithinDistanceOfPolygon, points_within_distance_of_polygon)

enum class Operation : std::uint8_t {
#define VARDELIN_OPERATION_ENUMERATOR(id, name) id,
    VARDELIN_OPERATIONS(VARDELIN_OPERATION_ENUMERATOR)
#undef VARDELIN_OPERATION_ENUMERATOR
};

// The name of each row, which is the name of the method that records it.
inline constexpr std::array kOperationNames = {
#define VARDELIN_OPERATION_NAME(id, name) #name,
    VARDELIN_OPERATIONS(VARDELIN_OPERATION_NAME)
#undef VARDELIN_OPERATION_NAME
};

inline constexpr std::size_t kOperations = 0
#define VARDELIN_OPERATION_COUNT(id, name) +1
    VARDELIN_OPERATIONS(VARDELIN_OPERATION_COUNT);
#undef VARDELIN_OPERATION_COUNT
static_assert(kOperationNames.size() == kOperations, "one name per operation, in enumerator order");

constexpr const char* name_of(Operation op) noexcept { return kOperationNames[static_cast<std::size_t>(op)]; }

inline constexpr std::size_t kMetricColumns = 5;

inline constexpr std::array<const char*, kMetricColumns> kColumnNames = {"brute_force", "r_tree", "kd_tree",
                                                                         "grid", "none"};

struct OpStat {
    u64 calls = 0;
    u64 elapsed_compute_ns = 0;
    u64 output_rows = 0;
};

struct BuildStat {
    u64 build_count = 0;
    u64 elapsed_compute_ns = 0;

    void record(std::optional<u64> duration) noexcept {
        sat_add_to(build_count, 1);
        sat_add_to(elapsed_compute_ns, duration.value_or(0));
    }
};

struct EngineMetrics {
    std::array<BuildStat, kIndexKinds> index_builds{};
    std::array<std::array<OpStat, kMetricColumns>, kOperations> operations{};
    BuildStat prepared_polygons{};
    u64 wkb_decode_ns = 0;
    u64 statistics_ns = 0;

    // One metered call: its time less the index builds it triggered, which are counted as
    // builds instead. A clock that went backwards leaves the time unchanged.
    void record(Operation op, int column, std::optional<u64> duration, u64 build_ns, u64 rows) noexcept {
        OpStat& cell = operations[static_cast<std::size_t>(op)][static_cast<std::size_t>(column)];
        sat_add_to(cell.calls, 1);
        if (duration) sat_add_to(cell.elapsed_compute_ns, sat_sub(*duration, build_ns));
        sat_add_to(cell.output_rows, rows);
    }

    BuildStat& build_of(IndexKind kind) noexcept { return index_builds[static_cast<std::size_t>(kind)]; }

    // Hands back every counter and starts again from zero.
    EngineMetrics take() noexcept {
        EngineMetrics out = *this;
        *this = EngineMetrics{};
        return out;
    }
};

}  // namespace vardelin
