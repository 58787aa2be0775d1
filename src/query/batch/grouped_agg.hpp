#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/numeric.hpp"

namespace vardelin {

// The value columns an aggregate join folds, aligned with its query rows: value j of row q
// counts when validity[j][q] is non-zero, and an invalid value is never read.
struct AggColumns {
    std::vector<std::span<const double>> values;
    std::vector<std::span<const std::uint8_t>> validity;

    std::size_t size() const noexcept { return values.size(); }
    // The binding layer checks the caller's columns with its own messages; reaching a kernel
    // with fewer entries than rows would read past the arrays, so it is refused here as well.
    void require_rows(u64 rows) const;
};

// What an aggregate join returns: the groups with at least one match, ascending, and their
// figures; sums and valid counts column-major over those groups (entry j * K + k).
struct CompactAgg {
    std::vector<u32> ids;
    std::vector<u64> counts;
    std::vector<double> sums;
    std::vector<u64> valid_counts;
};

// Per group a match count and, per value column, the sum and the number of the valid values
// of the matching rows. Column-major: column j of group g is entry j * n_groups + g.
struct GroupedAgg {
    std::vector<u64> counts;
    std::vector<double> sums;
    std::vector<u64> valid_counts;
    u64 n_groups = 0;

    GroupedAgg() = default;
    // A zeroed state. Its size is checked before anything is filled: a state of millions of
    // groups times many columns can exceed the machine, and must fail as an allocation.
    GroupedAgg(u64 groups, u64 columns);

    // groups * (16 * columns + 8): per group the count and, per column, a sum and a count.
    // std::bad_alloc when the product does not fit in 64 bits.
    static u64 state_bytes(u64 groups, u64 columns);

    // What an aggregate join holds at its peak: the state, and the compact result made from it
    // for at most `reachable` groups (a group without a part is never matched).
    static u64 peak_bytes(u64 groups, u64 reachable, u64 columns);

    u64 columns() const noexcept { return n_groups == 0 ? 0 : sums.size() / n_groups; }

    // One match with `group` (< n_groups) of a row whose value in column j is values[j], read
    // only when valid[j] is non-zero; both hold columns() entries.
    void add(u64 group, std::span<const double> values, std::span<const std::uint8_t> valid) noexcept {
        ++counts[group];
        for (std::size_t j = 0; j < values.size(); ++j) {
            if (valid[j] == 0) continue;
            const std::size_t at = j * n_groups + group;
            sums[at] += values[j];
            ++valid_counts[at];
        }
    }

    // `a` with `b` added element-wise over their common length; `b` is released.
    static GroupedAgg merge(GroupedAgg a, GroupedAgg b) noexcept;

    // The groups with a non-zero count, ascending, with their figures; releases the state.
    CompactAgg compact() &&;
};

}  // namespace vardelin
