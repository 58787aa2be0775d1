#include <limits>

#include <gtest/gtest.h>

#include "core/float_format.hpp"

using namespace vardelin;

TEST(FloatFormat, ScientificWithThreeDigits) {
    EXPECT_EQ(format_sci3(1.5), "1.500e0");
    EXPECT_EQ(format_sci3(250), "2.500e2");
    EXPECT_EQ(format_sci3(0.00012), "1.200e-4");
    EXPECT_EQ(format_sci3(0), "0.000e0");
    EXPECT_EQ(format_sci3(1e300), "1.000e300");
    EXPECT_EQ(format_sci3(9.99951), "1.000e1");
    EXPECT_EQ(format_sci3(-4.5e-310), "-4.500e-310");
    EXPECT_EQ(format_sci3(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(format_sci3(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(format_sci3(std::numeric_limits<double>::quiet_NaN()), "NaN");
}

TEST(FloatFormat, ShortestRoundTrip) {
    EXPECT_EQ(format_shortest(1), "1.0");
    EXPECT_EQ(format_shortest(-2.5), "-2.5");
    EXPECT_EQ(format_shortest(0), "0.0");
    EXPECT_EQ(format_shortest(-0.0), "-0.0");
    EXPECT_EQ(format_shortest(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(format_shortest(1e-4), "0.0001");
    EXPECT_EQ(format_shortest(9.9e-5), "9.9e-5");
    EXPECT_EQ(format_shortest(1.5e-5), "1.5e-5");
    EXPECT_EQ(format_shortest(1e15), "1000000000000000.0");
    EXPECT_EQ(format_shortest(9999999999999998.0), "9999999999999998.0");
    EXPECT_EQ(format_shortest(1e16), "1e16");
    EXPECT_EQ(format_shortest(-1.2345678901234568e17), "-1.2345678901234568e17");
    EXPECT_EQ(format_shortest(5e-324), "5e-324");
    EXPECT_EQ(format_shortest(1.7976931348623157e308), "1.7976931348623157e308");
    EXPECT_EQ(format_shortest(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(format_shortest(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(format_shortest(std::numeric_limits<double>::quiet_NaN()), "NaN");
}
