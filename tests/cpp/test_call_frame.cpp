// The core half of the call frame that Python cannot reach: the index slots and the paired spans.
#include <gtest/gtest.h>

#include "core/error.hpp"
#include "engine/call_frame.hpp"
#include "engine/construction.hpp"
#include "index_oracle.hpp"

using namespace vardelin;

namespace {

Engine points(std::size_t n) {
    const auto pts = oracle::make_points("uniform", n, 3);
    return engine_from_points({view(pts.xs), view(pts.ys)});
}

}  // namespace

TEST(IndexSlots, VisitHandsTheConcreteTypeAndRefusesAnEmptySlot) {
    Engine e = points(100);
    EXPECT_THROW(e.indexes.visit(IndexKind::RTree, [](const auto&) {}), InternalError);
    build_index_if_needed(e, IndexKind::RTree);
    const bool rtree = e.indexes.visit(IndexKind::RTree, [](const auto& index) {
        return std::is_same_v<std::decay_t<decltype(index)>, PackedRTree>;
    });
    EXPECT_TRUE(rtree);
    EXPECT_EQ(e.indexes.built_kinds(), (BuiltKinds{false, true, false, false}));
    EXPECT_EQ(index_bytes(e), e.indexes.get<PackedRTree>()->bytes());
    e.indexes.clear();
    EXPECT_EQ(index_bytes(e), 0u);
}

TEST(PointSpans, PairsOnlyEqualLengths) {
    const std::vector<double> three(3), two(2);
    EXPECT_EQ(PointSpans(three, three).size(), 3u);
    EXPECT_THROW(PointSpans(three, two), InternalError);
}
