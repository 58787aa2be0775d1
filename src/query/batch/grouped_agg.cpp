#include "query/batch/grouped_agg.hpp"

#include <algorithm>
#include <utility>

#include "core/error.hpp"
#include "core/memory.hpp"

namespace vardelin {

void AggColumns::require_rows(u64 rows) const {
    if (validity.size() != values.size()) throw InternalError("aggregate columns: value and validity counts differ");
    for (std::size_t j = 0; j < values.size(); ++j) {
        if (values[j].size() < rows || validity[j].size() < rows) {
            throw InternalError("aggregate columns: a column is shorter than the query");
        }
    }
}

u64 GroupedAgg::state_bytes(u64 groups, u64 columns) {
    return checked_mul(groups, checked_add(checked_mul(columns, 16), 8));
}

u64 GroupedAgg::peak_bytes(u64 groups, u64 reachable, u64 columns) {
    const u64 kept_bytes = checked_add(sizeof(u32) + sizeof(u64), checked_mul(columns, sizeof(double) + sizeof(u64)));
    return checked_add(state_bytes(groups, columns), checked_mul(std::min(groups, reachable), kept_bytes));
}

GroupedAgg::GroupedAgg(u64 groups, u64 columns) : n_groups(groups) {
    ensure_allocatable(state_bytes(groups, columns));
    const u64 cells = checked_mul(groups, columns);
    counts.assign(groups, 0);
    sums.assign(cells, 0.0);
    valid_counts.assign(cells, 0);
}

GroupedAgg GroupedAgg::merge(GroupedAgg a, GroupedAgg b) noexcept {
    const std::size_t nc = std::min(a.counts.size(), b.counts.size());
    for (std::size_t i = 0; i < nc; ++i) a.counts[i] += b.counts[i];
    const std::size_t ns = std::min(a.sums.size(), b.sums.size());
    for (std::size_t i = 0; i < ns; ++i) a.sums[i] = a.sums[i] + b.sums[i];
    const std::size_t nv = std::min(a.valid_counts.size(), b.valid_counts.size());
    for (std::size_t i = 0; i < nv; ++i) a.valid_counts[i] += b.valid_counts[i];
    return a;
}

CompactAgg GroupedAgg::compact() && {
    CompactAgg out;
    const u64 groups = std::min<u64>(n_groups, counts.size());
    const u64 cols = columns();
    for (u64 g = 0; g < groups; ++g) {
        if (counts[g] == 0) continue;
        // Group ids come from 32-bit polygon ids; a larger one would be cut silently.
        if (g > kU32Max) throw InternalError("aggregate state: group id beyond 32 bits");
        out.ids.push_back(static_cast<u32>(g));
        out.counts.push_back(counts[g]);
    }
    const std::size_t kept = out.ids.size();
    out.sums.reserve(checked_mul(cols, kept));
    out.valid_counts.reserve(checked_mul(cols, kept));
    for (u64 j = 0; j < cols; ++j) {
        const std::size_t base = j * n_groups;
        for (const u32 g : out.ids) {
            out.sums.push_back(sums[base + g]);
            out.valid_counts.push_back(valid_counts[base + g]);
        }
    }
    *this = GroupedAgg();
    return out;
}

}  // namespace vardelin
