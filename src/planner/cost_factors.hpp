#pragma once
#include <array>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace vardelin {

// Unit costs in nanoseconds that price scans and index work; the field order is also the
// order of the values accepted from Python and of a profile's array form.
struct CostFactors {
    double knn_scan_ns_per_item = 0;
    double bbox_scan_ns_per_item = 0;
    double grid_build_ns_per_item = 0;
    double kdtree_build_ns_per_item = 0;
    double rtree_build_ns_per_item = 0;
    double kdtree_knn_ns = 0;
    double kdtree_range_ns = 0;
    double rtree_knn_ns = 0;
    double rtree_range_ns = 0;
    double grid_range_ns = 0;

    static constexpr std::size_t kCount = 10;
    static constexpr std::array<std::string_view, kCount> kNames = {
        "knn_scan_ns_per_item", "bbox_scan_ns_per_item", "grid_build_ns_per_item",
        "kdtree_build_ns_per_item", "rtree_build_ns_per_item", "kdtree_knn_ns",
        "kdtree_range_ns", "rtree_knn_ns", "rtree_range_ns", "grid_range_ns"};

    // Copy of the process-wide default, parsed from the bundled profile on first use.
    static CostFactors defaults();

    // Throws Error with the fixed messages; the factors are replaced only when all ten pass.
    static CostFactors from_values(std::span<const double> values);

    double& operator[](std::size_t i) noexcept;
};

// Either the factors or the error message.
std::variant<CostFactors, std::string> parse_cost_profile(std::string_view text);

extern const char* const kBundledCostProfile;

}  // namespace vardelin
