#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <string>
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

    void byte(std::uint8_t b) { bytes.push_back(b); }
    void word(std::uint32_t v, bool little) {
        for (int k = 0; k < 4; ++k) {
            const int shift = little ? 8 * k : 8 * (3 - k);
            bytes.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    }
    void number(double d, bool little) {
        std::uint64_t v = 0;
        std::memcpy(&v, &d, 8);
        for (int k = 0; k < 8; ++k) {
            const int shift = little ? 8 * k : 8 * (7 - k);
            bytes.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    }
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
            for (const auto& [x, y] : r) {
                number(x, little);
                number(y, little);
            }
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

std::string decode_error(const Bytes& blob) {
    const std::vector<i64> offsets{0, static_cast<i64>(blob.size())};
    try {
        parse_polygons(blob, offsets);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

Bytes hex(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

Bytes square(std::uint8_t order = 1) {
    Writer w;
    w.polygon(order, {{{0, 0}, {1, 0}, {1, 1}, {0, 0}}});
    return w.bytes;
}

}  // namespace

TEST(WkbColumn, RandomColumnsDecodeToTheirLayoutInEveryByteOrder) {
    std::mt19937_64 rng(7);
    for (std::size_t n : {1u, 5u, 255u, 256u, 257u, 3000u}) {
        const auto geoms = random_geometries(n, rng);
        Column col;
        for (const Geometry& g : geoms) col.add(encode(g, rng));
        expect_layout(parse_polygons(col.data, col.offsets), expected_layout(geoms), n);
    }
}

TEST(WkbColumn, SameOutputOnEveryPoolSize) {
    std::mt19937_64 rng(11);
    for (std::size_t n : {256u, 257u, 1000u}) {
        const auto geoms = random_geometries(n, rng);
        Column col;
        for (const Geometry& g : geoms) col.add(encode(g, rng));
        const Expected want = expected_layout(geoms);
        for (int threads : {1, 2, 3, 8}) {
            tbb::task_arena arena(threads);
            arena.execute([&] { expect_layout(parse_polygons(col.data, col.offsets), want, n); });
        }
    }
}

TEST(WkbReader, EdgeCasesOfOneGeometry) {
    EXPECT_EQ(decode_error({}), "truncated WKB");
    EXPECT_EQ(decode_error(hex({1, 3, 0, 0})), "truncated WKB");
    EXPECT_EQ(decode_error(hex({0, 3, 0, 0, 0})), "unsupported WKB geometry type 50331648");
    EXPECT_EQ(decode_error(hex({1, 0xEB, 3, 0, 0})), "unsupported WKB geometry type 1003");
    EXPECT_EQ(decode_error(hex({1, 1, 0, 0, 0})), "unsupported WKB geometry type 1");
    EXPECT_EQ(decode_error(hex({0, 0, 0, 0, 2})), "unsupported WKB geometry type 2");
    // A ring promising more points than the blob holds.
    Bytes lying = square();
    lying[9] = 5;
    EXPECT_EQ(decode_error(lying), "truncated WKB");
    // A ring count promising more rings than there are.
    Bytes rings = square();
    rings[5] = 2;
    EXPECT_EQ(decode_error(rings), "truncated WKB");
    // Members of the wrong type, in their own byte order.
    Writer nested;
    nested.header(1, 6);
    nested.word(1, true);
    nested.header(0, 6);
    EXPECT_EQ(decode_error(nested.bytes), "MultiPolygon member is not a Polygon");
    Writer polygon_z;
    polygon_z.header(0, 6);
    polygon_z.word(2, false);
    const Bytes first = square();
    polygon_z.bytes.insert(polygon_z.bytes.end(), first.begin(), first.end());
    polygon_z.header(1, 1003);
    EXPECT_EQ(decode_error(polygon_z.bytes), "MultiPolygon member is not a Polygon");
    Writer missing_member;
    missing_member.header(1, 6);
    missing_member.word(2, true);
    const Bytes sq = square();
    missing_member.bytes.insert(missing_member.bytes.end(), sq.begin(), sq.end());
    EXPECT_EQ(decode_error(missing_member.bytes), "truncated WKB");
}

TEST(WkbReader, EmptyPartsRingsAndTrailingBytes) {
    Column col;
    col.add(hex({1, 3, 0, 0, 0, 0, 0, 0, 0}));   // a Polygon without rings: one part, no multi
    col.add(hex({2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0}));  // order byte 2 is big-endian; one empty ring
    Bytes tail = square(0);
    tail.insert(tail.end(), 7, 0xAB);
    col.add(tail);
    const ParsedPolygons p = parse_polygons(col.data, col.offsets);
    EXPECT_EQ(p.ring_offsets, (std::vector<u64>{0, 0, 4}));
    EXPECT_EQ(p.poly_offsets, (std::vector<u64>{0, 0, 1, 2}));
    EXPECT_FALSE(p.part_poly);
    EXPECT_EQ(p.logical_count, 3u);
    EXPECT_EQ(std::vector<double>(p.xs.begin(), p.xs.end()), (std::vector<double>{0, 1, 1, 0}));
}

TEST(WkbReader, MultiPolygonsAndThePartMap) {
    Writer empty_multi;
    empty_multi.header(1, 6);
    empty_multi.word(0, true);
    Writer one_member;
    one_member.header(0, 6);
    one_member.word(1, false);
    const Bytes sq = square(1);
    one_member.bytes.insert(one_member.bytes.end(), sq.begin(), sq.end());

    Column singles;
    singles.add(square());
    singles.add(one_member.bytes);
    EXPECT_FALSE(parse_polygons(singles.data, singles.offsets).part_poly);

    Column with_empty;
    with_empty.add(square());
    with_empty.add(empty_multi.bytes);
    with_empty.add(square(0));
    const ParsedPolygons p = parse_polygons(with_empty.data, with_empty.offsets);
    ASSERT_TRUE(p.part_poly);
    EXPECT_EQ(*p.part_poly, (std::vector<u32>{0, 2}));
    EXPECT_EQ(p.logical_count, 3u);

    Column trailing_empty;  // the last geometry has no parts and still counts
    trailing_empty.add(square());
    trailing_empty.add(empty_multi.bytes);
    const ParsedPolygons t = parse_polygons(trailing_empty.data, trailing_empty.offsets);
    EXPECT_EQ(t.logical_count, 2u);
    EXPECT_EQ(t.part_count(), 1u);
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

TEST(WkbColumn, ContiguousOffsets) {
    const Bytes sq = square();
    auto error_of = [](const Bytes& data, std::vector<i64> offsets) -> std::string {
        try {
            parse_polygons(data, offsets);
        } catch (const Error& e) {
            return e.what();
        }
        return "";
    };
    for (const auto& offsets : {std::vector<i64>{}, std::vector<i64>{0}}) {
        const ParsedPolygons p = parse_polygons(sq, offsets);
        EXPECT_TRUE(p.xs.empty());
        EXPECT_EQ(p.ring_offsets, (std::vector<u64>{0}));
        EXPECT_EQ(p.poly_offsets, (std::vector<u64>{0}));
        EXPECT_FALSE(p.part_poly);
    }
    EXPECT_EQ(error_of(sq, {5, 5}), "truncated WKB");
    Bytes padded = hex({1, 3, 0, 0, 0, 0, 0, 0, 0, 0xAB});  // a 9-byte Polygon and one spare byte
    EXPECT_EQ(error_of(padded, {0, 10}), "");
    EXPECT_EQ(error_of(padded, {0, 10, 5}), "WKB offset out of bounds");
    EXPECT_EQ(error_of(sq, {-1, 5}), "WKB offset out of bounds");
    EXPECT_EQ(error_of(sq, {0, static_cast<i64>(sq.size()) + 1}), "WKB offset out of bounds");
    // The blob's own failure comes before decoding; within a chunk the first geometry decides.
    Bytes two = sq;
    two.insert(two.end(), 3, 0);
    EXPECT_EQ(error_of(two, {0, 3, static_cast<i64>(two.size()), 1000}), "truncated WKB");

    Bytes garbage(100, 0xFF);
    garbage.insert(garbage.end(), sq.begin(), sq.end());
    garbage.insert(garbage.end(), 9, 0xFF);
    const ParsedPolygons p = parse_polygons(garbage, std::vector<i64>{100, 100 + static_cast<i64>(sq.size())});
    EXPECT_EQ(p.xs.size(), 4u);
}

namespace {

Bytes descriptor(std::uint32_t len, const Bytes& inline_or_prefix, std::uint32_t buffer, std::uint32_t offset) {
    Bytes d(16, 0);
    std::memcpy(d.data(), &len, 4);
    if (len <= 12) {
        if (len > 0) std::memcpy(d.data() + 4, inline_or_prefix.data(), len);
    } else {
        std::memcpy(d.data() + 8, &buffer, 4);
        std::memcpy(d.data() + 12, &offset, 4);
    }
    return d;
}

std::string views_error(const Bytes& views, const std::vector<std::span<const std::uint8_t>>& buffers) {
    try {
        parse_polygons_chunked(Views(views, buffers));
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(WkbColumn, BinaryViews) {
    const Bytes empty_polygon = hex({1, 3, 0, 0, 0, 0, 0, 0, 0});                 // 9 bytes, inline
    const Bytes twelve = hex({1, 3, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9});               // 12 bytes, inline
    const Bytes thirteen = hex({0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0});          // 13 bytes, from a buffer
    Bytes buffer(5, 0xEE);
    buffer.insert(buffer.end(), thirteen.begin(), thirteen.end());
    const Bytes sq = square();
    const std::size_t sq_at = buffer.size();
    buffer.insert(buffer.end(), sq.begin(), sq.end());
    const std::vector<std::span<const std::uint8_t>> buffers{buffer};

    Bytes views;
    for (const Bytes& d : {descriptor(9, empty_polygon, 0, 0), descriptor(12, twelve, 0, 0),
                           descriptor(13, {}, 0, 5), descriptor(static_cast<std::uint32_t>(sq.size()), {}, 0,
                                                                static_cast<std::uint32_t>(sq_at))}) {
        views.insert(views.end(), d.begin(), d.end());
    }
    views.insert(views.end(), 8, 0x77);  // a trailing partial descriptor is ignored
    const ParsedPolygons p = parse_polygons_chunked(Views(views, buffers));
    EXPECT_EQ(p.poly_offsets, (std::vector<u64>{0, 0, 0, 1, 2}));
    EXPECT_EQ(p.ring_offsets, (std::vector<u64>{0, 0, 4}));
    EXPECT_EQ(p.logical_count, 4u);

    EXPECT_EQ(views_error(Bytes(15, 0), buffers), "");
    EXPECT_EQ(views_error(descriptor(0, {}, 0, 0), buffers), "truncated WKB");
    EXPECT_EQ(views_error(descriptor(13, {}, 1, 0), buffers), "WKB view names a missing buffer");
    EXPECT_EQ(views_error(descriptor(13, {}, 0, 0), {}), "WKB view names a missing buffer");
    const auto end = static_cast<std::uint32_t>(buffer.size());
    EXPECT_EQ(views_error(descriptor(13, {}, 0, end - 12), buffers), "WKB view offset out of bounds");
    EXPECT_EQ(views_error(descriptor(0xFFFFFFFFu, {}, 0, 0xFFFFFFFFu), buffers), "WKB view offset out of bounds");
    // o + L exactly at the buffer's end is accepted (the square ends the buffer).
    EXPECT_EQ(views_error(descriptor(static_cast<std::uint32_t>(sq.size()), {}, 0,
                                     static_cast<std::uint32_t>(sq_at)),
                          buffers),
              "");
}

TEST(WkbColumn, ViewsNamingTheSameBytesAreEachDecoded) {
    const Bytes sq = square(0);
    const std::vector<std::span<const std::uint8_t>> buffers{sq};
    Bytes views;
    for (int k = 0; k < 1000; ++k) {
        const Bytes d = descriptor(static_cast<std::uint32_t>(sq.size()), {}, 0, 0);
        views.insert(views.end(), d.begin(), d.end());
    }
    const ParsedPolygons p = parse_polygons_chunked(Views(views, buffers));
    EXPECT_EQ(p.xs.size(), 4000u);
    EXPECT_EQ(p.part_count(), 1000u);
    EXPECT_EQ(p.ring_offsets.back(), 4000u);
}
