#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "query/distances.hpp"

namespace vardelin {

// The binding layer checks lengths with its own messages; a core caller that forgets must
// get an error, never a read past the shorter array.
TEST(Distances, UnequalSpansAreRefusedNotRead) {
    const std::vector<double> three{1, 2, 3};
    const std::vector<double> two{1, 2};
    EXPECT_THROW(euclidean_distance(three, three, three, two), InternalError);
    EXPECT_THROW(haversine_distance(three, two, three, three), InternalError);
    EXPECT_THROW(euclidean_distance_to(two, three, 0.0, 0.0), InternalError);
    EXPECT_THROW(haversine_distance_to(three, two, 0.0, 0.0), InternalError);
    EXPECT_EQ(haversine_distance_to(three, three, 0.0, 0.0).size(), 3u);
}

}  // namespace vardelin
