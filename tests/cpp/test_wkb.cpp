#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <tbb/task_arena.h>

#include "core/error.hpp"
#include "wkb/column.hpp"
#include "wkb/reader.hpp"

using namespace vardelin;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Ring = std::vector<std::pair<double, double>>;
using Polygon = std::vector<Ring>;

// An independent WKB writer: the byte-order byte is any value, and only 1 means little-endian.
struct Writer {
    Bytes bytes;

    template <class T>
    void put(T value, bool little) {
        const auto v = std::bit_cast<std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>>(value);
        for (std::size_t k = 0; k < sizeof(T); ++k) {
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * (little ? k : sizeof(T) - 1 - k))));
        }
    }
    void word(std::uint32_t v, bool little) { put(v, little); }
    void byte(std::uint8_t b) { bytes.push_back(b); }
    void header(std::uint8_t order, std::uint32_t type) {
        byte(order);
        word(type, order == 1);
    }
    void polygon(std::uint8_t order, const Polygon& p) {
        header(order, 3);
        const bool little = order == 1;
        word(static_cast<std::uint32_t>(p.size()), little);
        for (const Ring& r : p) {
            word(static_cast<std::uint32_t>(r.size()), little);
            for (const auto& [x, y] : r) put(x, little), put(y, little);
        }
    }
};

struct Geometry {
    bool multi = false;
    std::vector<Polygon> members;
};

struct Expected {
    std::vector<double> xs, ys;
    std::vector<u64> ring_offsets{0}, poly_offsets{0};
    std::vector<u32> part_poly;
    bool multi = false;
};

std::uint8_t random_order(std::mt19937_64& rng) {
    static const std::uint8_t orders[] = {0, 1, 1, 2, 255};
    return orders[rng() % 5];
}

Bytes encode(const Geometry& g, std::mt19937_64& rng) {
    Writer w;
    if (!g.multi) {
        w.polygon(random_order(rng), g.members.front());
        return w.bytes;
    }
    const std::uint8_t order = random_order(rng);
    w.header(order, 6);
    w.word(static_cast<std::uint32_t>(g.members.size()), order == 1);
    for (const Polygon& p : g.members) w.polygon(random_order(rng), p);
    return w.bytes;
}

std::vector<Geometry> random_geometries(std::size_t n, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> coord(-1e3, 1e3);
    std::vector<Geometry> out(n);
    for (Geometry& g : out) {
        g.multi = rng() % 3 == 0;
        const std::size_t members = g.multi ? rng() % 4 : 1;
        for (std::size_t m = 0; m < members; ++m) {
            Polygon p(rng() % 4);
            for (Ring& r : p) {
                r.resize(rng() % 7);
                for (auto& pt : r) pt = {coord(rng), rng() % 50 == 0 ? std::numeric_limits<double>::quiet_NaN() : coord(rng)};
            }
            g.members.push_back(p);
        }
    }
    return out;
}

Expected expected_layout(const std::vector<Geometry>& geoms) {
    Expected e;
    for (std::size_t i = 0; i < geoms.size(); ++i) {
        if (geoms[i].members.size() != 1) e.multi = true;
        for (const Polygon& p : geoms[i].members) {
            for (const Ring& r : p) {
                for (const auto& [x, y] : r) {
                    e.xs.push_back(x);
                    e.ys.push_back(y);
                }
                e.ring_offsets.push_back(e.xs.size());
            }
            e.poly_offsets.push_back(e.ring_offsets.size() - 1);
            e.part_poly.push_back(static_cast<u32>(i));
        }
    }
    return e;
}

// Bit-exact, so that NaN coordinates compare equal to themselves.
bool same_bits(std::span<const double> a, std::span<const double> b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

void expect_layout(const ParsedPolygons& got, const Expected& want, std::size_t geometries) {
    EXPECT_TRUE(same_bits(got.xs, want.xs));
    EXPECT_TRUE(same_bits(got.ys, want.ys));
    EXPECT_EQ(got.ring_offsets, want.ring_offsets);
    EXPECT_EQ(got.poly_offsets, want.poly_offsets);
    EXPECT_EQ(got.part_poly.has_value(), want.multi);
    if (got.part_poly && want.multi) {
        EXPECT_EQ(*got.part_poly, want.part_poly);
    }
    EXPECT_EQ(got.logical_count, geometries);
}

struct Column {
    Bytes data;
    std::vector<i64> offsets{0};
    void add(const Bytes& blob) {
        data.insert(data.end(), blob.begin(), blob.end());
        offsets.push_back(static_cast<i64>(data.size()));
    }
};

Bytes square() {
    Writer w;
    w.polygon(1, {{{0, 0}, {1, 0}, {1, 1}, {0, 0}}});
    return w.bytes;
}

}  // namespace

// Against an independent writer; the decode is chunked over the pool, so every pool size must
// give the same layout, also when the geometry count crosses a chunk border.
TEST(WkbColumn, RandomColumnsDecodeToTheirLayoutInEveryByteOrderAndPoolSize) {
    std::mt19937_64 rng(7);
    for (std::size_t n : {1u, 5u, 255u, 256u, 257u, 3000u}) {
        const auto geoms = random_geometries(n, rng);
        Column col;
        for (const Geometry& g : geoms) col.add(encode(g, rng));
        const Expected want = expected_layout(geoms);
        expect_layout(parse_polygons(col.data, col.offsets), want, n);
        for (int threads : {1, 2, 3, 8}) {
            tbb::task_arena arena(threads);
            arena.execute([&] { expect_layout(parse_polygons(col.data, col.offsets), want, n); });
        }
    }
}

TEST(WkbReader, FillRefusesToWritePastItsWindow) {
    const Bytes sq = square();
    std::vector<double> xs(3), ys(3);
    FillWindow window{xs, ys};
    ChunkSmall small;
    WkbReader reader(sq);
    u64 parts = 0;
    const WkbFault f = fill_geometry(reader, 0, window, small, parts);
    EXPECT_EQ(f.message(), "decode coordinate count mismatch");
    EXPECT_EQ(window.cursor, 0u);
}
