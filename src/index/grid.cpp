#include "index/grid.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/memory.hpp"
#include "core/parallel.hpp"
#include "stats/collector.hpp"

namespace vardelin {

static_assert(SpatialIndex<UniformGrid>);

namespace {

// floor(f) clamped to the cells; a NaN quotient (NaN coordinate) lands in cell 0.
inline std::size_t clamp_cell(double f, std::size_t cells) noexcept {
    const double c = std::floor(f);
    if (!(c > 0.0)) return 0;
    return c >= static_cast<double>(cells - 1) ? cells - 1 : static_cast<std::size_t>(c);
}

// Each side grows until it holds about one point per cell; a flat or NaN extent gets unit cells.
// Ids per chunk of the parallel counting sort; the result does not depend on it.
constexpr std::size_t kChunk = std::size_t{1} << 16;

inline double cell_size(double lo, double hi, std::size_t side) noexcept {
    return hi > lo ? (hi - lo) / static_cast<double>(side) : 1.0;
}

// Bounds that hold every coordinate of the points placed in an inner cell of one axis, for
// the disc search to accept a cell without loading its coordinates. Why they hold: a point in
// inner cell c (never the first or last, where clamp_cell puts NaN, infinities and everything
// beyond the extent) has c <= f < c + 1 for f = fl(fl(v - origin) / size). With u = 2^-53 and
// every operand and result normal (size >= 2^-960, magnitudes <= 2^1000; a subtraction whose
// result is subnormal is exact), undoing the two roundings gives
// v - origin in [c * size / (1 + u)^2, (c + 1) * size / (1 - u)^2], and computing
// origin + c * size here errs by at most 2u (|origin| + cells * size) more: the margin
// 2^-40 (|origin| + cells * size) covers both with room to spare, also after the rounding of
// the subtraction or addition that applies it. Each bound is a chain of rounded operations that
// never decrease as c grows, so the bounds of the cells between two cells lie between theirs.
struct InnerCellBounds {
    double origin, size, margin;
    std::size_t cells;

    InnerCellBounds(double first_edge, double cell_size, std::size_t count) noexcept
        : origin(first_edge), size(cell_size),
          margin(0x1p-40 * (std::fabs(first_edge) + static_cast<double>(count) * cell_size)), cells(count) {}

