#include "query/hits.hpp"

#include <algorithm>
#include <utility>

#include "core/radix_sort.hpp"

namespace vardelin {

HitList sorted_intersect(HitList a, HitList b) {
    HitList out;
    if (a.empty() || b.empty()) return out;
    out.reserve(std::min(a.size(), b.size()));
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i] == b[j]) {
            out.push_back(a[i]);
            ++i;
            ++j;
        } else if (a[i] < b[j]) {
            ++i;
        } else {
            ++j;
        }
    }
    return out;
}

HitList intersect_hits(std::vector<HitList> lists) {
    if (lists.empty()) return {};
    // Shortest first: the running result never grows, so every merge is bounded by it and an
    // empty list ends the work before any longer list is sorted.
    std::stable_sort(lists.begin(), lists.end(),
                     [](const HitList& x, const HitList& y) { return x.size() < y.size(); });
    HitList running = std::move(lists.front());
    sort_ids(running);
    for (std::size_t l = 1; l < lists.size(); ++l) {
        if (running.empty()) break;
        sort_ids(lists[l]);
        running = sorted_intersect(std::move(running), std::move(lists[l]));
    }
    return running;
}

}  // namespace vardelin
