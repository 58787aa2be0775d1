// Core helpers where Python reaches only part of the range: number formats at their borders,
// quoting of bytes no Python string holds, the id sort at every width, the squared form's
// range test on every class of double, a core caller's unequal arrays, and the parallel
// concatenation at its block borders.
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "core/float_format.hpp"
#include "core/parallel.hpp"
#include "core/quote.hpp"
#include "core/radix_sort.hpp"
#include "core/squares.hpp"
#include "query/distances.hpp"

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

TEST(SortIds, MatchesComparisonSortAtEveryWidth) {
    std::mt19937_64 gen(42);
    // Widths that end mid-digit, on a digit boundary and at the full 64 bits; sizes on both
    // sides of the short-list cut-over.
    for (const unsigned bits : {1u, 11u, 22u, 23u, 33u, 63u, 64u}) {
        for (const std::size_t n : {0u, 5u, 1023u, 1024u, 70000u}) {
            std::vector<u64> ids(n);
            for (u64& v : ids) v = bits == 64 ? gen() : gen() & ((u64{1} << bits) - 1);
            std::vector<u64> expected = ids;
            std::sort(expected.begin(), expected.end());
            sort_ids(ids);
            EXPECT_EQ(ids, expected) << bits << " bits, " << n << " ids";
        }
    }
}

// The range test of the squared form compares bit patterns; Python reaches its ends only
// through sums that land near them. Every class of double against the two comparisons it
// stands for: negative values and -0, NaN of either sign, infinities, subnormals and both ends
// with their neighbours.
TEST(SquaredForm, RangeTestIsTheTwoComparisons) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> values{0.0, -0.0, 5e-324, 1e-310, 1.0, 1e300, inf, -inf, nan, -nan, -1.0, -kSquaredLow};
    for (const double edge : {kSquaredLow, kSquaredHigh}) {
        values.insert(values.end(), {edge, std::nextafter(edge, 0.0), std::nextafter(edge, inf)});
    }
    std::mt19937_64 gen(7);
    for (int i = 0; i < 10000; ++i) values.push_back(std::bit_cast<double>(gen()));
    for (const double v : values) EXPECT_EQ(squared_form_holds(v), v >= kSquaredLow && v <= kSquaredHigh) << v;
}

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

// The delta merge copies in blocks of 2^16 whose borders fall anywhere against the end of the
// head: an empty or one-item head, heads ending one short of, at and past a block's end.
TEST(ParallelConcat, SplitsAcrossChunks) {
    for (const std::size_t head_n : {std::size_t{0}, std::size_t{1}, std::size_t{65535}, std::size_t{65536},
                                     std::size_t{65537}, std::size_t{200000}}) {
        for (const std::size_t tail_n : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{70000}}) {
            std::vector<double> head(head_n), tail(tail_n);
            for (std::size_t i = 0; i < head_n; ++i) head[i] = static_cast<double>(i) + 1.0;
            for (std::size_t i = 0; i < tail_n; ++i) tail[i] = -static_cast<double>(i) - 1.0;
            const auto out = parallel_concat<double>(head, tail);
            ASSERT_EQ(out.size(), head_n + tail_n);
            for (std::size_t i = 0; i < out.size(); ++i) {
                ASSERT_EQ(out[i], i < head_n ? head[i] : tail[i - head_n]) << head_n << " " << tail_n << " " << i;
            }
        }
    }
}
