#include "query/geometry/segment_search.hpp"

#include <algorithm>
#include <cstddef>


namespace vardelin {

namespace {

// Above this many pairs sorting by x pays for itself.
constexpr std::size_t kDirectPairs = 1024;

bool boxes_meet(const Segment& p, const Segment& q) noexcept {
    return p.min_x <= q.max_x && q.min_x <= p.max_x && p.min_y <= q.max_y && q.min_y <= p.max_y;
}

template <class Orient>
bool candidate_meets(const Segment& p, const Segment& q, const Orient& orient) noexcept {
    return !(p.hole && q.hole) && boxes_meet(p, q) && segments_meet(p, q, orient);
}

template <class Orient>
bool any_meet_directly(const std::vector<Segment>& a, const std::vector<Segment>& b, const Orient& orient) noexcept {
    for (const Segment& p : a) {
        for (const Segment& q : b) {
            if (candidate_meets(p, q, orient)) return true;
        }
    }
    return false;
}

// Tests s against the segments still open at x = s.min_x and closes those that end before it.
template <class Orient>
bool meets_open(const Segment& s, std::vector<const Segment*>& open, const Orient& orient) noexcept {
    std::size_t kept = 0;
    for (const Segment* t : open) {
        if (t->max_x < s.min_x) continue;
        open[kept++] = t;
        if (candidate_meets(s, *t, orient)) return true;
    }
    open.resize(kept);
    return false;
}

// Segments enter in order of min_x; each one is tested against the other side's segments whose
// x interval still reaches it. Every pair with overlapping x intervals is met once, from
// whichever of the two enters later.
template <class Orient>
bool any_meet_sweep(std::vector<Segment>& a, std::vector<Segment>& b, const Orient& orient) {
    const auto by_min_x = [](const Segment& p, const Segment& q) { return p.min_x < q.min_x; };
    std::sort(a.begin(), a.end(), by_min_x);
    std::sort(b.begin(), b.end(), by_min_x);
    thread_local std::vector<const Segment*> open_a, open_b;
    open_a.clear();
    open_b.clear();
    std::size_t ia = 0, ib = 0;
    while (ia < a.size() || ib < b.size()) {
        if (ib == b.size() || (ia < a.size() && a[ia].min_x <= b[ib].min_x)) {
            const Segment& s = a[ia++];
            if (meets_open(s, open_b, orient)) return true;
            open_a.push_back(&s);
        } else {
            const Segment& s = b[ib++];
            if (meets_open(s, open_a, orient)) return true;
            open_b.push_back(&s);
        }
    }
    return false;
}

}  // namespace

namespace {

template <class Orient>
bool any_meet(std::vector<Segment>& a, std::vector<Segment>& b, const Orient& orient) {
    if (a.empty() || b.empty()) return false;
    if (a.size() * b.size() <= kDirectPairs) return any_meet_directly(a, b, orient);
    return any_meet_sweep(a, b, orient);
}

}  // namespace

bool any_segments_meet(std::vector<Segment>& a, std::vector<Segment>& b, const Orienter& orient) {
    if (orient.in_window) return any_meet(a, b, WindowOrientation{});
    return any_meet(a, b, orient);
}

}  // namespace vardelin
