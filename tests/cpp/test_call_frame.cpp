// The core half of the call frame: what the joins rely on and Python cannot reach yet.
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

const OpStat& cell(const Engine& e, Operation op, int column) {
    return e.metrics.operations[static_cast<std::size_t>(op)][static_cast<std::size_t>(column)];
}

}  // namespace

TEST(MeteredCall, RecordsOnceInThePlannedColumn) {
    Engine e = points(2000);
    Metered<std::vector<u32>> m{MeteredCall(e, Operation::BatchContains), {1, 2, 3, 4}, 2};
    EXPECT_EQ(m.call.build(IndexKind::Grid).served, IndexKind::Grid);
    EXPECT_EQ(e.metrics.build_of(IndexKind::Grid).build_count, 1u);
    m.call.record(m.rows);
    m.call.record(99);  // a second record of the same call is ignored
    const OpStat& c = cell(e, Operation::BatchContains, column_of(IndexKind::Grid));
    EXPECT_EQ(c.calls, 1u);
    EXPECT_EQ(c.output_rows, 2u);
    // Without a plan a call counts under "none"; one that never records leaves no trace.
    MeteredCall(e, Operation::Knn).record(0);
    { const MeteredCall dropped(e, Operation::RangeQuery); }
    EXPECT_EQ(cell(e, Operation::Knn, kNoIndexColumn).calls, 1u);
    EXPECT_EQ(cell(e, Operation::RangeQuery, kNoIndexColumn).calls, 0u);
}

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
