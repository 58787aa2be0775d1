#include <string>
#include <variant>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "planner/cost_factors.hpp"

using namespace vardelin;

namespace {
std::string error_of(const std::string& text) {
    auto r = parse_cost_profile(text);
    return std::holds_alternative<std::string>(r) ? std::get<std::string>(r) : std::string();
}
std::string profile(const std::string& values) { return R"({"cost_factors": [)" + values + "]}"; }
}  // namespace

TEST(CostProfile, FormsAndMessages) {
    EXPECT_EQ(std::string(kBundledCostProfile).size(), 388u);
    // Keys are matched by name, not position: the document lists them in another order.
    EXPECT_EQ(CostFactors::defaults().knn_scan_ns_per_item, 5.348615);
    EXPECT_EQ(CostFactors::defaults().rtree_knn_ns, 160.298859);
    auto r = parse_cost_profile(R"({"cost_factors": [1,2,3,4,5,6,7,8,9,10], "other": {"x": 1}})");
    ASSERT_TRUE(std::holds_alternative<CostFactors>(r));
    EXPECT_EQ(std::get<CostFactors>(r).knn_scan_ns_per_item, 1.0);
    EXPECT_EQ(std::get<CostFactors>(r).grid_range_ns, 10.0);
    // A positive subnormal is greater than zero.
    EXPECT_EQ(error_of(profile("1,2,3,4,5e-320,6,7,8,9,10")), "");

    std::string missing = kBundledCostProfile;
    missing.replace(missing.find("\"rtree_knn_ns\""), 14, "\"other_name\"");
    const std::pair<std::string, std::string> exact[] = {
        {missing, "invalid cost profile: missing field `rtree_knn_ns`"},
        {R"({"cost_factors": [1,2,3,4,5,6,7,8,9,10], "cost_factors": [1,2,3,4,5,6,7,8,9,10]})",
         "invalid cost profile: duplicate field `cost_factors`"},
        {"{}", "invalid cost profile: missing field `cost_factors`"},
        {profile("1,2,3,4,0,6,7,8,9,10"), "cost profile values must be finite and greater than zero"},
        {profile("1,2,3,4,-0.0,6,7,8,9,10"), "cost profile values must be finite and greater than zero"},
    };
    for (const auto& [text, message] : exact) EXPECT_EQ(error_of(text), message) << text;
    const std::pair<std::string, std::string> containing[] = {
        {profile("1,2,3,4,5,6,7,8,9"), "struct CostFactors with 10 elements"},
        {profile("1,2,3,4,5,6,7,8,9,10,11"), "trailing characters"},
    };
    for (const auto& [text, part] : containing) EXPECT_NE(error_of(text).find(part), std::string::npos) << text;
    for (const std::string& text : {std::string("{\"cost_factors\": 3}"), profile("1,2,3,4,5,6,7,8,9,10") + " x"}) {
        EXPECT_EQ(error_of(text).rfind("invalid cost profile: ", 0), 0u) << text;
    }

    const double nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_THROW(CostFactors::from_values(nine), Error);
}
