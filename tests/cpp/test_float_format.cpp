#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "core/float_format.hpp"
#include "core/quote.hpp"

using namespace vardelin;

// The Python tests compare whole summaries with Python's own formatting over random floats;
// these are the borders that random floats rarely hit: a rounding carry into the exponent, the
// switches between plain and exponent notation, signed zero and subnormals, NaN.
TEST(FloatFormat, CarriesSwitchesAndSpecialValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<double, std::string> sci3[] = {
        {9.99951, "1.000e1"}, {0, "0.000e0"}, {-4.5e-310, "-4.500e-310"}, {nan, "NaN"}};
    for (const auto& [v, text] : sci3) EXPECT_EQ(format_sci3(v), text) << text;
    const std::pair<double, std::string> shortest[] = {
        {-0.0, "-0.0"},     {1e-4, "0.0001"}, {9.9e-5, "9.9e-5"}, {9999999999999998.0, "9999999999999998.0"},
        {1e16, "1e16"},     {5e-324, "5e-324"}, {-1.2345678901234568e17, "-1.2345678901234568e17"},
        {nan, "NaN"}};
    for (const auto& [v, text] : shortest) EXPECT_EQ(format_shortest(v), text) << text;
}

// Python strings are always valid UTF-8; the byte-level cases are reachable only from here.
TEST(DebugQuoted, EscapesWhatWouldNotShow) {
    EXPECT_EQ(debug_quoted("\x01\x7f"), "\"\\u{1}\\u{7f}\"");
    EXPECT_EQ(debug_quoted("\xc2\xa0"), "\"\\u{a0}\"");  // no-break space
    EXPECT_EQ(debug_quoted("\xef\xbf\xbd\xff"), "\"\xef\xbf\xbd\\u{fffd}\"");
    EXPECT_EQ(debug_quoted("\xe2\x82"), "\"\\u{fffd}\\u{fffd}\"");  // truncated sequence
    EXPECT_EQ(debug_quoted("\xf0\x9f\x98\x80"), "\"\xf0\x9f\x98\x80\"");
}
