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
const std::string kTen = "[1,2,3,4,5,6,7,8,9,10]";
}  // namespace

TEST(CostProfile, BundledDefaults) {
    const CostFactors f = CostFactors::defaults();
    EXPECT_EQ(f.knn_scan_ns_per_item, 5.348615);
    EXPECT_EQ(f.rtree_knn_ns, 160.298859);
    EXPECT_EQ(f.grid_range_ns, 23.314552);
    EXPECT_EQ(std::string(kBundledCostProfile).size(), 388u);
}

TEST(CostProfile, ArrayAndObjectForms) {
    auto r = parse_cost_profile(R"({"cost_factors": )" + kTen + R"(, "other": {"x": 1}})");
    ASSERT_TRUE(std::holds_alternative<CostFactors>(r));
    EXPECT_EQ(std::get<CostFactors>(r).knn_scan_ns_per_item, 1.0);
    EXPECT_EQ(std::get<CostFactors>(r).grid_range_ns, 10.0);

    EXPECT_NE(error_of(R"({"cost_factors": [1,2,3,4,5,6,7,8,9]})").find("struct CostFactors with 10 elements"),
              std::string::npos);
    EXPECT_NE(error_of(R"({"cost_factors": [1,2,3,4,5,6,7,8,9,10,11]})").find("trailing characters"),
              std::string::npos);
    std::string missing = kBundledCostProfile;
    missing.replace(missing.find("\"rtree_knn_ns\""), 14, "\"other_name\"");
    EXPECT_EQ(error_of(missing), "invalid cost profile: missing field `rtree_knn_ns`");
    EXPECT_EQ(error_of(R"({"cost_factors": [1,2,3,4,5,6,7,8,9,10], "cost_factors": [1,2,3,4,5,6,7,8,9,10]})"),
              "invalid cost profile: duplicate field `cost_factors`");
    EXPECT_EQ(error_of("{}"), "invalid cost profile: missing field `cost_factors`");
    EXPECT_EQ(error_of("{\"cost_factors\": 3}").rfind("invalid cost profile: ", 0), 0u);
    EXPECT_EQ(error_of(R"({"cost_factors": [1,2,3,4,5,6,7,8,9,10]} x)").rfind("invalid cost profile: ", 0), 0u);
}

TEST(CostProfile, RefusesNonPositiveAndNonFinite) {
    EXPECT_EQ(error_of(R"({"cost_factors": [1,2,3,4,0,6,7,8,9,10]})"),
              "cost profile values must be finite and greater than zero");
    EXPECT_EQ(error_of(R"({"cost_factors": [1,2,3,4,-0.0,6,7,8,9,10]})"),
              "cost profile values must be finite and greater than zero");
    EXPECT_TRUE(std::holds_alternative<CostFactors>(
        parse_cost_profile(R"({"cost_factors": [1,2,3,4,5e-320,6,7,8,9,10]})")));
    const double nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_THROW(CostFactors::from_values(nine), Error);
}