    bool usable() const noexcept {
        return cells >= 3 && std::fabs(origin) <= 0x1p1000 && size >= 0x1p-960 &&
               static_cast<double>(cells) * size <= 0x1p1000;
    }
    double low(std::size_t c) const noexcept { return (origin + static_cast<double>(c) * size) - margin; }
    double high(std::size_t c) const noexcept { return (origin + static_cast<double>(c + 1) * size) + margin; }
};

// The larger of the squared distances from `centre` to the two bounds of a cell, as the disc
// test computes them: rounding never decreases as a difference grows, so no point between the
// bounds computes a larger one. NaN (a NaN centre) is kept, to fail the test.
inline double far_square(double lo, double hi, double centre) noexcept {
    const double a = lo - centre, b = hi - centre;
    const double a2 = a * a, b2 = b * b;
    return a2 >= b2 ? a2 : (b2 > a2 ? b2 : std::numeric_limits<double>::quiet_NaN());
}

// Appends what write(dst) writes and counts (at most `candidates` ids): up to a few hundred go
// to the stack first, so that the result is allocated once at its final size, and not at all
// when nothing passes.
template <class Write>
void append_kept(std::size_t candidates, std::vector<u64>& out, Write&& write) {
    constexpr std::size_t kLocal = 256;
    const std::size_t base = out.size();
    if (candidates > kLocal) {
        out.resize(base + candidates);
        out.resize(base + write(out.data() + base));
        return;
    }
    u64 local[kLocal];
    const std::size_t kept = write(local);
    out.insert(out.end(), local, local + kept);
}

}  // namespace

UniformGrid UniformGrid::over_points(SharedArray<double> xs, SharedArray<double> ys) {
    UniformGrid g;
    if (!xs || !ys) xs = ys = make_shared_array(Buffer<double>());
    const std::span<const double> x = view(xs), y = view(ys);
    const PointSpans points(x, y);
    const std::size_t n = points.size();
    const Box ext = compute_extent(points);
    const double side_f = std::fmax(1.0, std::ceil(std::sqrt(static_cast<double>(n))));
    const std::size_t side = static_cast<std::size_t>(side_f);
    const std::size_t cells = static_cast<std::size_t>(checked_mul(side, side));
    g.min_x_ = ext.min_x, g.min_y_ = ext.min_y;
    g.cell_w_ = cell_size(ext.min_x, ext.max_x, side);
    g.cell_h_ = cell_size(ext.min_y, ext.max_y, side);
    g.nx_ = g.ny_ = side;

    // side <= 65536 because n < 2^32, so cy * side + cx stays below 2^32 and a column fits in
    // 16 bits. Cells are computed again where needed rather than stored: at 10 M points a
    // stored copy costs more in fresh pages than the two divisions it saves.
    const auto column = [&](std::size_t i) { return clamp_cell((x[i] - g.min_x_) / g.cell_w_, side); };
    const auto row = [&](std::size_t i) { return clamp_cell((y[i] - g.min_y_) / g.cell_h_, side); };
    const std::size_t chunks = chunk_count(n, kChunk);
    std::vector<u32> row_count(checked_mul(chunks, side), 0);
    parallel_blocks(chunks, 1, [&](std::size_t first, std::size_t last) {
        for (std::size_t c = first; c != last; ++c) {
            u32* rows = row_count.data() + c * side;
            for (std::size_t i = c * kChunk; i != std::min(n, (c + 1) * kChunk); ++i) ++rows[row(i)];
        }
    });

    // A stable counting sort by cell in two stable passes, each parallel: ids go to their row
    // (each chunk of consecutive ids writing at the places its count reserved, so ids stay
    // ascending within a row), then each row is sorted by column on its own. This keeps the
    // random writes within a row's few kilobytes instead of across the whole array, and gives
    // exactly the order of one sequential pass over the ids, whatever the thread count.
    std::vector<u32> row_start(side + 1, 0);
    {
        u32 sum = 0;
        for (std::size_t r = 0; r < side; ++r) {
            row_start[r] = sum;
            for (std::size_t c = 0; c < chunks; ++c) {
                const u32 count = row_count[c * side + r];
                row_count[c * side + r] = sum;
                sum += count;
            }
        }
        row_start[side] = sum;
    }
    g.cell_items_.reserve(n);
    g.cell_items_.resize(n);
    Buffer<std::uint16_t> row_column;
    row_column.resize(n);
    parallel_blocks(chunks, 1, [&](std::size_t first, std::size_t last) {
        for (std::size_t c = first; c != last; ++c) {
            u32* cursor = row_count.data() + c * side;
            for (std::size_t i = c * kChunk; i != std::min(n, (c + 1) * kChunk); ++i) {
                const u32 at = cursor[row(i)]++;
                g.cell_items_[at] = static_cast<u32>(i);
                row_column[at] = static_cast<std::uint16_t>(column(i));
            }
        }
    });

    g.cell_start_.reserve(cells + 1);
    g.cell_start_.resize(cells + 1);
    parallel_blocks(side, 16, [&](std::size_t first, std::size_t last) {
        std::vector<u32> cursor(side);
        std::vector<u32> ids;
        for (std::size_t r = first; r != last; ++r) {
            const u32 begin = row_start[r], end = row_start[r + 1];
            const std::size_t row_first_cell = r * side;
            std::fill(cursor.begin(), cursor.end(), 0);
            for (u32 j = begin; j != end; ++j) ++cursor[row_column[j]];
            u32 sum = begin;
            for (std::size_t col = 0; col < side; ++col) {
                const u32 count = cursor[col];
                g.cell_start_[row_first_cell + col] = sum;
                cursor[col] = sum;
                sum += count;
            }
            ids.assign(g.cell_items_.begin() + begin, g.cell_items_.begin() + end);
            for (u32 j = begin; j != end; ++j) g.cell_items_[cursor[row_column[j]]++] = ids[j - begin];
        }
    });
    g.cell_start_[cells] = static_cast<u32>(n);
    g.xs_ = std::move(xs);
    g.ys_ = std::move(ys);
    return g;
}

std::size_t UniformGrid::request_rows(const Box& q) const {
    if (has_nan(q)) return 0;  // no point can pass a comparison with NaN
    std::size_t candidates = 0;
    for_each_row_run(q, [&](u32 begin, u32 end) {
        candidates += end - begin;
        request_line(cell_items_.data() + begin);
    });
    return candidates;
}

void UniformGrid::range(const Box& q, std::vector<u64>& out) const {
    const std::size_t candidates = request_rows(q);
    if (candidates == 0) return;
    const double *xs = xs_->data(), *ys = ys_->data();
    const u32* items = cell_items_.data();
    // The coordinates still to be tested are scattered over the arrays: all their lines are
    // requested first, so the misses overlap instead of waiting one by one in the scan.
    scan_box(q, [&](u32 begin, u32 end, bool x_inside, bool y_inside) {
        if (x_inside && y_inside) return;
        for (u32 i = begin; i < end; ++i) {
            if (!x_inside) request_line(xs + items[i]);
            if (!y_inside) request_line(ys + items[i]);
        }
    });
    const auto x_in = [&](u32 id) { return std::size_t{xs[id] >= q.min_x} & std::size_t{q.max_x >= xs[id]}; };
    const auto y_in = [&](u32 id) { return std::size_t{ys[id] >= q.min_y} & std::size_t{q.max_y >= ys[id]}; };
    append_kept(candidates, out, [&](u64* dst) {
        std::size_t kept = 0;
        const auto keep_if = [&](u32 begin, u32 end, const auto& pass) {
            for (u32 i = begin; i < end; ++i) {
                dst[kept] = items[i];
                kept += pass(items[i]);
            }
        };
        scan_box(q, [&](u32 begin, u32 end, bool x_inside, bool y_inside) {
            if (x_inside && y_inside) keep_if(begin, end, [](u32) { return std::size_t{1}; });
            else if (x_inside) keep_if(begin, end, y_in);
            else if (y_inside) keep_if(begin, end, x_in);
            else keep_if(begin, end, [&](u32 id) { return x_in(id) & y_in(id); });
        });
        return kept;
    });
}

// Only the cells of a row between two accepted ones are taken without a test (see
// InnerCellBounds): a guess from the half chord, narrowed until both ends pass, finds them with
// a few tests per row. The limit loses a relative 2^-30 on top, so that no accepted point sits
// where the last bit decides. The shortcut needs a bound the squared form holds: r^2 of a
// radius of 1e200 is +inf and would accept cells of points farther than r, and one that
// underflows would accept cells whose squares rounded to zero. Inner cells hold no point at
// infinity (clamp_cell puts those in the first or last column or row).
std::size_t UniformGrid::disc_rows(const Box& q, const Disc& disc, const CellSpan& span, DiscRow* out) const {
    const InnerCellBounds columns(min_x_, cell_w_, nx_), rows(min_y_, cell_h_, ny_);
    const double bound = disc.r2 * (1.0 - 0x1p-30);
    const bool usable = columns.usable() && rows.usable() && squared_form_holds(bound);
    const std::size_t first = std::max<std::size_t>(span.x0, 1), last = std::min(span.x1, nx_ - 2);
    std::size_t candidates = 0;
    for (std::size_t cy = span.y0; cy <= span.y1; ++cy) {
        std::size_t a = 1, b = 0;
        if (usable && cy >= 1 && cy + 2 <= ny_ && first <= last) {
            const double y_lo = rows.low(cy), y_hi = rows.high(cy);
            const double dy2 = far_square(y_lo, y_hi, disc.cy);
            if (y_lo >= q.min_y && q.max_y >= y_hi && dy2 <= bound) {
                const auto accepted = [&](std::size_t c) {
                    const double x_lo = columns.low(c), x_hi = columns.high(c);
                    return x_lo >= q.min_x && q.max_x >= x_hi && far_square(x_lo, x_hi, disc.cx) + dy2 <= bound;
                };
                const double half = std::sqrt(bound - dy2);
                a = std::max(first, saturating_cast<std::size_t>(std::ceil((disc.cx - half - min_x_) / cell_w_)));
                b = std::min(last, saturating_cast<std::size_t>(std::floor((disc.cx + half - min_x_) / cell_w_) - 1.0));
                while (a <= b && !accepted(a)) ++a;
                while (b > a && !accepted(b)) --b;
            }
        }
        const u32* start = cell_start_.data() + cy * nx_;
        DiscRow& row = *out++;
        row.begin = start[span.x0];
        row.end = start[span.x1 + 1];
        row.inside_begin = row.inside_end = row.end;
        if (a <= b) row.inside_begin = start[a], row.inside_end = start[b + 1];
        candidates += row.end - row.begin;
        // The row's ids are read next, to find the coordinates to request.
        for (u32 i = row.begin; i < row.end; i += 16) request_line(cell_items_.data() + i);
    }
    return candidates;
}

void UniformGrid::disc_range(const Box& q, const Disc& disc, std::vector<u64>& out) const {
    const CellSpan span = cells_under(q);
    if (span.empty()) return;
    constexpr std::size_t kLocalRows = 64;
    const std::size_t row_count = span.y1 - span.y0 + 1;
    DiscRow local[kLocalRows];
    std::vector<DiscRow> more(row_count > kLocalRows ? row_count : 0);
    DiscRow* const rows = row_count > kLocalRows ? more.data() : local;
    // Each row's run is read where the row's cells are worked out, and the loop that requests
    // its ids waits for it: the rows' starts are all requested first, so those waits overlap.
    for (std::size_t cy = span.y0; cy <= span.y1; ++cy) {
        request_line(cell_start_.data() + cy * nx_ + span.x0);
        request_line(cell_start_.data() + cy * nx_ + span.x1 + 1);
    }
    const std::size_t candidates = disc_rows(q, disc, span, rows);
    if (candidates == 0) return;
    const double *xs = xs_->data(), *ys = ys_->data();
    const u32* items = cell_items_.data();
    // The coordinates to be tested are scattered over the arrays: all their lines are requested
    // before the scan, so that the misses overlap.
    const auto request = [&](u32 begin, u32 end) {
        for (u32 i = begin; i < end; ++i) {
            request_line(xs + items[i]);
            request_line(ys + items[i]);
        }
    };
    for (std::size_t r = 0; r < row_count; ++r) {
        request(rows[r].begin, rows[r].inside_begin);
        request(rows[r].inside_end, rows[r].end);
    }
    // The count is a local (dst could alias a captured one) and the tests are combined without
    // a branch: a branch on a coordinate still on its way would stall the loads behind it and
    // lose the overlap of the misses.
    disc.over(q, [&](const auto& holds) {
        append_kept(candidates, out, [&](u64* dst) {
            std::size_t k = 0;
            const auto test = [&](u32 begin, u32 end) {
                for (u32 i = begin; i < end; ++i) {
                    const u32 id = items[i];
                    const double x = xs[id], y = ys[id];
                    dst[k] = id;
                    k += std::size_t{x >= q.min_x} & std::size_t{q.max_x >= x} & std::size_t{y >= q.min_y} &
                         std::size_t{q.max_y >= y} & std::size_t{holds(x, y)};
                }
            };
            for (std::size_t r = 0; r < row_count; ++r) {
                test(rows[r].begin, rows[r].inside_begin);
                for (u32 i = rows[r].inside_begin; i < rows[r].inside_end; ++i) dst[k++] = items[i];
                test(rows[r].inside_end, rows[r].end);
            }
            return k;
        });
    });
}

void UniformGrid::point_range(const Box& q, std::vector<PointHit>& out) const {
    const std::size_t candidates = request_rows(q);
    if (candidates == 0) return;
    const double *xs = xs_->data(), *ys = ys_->data();
    const u32* items = cell_items_.data();
    // The same runs as range scans, in the same order; every hit carries both coordinates, so
    // all of them are requested first.
    scan_box(q, [&](u32 begin, u32 end, bool, bool) {
        for (u32 i = begin; i < end; ++i) {
            request_line(xs + items[i]);
            request_line(ys + items[i]);
        }
    });
    const std::size_t base = out.size();
    out.resize(base + candidates);
    PointHit* dst = out.data() + base;
    std::size_t kept = 0;
    scan_box(q, [&](u32 begin, u32 end, bool, bool) {
        for (u32 i = begin; i < end; ++i) {
            const u32 id = items[i];
            const double x = xs[id], y = ys[id];
            dst[kept] = PointHit{id, x, y};
            kept += std::size_t{point_in_box(x, y, q)};
        }
    });
    out.resize(base + kept);
}

void UniformGrid::nearest(double x, double y, u64 k, std::vector<Neighbor>& out) const {
    const std::size_t n = size();
    if (n == 0 || k == 0 || nan_query(x, y)) return;
    const std::size_t want = static_cast<std::size_t>(std::min<u64>(k, n));
    const double *xs = xs_->data(), *ys = ys_->data();
    const i64 nx = static_cast<i64>(nx_), ny = static_cast<i64>(ny_);
    const i64 qx = static_cast<i64>(clamp_cell((x - min_x_) / cell_w_, nx_));
    const i64 qy = static_cast<i64>(clamp_cell((y - min_y_) / cell_h_, ny_));
    const i64 ring_limit = std::max(nx, ny) + 1;
    const std::size_t base = out.size();

    const auto gather = [&](i64 cx, i64 cy) {
        const std::size_t c = static_cast<std::size_t>(cy * nx + cx);
        for (u32 i = cell_start_[c]; i < cell_start_[c + 1]; ++i) {
            const u32 id = cell_items_[i];
            out.push_back(Neighbor{id, point_dist2(xs[id], ys[id], x, y)});
        }
    };

    for (i64 r = 0;; ++r) {
        const i64 left = qx - r, right = qx + r, bottom = qy - r, top = qy + r;
        for (i64 cy = std::max<i64>(bottom, 0); cy <= std::min(top, ny - 1); ++cy) {
            if (r == 0 || cy == bottom || cy == top) {
                for (i64 cx = std::max<i64>(left, 0); cx <= std::min(right, nx - 1); ++cx) gather(cx, cy);
            } else {
                if (left >= 0) gather(left, cy);
                if (right <= nx - 1) gather(right, cy);
            }
        }
        if (out.size() - base < want) {
            if (r >= ring_limit) break;
            continue;
        }
        if (left <= 0 && bottom <= 0 && right >= nx - 1 && top >= ny - 1) break;
        // Squared distance from the query to the nearest cell not yet visited.
        double beyond = kInfinity;
        const auto side_gap = [&](double gap) { beyond = std::fmin(beyond, std::fmax(gap, 0.0) * std::fmax(gap, 0.0)); };
        if (left > 0) side_gap(x - (min_x_ + static_cast<double>(left) * cell_w_));
        if (right < nx - 1) side_gap(min_x_ + static_cast<double>(right + 1) * cell_w_ - x);
        if (bottom > 0) side_gap(y - (min_y_ + static_cast<double>(bottom) * cell_h_));
        if (top < ny - 1) side_gap(min_y_ + static_cast<double>(top + 1) * cell_h_ - y);
        const auto kth = out.begin() + static_cast<std::ptrdiff_t>(base + want - 1);
        std::nth_element(out.begin() + static_cast<std::ptrdiff_t>(base), kth, out.end(),
                         [](const Neighbor& a, const Neighbor& b) { return nan_last_less(a.dist2, b.dist2); });
        if (r >= ring_limit || beyond > kth->dist2) break;
    }
    keep_nearest(out, base, want);
}

}  // namespace vardelin
