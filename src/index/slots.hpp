#pragma once
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>

#include "core/error.hpp"
#include "core/numeric.hpp"
#include "index/brute.hpp"
#include "index/grid.hpp"
#include "index/kdtree.hpp"
#include "index/kind.hpp"
#include "index/rtree.hpp"

namespace vardelin {

// f(std::type_identity<Index>{}) with the index type of `kind`: the one place a kind becomes a
// type, for code that builds an index as well as for code that searches one.
template <class F>
decltype(auto) with_index_type(IndexKind kind, F&& f) {
    switch (kind) {
        case IndexKind::BruteForce: return f(std::type_identity<BruteForce>{});
        case IndexKind::RTree: return f(std::type_identity<PackedRTree>{});
        case IndexKind::KdTree: return f(std::type_identity<PackedKdTree>{});
        case IndexKind::Grid: return f(std::type_identity<UniformGrid>{});
    }
    throw InternalError("unknown index kind");
}

// The four index slots of a dataset, each empty or holding one immutable index. Searches reach
// an index only through `visit`, which hands its concrete type to a template kernel, so a
// kernel is written once and compiled per index type without a switch of its own.
class IndexSlots {
public:
    bool built(IndexKind kind) const noexcept {
        return with_index_type(kind, [&]<class Index>(std::type_identity<Index>) { return get<Index>() != nullptr; });
    }

    BuiltKinds built_kinds() const noexcept {
        return {built(IndexKind::BruteForce), built(IndexKind::RTree), built(IndexKind::KdTree),
                built(IndexKind::Grid)};
    }

    // f(const Index&) for the index in the slot of `kind`. Callers visit only what they have
    // planned and built; an empty slot is a broken invariant, never a null read.
    template <class F>
    decltype(auto) visit(IndexKind kind, F&& f) const {
        return with_index_type(kind, [&]<class Index>(std::type_identity<Index>) -> decltype(auto) {
            return f(filled<Index>(kind));
        });
    }

    // The same for the searches over polygon parts, whose kernels exist for the two indexes of
    // one box per part: the brute-force boxes and the R-tree. The k-d tree and the grid of a
    // polygon dataset hold its vertices; the planner never serves a part search from them
    // (serving_kind), so being handed one is a broken invariant.
    template <class F>
    decltype(auto) visit_parts(IndexKind kind, F&& f) const {
        switch (kind) {
            case IndexKind::BruteForce: return f(filled<BruteForce>(kind));
            case IndexKind::RTree: return f(filled<PackedRTree>(kind));
            case IndexKind::KdTree:
            case IndexKind::Grid: break;
        }
        throw InternalError(std::string("part search on an index of vertices: ") + name_of(kind));
    }

    // The index in a slot, null when it is empty: for reports and tests, not for searches.
    template <class Index>
    const Index* get() const noexcept {
        return slot<Index>().get();
    }

    template <class Index>
    void fill(Index&& index) {
        slot<std::decay_t<Index>>() = std::make_shared<const std::decay_t<Index>>(std::forward<Index>(index));
    }

    // Drops every index: a merge changes the arrays they were built over.
    void clear() noexcept { *this = IndexSlots{}; }

    // Heap bytes of every built index, in kind order.
    u64 bytes() const {
        u64 total = 0;
        for (const IndexKind kind : {IndexKind::BruteForce, IndexKind::RTree, IndexKind::KdTree, IndexKind::Grid}) {
            if (built(kind)) total = sat_add(total, visit(kind, [](const auto& index) { return u64{index.bytes()}; }));
        }
        return total;
    }

private:
    template <class Index>
    const Index& filled(IndexKind kind) const {
        const Index* index = get<Index>();
        if (!index) throw InternalError(std::string("search on an index that was not built: ") + name_of(kind));
        return *index;
    }

    template <class Index>
    std::shared_ptr<const Index>& slot() noexcept {
        return std::get<std::shared_ptr<const Index>>(slots_);
    }
    template <class Index>
    const std::shared_ptr<const Index>& slot() const noexcept {
        return std::get<std::shared_ptr<const Index>>(slots_);
    }

    std::tuple<std::shared_ptr<const BruteForce>, std::shared_ptr<const PackedRTree>,
               std::shared_ptr<const PackedKdTree>, std::shared_ptr<const UniformGrid>>
        slots_;
};

}  // namespace vardelin
